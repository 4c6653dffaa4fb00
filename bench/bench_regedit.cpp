// kestrova-regedit's import and export of a full-size store, the floor the import is
// measured against, and removing a big subtree.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/StoreGenerator.h"
#include "platform/SqliteStore.h"
#include "regfile/RegParser.h"
#include "store/AssocStore.h"
#include "store/RegistryRules.h"

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

// The rows an import of the file writes, as the store keeps them: read once, outside any
// timing, for the floor below.
struct Rows {
  struct Key {
    int64_t parent;
    std::string fold, name;
    int64_t id;
  };
  struct Value {
    int64_t key;
    std::string fold, name;
    uint32_t type;
    std::string data;
  };
  std::vector<Key> keys;
  std::vector<Value> values;
};

class RowCollector final : public IgnoringSink {
 public:
  explicit RowCollector(Rows& rows) : m_rows(rows) {
    // The store's frame, with the ids every store gives it.
    m_ids = {{Child(1, "SOFTWARE"), 5}, {Child(5, "Classes"), 6}};
  }
  void OpenKey(RootKey root, std::string_view path, uint64_t) override {
    int64_t parent = RootId(root);
    SplitKeyPath(path, m_names);
    for (std::string_view name : m_names) {
      const std::string fold = FoldName(name);
      auto [it, added] = m_ids.try_emplace(std::to_string(parent) + '\\' + fold, m_nextId);
      if (added) m_rows.keys.push_back({parent, fold, std::string(name), m_nextId++});
      parent = it->second;
    }
    m_current = parent;
  }
  void SetValue(std::string_view name, uint32_t type, std::string_view data, uint64_t) override {
    m_rows.values.push_back(
        {m_current, FoldName(name), std::string(name), type, std::string(data)});
  }

 private:
  Rows& m_rows;
  // A key by its parent's id and its folded name, as the store finds it.
  static std::string Child(int64_t parent, std::string_view name) {
    return std::to_string(parent) + '\\' + FoldName(name);
  }
  static int64_t RootId(RootKey root) {
    switch (root) {
      case RootKey::LocalMachine:
        return 1;
      case RootKey::CurrentUser:
        return 2;
      case RootKey::Users:
        return 3;
      case RootKey::CurrentConfig:
        return 4;
      case RootKey::ClassesRoot:
        break;
    }
    return 6;
  }

  std::unordered_map<std::string, int64_t> m_ids;
  std::vector<std::string_view> m_names;
  int64_t m_nextId = 7;
  int64_t m_current = 0;
};

const Rows& RowsOfRegFile() {
  static Rows rows = [] {
    Rows r;
    RowCollector collector(r);
    RegParser parser(collector);
    std::ifstream in(RegFile(), std::ios::binary);
    std::vector<char> chunk(1 << 20);
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0)
      parser.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(in.gcount())));
    parser.Finish();
    return r;
  }();
  return rows;
}

void Check(int rc, sqlite3* db, benchmark::State& state) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
}

// The floor of the import: the same keys and values put into an empty store with the
// store's own schema and connection settings, by bare prepared inserts in one transaction;
// no file is read, no name looked up.
void BM_ImportFloor(benchmark::State& state) {
  const Rows& rows = RowsOfRegFile();
  const std::string empty = BenchStorePath() + ".floor-empty.db";
  const std::string target = BenchStorePath() + ".floor.db";
  RemoveStore(empty);
  OpenSqliteStore(empty);  // an empty store, made by the engine, closed again
  for (auto _ : state) {
    state.PauseTiming();
    RemoveStore(target);
    std::filesystem::copy_file(empty, target);
    state.ResumeTiming();
    sqlite3* db = nullptr;
    Check(sqlite3_open(target.c_str(), &db), db, state);
    for (const char* sql : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL",
                            "PRAGMA cache_size=-16384", "BEGIN IMMEDIATE"})
      Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, state);
    sqlite3_stmt* key = nullptr;
    sqlite3_stmt* value = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO keys(parent, fold, name, id) VALUES (?1, ?2, ?3, ?4)", -1,
                       &key, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO vals(key, fold, name, type, data) VALUES (?1, ?2, ?3, ?4, ?5)",
                       -1, &value, nullptr);
    for (const Rows::Key& k : rows.keys) {
      sqlite3_bind_int64(key, 1, k.parent);
      sqlite3_bind_blob(key, 2, k.fold.data(), static_cast<int>(k.fold.size()), SQLITE_STATIC);
      sqlite3_bind_blob(key, 3, k.name.data(), static_cast<int>(k.name.size()), SQLITE_STATIC);
      sqlite3_bind_int64(key, 4, k.id);
      Check(sqlite3_step(key), db, state);
      sqlite3_reset(key);
    }
    for (const Rows::Value& v : rows.values) {
      sqlite3_bind_int64(value, 1, v.key);
      sqlite3_bind_blob(value, 2, v.fold.data(), static_cast<int>(v.fold.size()), SQLITE_STATIC);
      sqlite3_bind_blob(value, 3, v.name.data(), static_cast<int>(v.name.size()), SQLITE_STATIC);
      sqlite3_bind_int64(value, 4, v.type);
      sqlite3_bind_blob(value, 5, v.data.data(), static_cast<int>(v.data.size()), SQLITE_STATIC);
      Check(sqlite3_step(value), db, state);
      sqlite3_reset(value);
    }
    sqlite3_finalize(key);
    sqlite3_finalize(value);
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, state);
    sqlite3_close(db);
  }
  state.counters["keys"] = static_cast<double>(rows.keys.size());
  state.counters["values"] = static_cast<double>(rows.values.size());
  RemoveStore(target);
  RemoveStore(empty);
}
BENCHMARK(BM_ImportFloor)->Unit(benchmark::kSecond)->Iterations(1);

void BM_ExportWholeStore(benchmark::State& state) {
  EnsureGeneratedStore(BenchStorePath());
  const std::string out = BenchStorePath() + ".export.reg";
  for (auto _ : state) {
    if (Regedit(BenchStorePath(), {"/e", out}).status != 0)
      state.SkipWithError("the export failed");
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
