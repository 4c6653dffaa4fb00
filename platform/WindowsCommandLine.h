#pragma once
// Splitting an argument text into arguments by the Windows command-line rules; no Qt.

#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// The arguments that CommandLineToArgvW finds in `line` when it follows the program name:
// blanks and tabs separate arguments; double quotes group; 2n backslashes before a quote
// give n backslashes and the quote groups, 2n+1 give n backslashes and a literal quote;
// backslashes before anything else stay as they are; inside quotes a run of quotes is
// counted in threes (with the opening one): 3n give n quotes and stay quoted, 3n+1 give n
// quotes and close, 3n+2 give n+1 quotes and close. The text ends at its first NUL byte,
// as a C string would. Bytes are taken as they are, so UTF-8 passes through unchanged.
std::vector<std::string> SplitWindowsCommandLine(std::string_view line);

}  // namespace kestrova
