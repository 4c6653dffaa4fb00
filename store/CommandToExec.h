#pragma once
// A file type's command line, written the Windows way ("%1" for the file, Windows quoting),
// as the Exec value of a desktop entry (field codes, desktop-entry quoting).

#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

struct ExecTranslation {
  // The Exec value as a desktop entry holds it before the key file's own escaping (see
  // DesktopStringValue); empty when the command cannot be expressed.
  std::string exec;
  // Why it cannot be expressed; empty on success.
  std::string problem;
  bool Ok() const { return problem.empty(); }
};

// Splits a command line into its arguments by the Windows rules: the program's name ends
// at the closing quote or the first blank, the rest follows the C runtime's quoting
// (backslashes count only before a quote; "" inside quotes is a literal quote).
std::vector<std::string> SplitWindowsCommand(std::string_view command);

// Translates a stored command. "%1", "%L" and "%V" (the file) become %f, "%*" (the rest of
// the arguments, of which a file type has none) is dropped, a command without a
// placeholder gets the file as its last argument, as the shell hands it. Fails for an
// empty command, a program given as a Windows path or with "=" in its name, the other
// placeholders (%2..%9, %I, %D, %W, %H, %S) and a file placeholder inside an argument that
// needs quoting (field codes must stand outside quotes).
ExecTranslation CommandToExec(std::string_view command);

// One argument quoted as an Exec value wants it: bare when it has none of the reserved
// characters, else in double quotes with `"`, `` ` ``, `$` and `\` escaped. A "%" is
// doubled either way, so it never reads as a field code.
std::string QuoteExecArgument(std::string_view argument);

// A string value as a key file stores it: backslash, newline, tab and carriage return
// escaped, a leading blank as \s.
std::string DesktopStringValue(std::string_view value);

}  // namespace kestrova
