#pragma once
// kestrova-regedit's command line as an object: arguments and streams in, exit status out.

#include <ostream>
#include <string>
#include <vector>

namespace kestrova {

// Runs `kestrova-regedit args...` (args without the program name) against AcquireEngine().
// /e FILE [KEY] exports, /s [--strict] FILE imports; switches may start with / or - in any
// case. Returns 0, 1 (imported with skipped lines) or 2 (usage, file or store failure).
int RunRegedit(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kestrova
