#include "bench/AppBenchMain.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

#include "app/Application.h"

namespace kestrova::bench {

int RunWithApplication(int argc, char** argv, const std::function<void()>& beforeExit) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  KestrovaApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (beforeExit) beforeExit();
  return 0;
}

}  // namespace kestrova::bench
