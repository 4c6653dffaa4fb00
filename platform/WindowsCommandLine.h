#pragma once
// Splitting an argument text into arguments by the Windows command-line rules; no Qt.

#include <functional>
#include <optional>
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

namespace kestrova {

// A whole command line as the shell keeps it ("C:\x\app.exe" /p "%1"): its program name by
// CommandLineToArgvW's rule for the first argument (up to the closing quote when it begins
// with one, else up to the first blank or tab; no backslash rules), and the rest after the
// blanks that follow it.
struct ProgramAndArguments {
  std::string program;
  std::string arguments;
};
ProgramAndArguments SplitProgramName(std::string_view line);

// Expands %NAME% by `lookup`; a name it does not know stays as written, percent signs
// included, as the shell leaves it, and so do "%%" and a lone "%".
std::string ExpandPercentVariables(
    std::string_view text,
    const std::function<std::optional<std::string>(const std::string&)>& lookup);

}  // namespace kestrova
