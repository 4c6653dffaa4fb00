// kestrova-regedit's import and export of a full-size store, and removing a big subtree.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/StoreGenerator.h"
#include "platform/SqliteStore.h"
#include "store/AssocStore.h"

extern char** environ;

namespace kestrova::bench {
namespace {

struct Outcome {
  int status = -1;
  double peakMiB = 0;
};

// Runs kestrova-regedit on `store`; the child's peak resident memory comes from wait4.
Outcome Regedit(const std::string& store, std::vector<std::string> args) {
  args.insert(args.begin(), KESTROVA_REGEDIT_PATH);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings = {"KESTROVA_STORE=" + store};
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("KESTROVA_STORE=", 0) != 0) envStrings.emplace_back(*e);
  }
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return {};
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss / 1024.0};
}

std::string RegFile() {
  const std::string reg = BenchStorePath() + ".reg";
  if (!std::filesystem::exists(reg)) {
    EnsureGeneratedStore(BenchStorePath());
    Regedit(BenchStorePath(), {"/e", reg});
  }
  return reg;
}

void RemoveStore(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
}

void BM_ImportRegFile(benchmark::State& state) {
  const std::string reg = RegFile();
  const std::string target = BenchStorePath() + ".import.db";
  double peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    RemoveStore(target);
    state.ResumeTiming();
    const Outcome outcome = Regedit(target, {"/s", reg});
    if (outcome.status != 0) state.SkipWithError("the import failed");
    peak = std::max(peak, outcome.peakMiB);
  }
  state.counters["peak_MiB"] = peak;
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(reg)) / 1e6;
  RemoveStore(target);
}
BENCHMARK(BM_ImportRegFile)->Unit(benchmark::kSecond)->Iterations(1);

void BM_ExportWholeStore(benchmark::State& state) {
  EnsureGeneratedStore(BenchStorePath());
  const std::string out = BenchStorePath() + ".export.reg";
  for (auto _ : state) {
    if (Regedit(BenchStorePath(), {"/e", out}).status != 0) state.SkipWithError("the export failed");
  }
  std::filesystem::remove(out);
}
BENCHMARK(BM_ExportWholeStore)->Unit(benchmark::kSecond)->Iterations(1);

// A file type with 10,000 keys below it, removed as one subtree.
void BM_RemovePathSubtree(benchmark::State& state) {
  const std::string path = BenchStorePath() + ".remove.db";
  RemoveStore(path);
  UseSqliteStore(path);
  for (auto _ : state) {
    state.PauseTiming();
    {
      auto engine = AcquireEngine();
      EngineTransaction tx(*engine, true);
      const KeyRef top = engine->CreateChild(engine->Root(RootKey::ClassesRoot), "Big.Type");
      for (int i = 0; i < 100; ++i) {
        const KeyRef verb = engine->CreateChild(top, "verb" + std::to_string(i));
        for (int j = 0; j < 99; ++j) {
          const KeyRef k = engine->CreateChild(verb, "sub" + std::to_string(j));
          engine->SetValue(k, "", RegType::Sz, std::string("value\0", 6));
        }
      }
      tx.Commit();
    }
    state.ResumeTiming();
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    if (!store.RemovePath("\\Big.Type")) state.SkipWithError("nothing was removed");
  }
  ReleaseSqliteStoreForThread(path);
  RemoveStore(path);
}
BENCHMARK(BM_RemovePathSubtree)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace kestrova::bench

BENCHMARK_MAIN();
