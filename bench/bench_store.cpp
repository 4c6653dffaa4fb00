// The store's speed on a full-size store: a handler's round trip and the root's listing.

#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench/StoreGenerator.h"
#include "platform/SqliteStore.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova::bench {
namespace {

void Prepare() {
  static bool done = false;
  if (done) return;
  EnsureGeneratedStore(BenchStorePath());
  UseSqliteStore(BenchStorePath());
  done = true;
}

// What a handler does: create a store, choose the root, open a key, read it, release.
void BM_HandlerRoundTrip(benchmark::State& state) {
  Prepare();
  std::vector<std::string> paths;
  for (int i = 0; i < 1000; ++i) paths.push_back(layout::ExtKey(ExtensionName((i * 7919) % 25000)));
  std::size_t n = 0;
  for (auto _ : state) {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    store.OpenPath(paths[n++ % paths.size()], false);
    benchmark::DoNotOptimize(store.GetText(""));
  }
}
BENCHMARK(BM_HandlerRoundTrip);

void BM_ListSubkeysOfRoot(benchmark::State& state) {
  Prepare();
  std::vector<std::string> list;
  for (auto _ : state) {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    store.OpenPath(layout::RootPath, false);
    store.ListSubkeys(list);
    benchmark::DoNotOptimize(list.data());
  }
  state.counters["keys"] = static_cast<double>(list.size());
}
BENCHMARK(BM_ListSubkeysOfRoot)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova::bench

BENCHMARK_MAIN();
