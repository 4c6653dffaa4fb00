// The association check of the full-size store, with the desktop's program lookup and icons.

#include <benchmark/benchmark.h>

#include "bench/StoreGenerator.h"
#include "platform/CheckProbesDesktop.h"
#include "platform/IconSourceFactory.h"
#include "platform/SqliteStore.h"
#include "store/AssociationCheck.h"

namespace kestrova::bench {
namespace {

void BM_CheckAssociations(benchmark::State& state) {
  EnsureGeneratedStore(BenchStorePath());
  auto engine = OpenSqliteStore(BenchStorePath());
  size_t found = 0;
  for (auto _ : state) {
    // Fresh probes each time: nothing the check learnt of programs or files is kept.
    DesktopProgramResolver programs;
    DesktopCheckFiles files(AcquireIconSource());
    found = CheckAssociations(*engine, programs, files, [](double) {}).size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["findings"] = static_cast<double>(found);
}
BENCHMARK(BM_CheckAssociations)->Unit(benchmark::kMillisecond);

// The same walk with probes that find everything in order: the reading alone, no findings.
class AllFound final : public ProgramResolver, public CheckFiles {
 public:
  ProgramState Resolve(const std::string&, std::string*) override { return ProgramState::Found; }
  bool Exists(const std::string&) override { return true; }
  int IconCount(const std::string&) override { return 1; }
};

void BM_CheckAssociationsReading(benchmark::State& state) {
  EnsureGeneratedStore(BenchStorePath());
  auto engine = OpenSqliteStore(BenchStorePath());
  AllFound probes;
  size_t found = 0;
  for (auto _ : state) {
    found = CheckAssociations(*engine, probes, probes, [](double) {}).size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["findings"] = static_cast<double>(found);
}
BENCHMARK(BM_CheckAssociationsReading)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova::bench

BENCHMARK_MAIN();
