#pragma once
// The main() of the benchmarks that open the program's windows.

#include <functional>

namespace kestrova::bench {

// Runs the benchmarks chosen on the command line inside the program's application object,
// offscreen unless QT_QPA_PLATFORM says otherwise. `beforeExit` runs while the application
// still lives: windows kept across benchmarks are closed there.
int RunWithApplication(int argc, char** argv, const std::function<void()>& beforeExit = {});

}  // namespace kestrova::bench
