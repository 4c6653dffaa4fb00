// A desktop entry's Exec line as the store's command: field codes, quoting and escapes by
// the Desktop Entry rules, and commands that the store's launcher splits back into the
// arguments the desktop would pass.

#include "store/ExecToCommand.h"

#include <gtest/gtest.h>

#include "platform/WindowsCommandLine.h"

namespace kestrova {
namespace {

ExecEntry Entry() {
  ExecEntry entry;
  entry.name = "Text Editor";
  entry.icon = "accessories-text-editor";
  entry.desktopFile = "/usr/share/applications/editor.desktop";
  entry.findProgram = [](const std::string& name) {
    return name == "missing" ? std::string() : "/usr/bin/" + name;
  };
  return entry;
}

std::string Command(std::string_view exec) {
  const ExecCommand result = ExecToCommand(exec, Entry());
  EXPECT_TRUE(result.Ok()) << exec << ": " << result.error;
  return result.command;
}

std::string Error(std::string_view exec) {
  const ExecCommand result = ExecToCommand(exec, Entry());
  EXPECT_TRUE(result.command.empty()) << exec;
  return result.error;
}

// The program and arguments the launcher runs for the command, the file being FILE.
std::vector<std::string> Launched(std::string_view exec) {
  const std::string command = Command(exec);
  std::vector<std::string> args = SplitWindowsCommandLine(command);
  for (std::string& arg : args) {
    for (size_t p = arg.find("%1"); p != std::string::npos; p = arg.find("%1", p))
      arg.replace(p, 2, "FILE");
  }
  return args;
}

using Args = std::vector<std::string>;

TEST(ExecToCommand, EveryFileCodeBecomesTheQuotedFile) {
  EXPECT_EQ(Command("gedit %f"), R"("/usr/bin/gedit" "%1")");
  EXPECT_EQ(Command("gedit %F"), R"("/usr/bin/gedit" "%1")");
  EXPECT_EQ(Command("gedit %u"), R"("/usr/bin/gedit" "%1")");
  EXPECT_EQ(Command("gedit %U"), R"("/usr/bin/gedit" "%1")");
  EXPECT_EQ(Command("/opt/viewer/bin/view --new-window %U"),
            R"("/opt/viewer/bin/view" --new-window "%1")");
  // Inside a longer argument %f and %u keep their text around them.
  EXPECT_EQ(Launched("tool --file=%f"), (Args{"/usr/bin/tool", "--file=FILE"}));
  EXPECT_EQ(Launched("tool --url=%u"), (Args{"/usr/bin/tool", "--url=FILE"}));
}

TEST(ExecToCommand, ALineWithoutAFileCodeGetsTheFileAtTheEnd) {
  EXPECT_EQ(Command("xterm"), R"("/usr/bin/xterm" "%1")");
  EXPECT_EQ(Launched("tool -a -b"), (Args{"/usr/bin/tool", "-a", "-b", "FILE"}));
}

TEST(ExecToCommand, IconNameAndLocationCodes) {
  EXPECT_EQ(Launched("tool %i %f"),
            (Args{"/usr/bin/tool", "--icon", "accessories-text-editor", "FILE"}));
  ExecEntry noIcon = Entry();
  noIcon.icon.clear();
  EXPECT_EQ(ExecToCommand("tool %i %f", noIcon).command, R"("/usr/bin/tool" "%1")");
  EXPECT_EQ(Launched("tool --name %c %f"),
            (Args{"/usr/bin/tool", "--name", "Text Editor", "FILE"}));
  EXPECT_EQ(Launched("tool --title=%c:%k %f"),
            (Args{"/usr/bin/tool", "--title=Text Editor:/usr/share/applications/editor.desktop",
                  "FILE"}));
  EXPECT_EQ(Launched("tool -k %k %f"),
            (Args{"/usr/bin/tool", "-k", "/usr/share/applications/editor.desktop", "FILE"}));
}

TEST(ExecToCommand, DeprecatedCodesAreDroppedAndPercentEscapes) {
  EXPECT_EQ(Launched("tool %d %D %n %N %v %m %f"), (Args{"/usr/bin/tool", "FILE"}));
  EXPECT_EQ(Launched("tool -x%m %f"), (Args{"/usr/bin/tool", "-x", "FILE"}));
  EXPECT_EQ(Launched("tool 100%% %f"), (Args{"/usr/bin/tool", "100%", "FILE"}));
  EXPECT_EQ(Launched("tool \"50%%\" %f"), (Args{"/usr/bin/tool", "50%", "FILE"}));
  // A quoted empty argument stays an argument; a dropped code leaves none.
  EXPECT_EQ(Launched("tool \"\" %f"), (Args{"/usr/bin/tool", "", "FILE"}));
}

TEST(ExecToCommand, QuotingAndEscapesFollowTheDesktopRules) {
  // The reference line: a quoted program, a literal %, blanks, backslash and dollar.
  EXPECT_EQ(Launched(R"("/usr/bin/printf" "<%%s>" "two words" "back\\slash" "dollar\$x" %f)"),
            (Args{"/usr/bin/printf", "<%s>", "two words", "back\\slash", "dollar$x", "FILE"}));
  EXPECT_EQ(Launched(R"(tool "say \"hi\"" "\`cmd\`" %f)"),
            (Args{"/usr/bin/tool", "say \"hi\"", "`cmd`", "FILE"}));
  // Before any other character the backslash stays, as GLib keeps it.
  EXPECT_EQ(Launched(R"(tool "a\b" %f)"), (Args{"/usr/bin/tool", "a\\b", "FILE"}));
  // What GLib's parser also accepts: single quotes, backslash outside quotes, tabs.
  EXPECT_EQ(Launched("tool 'a b' c\\ d\t%f"), (Args{"/usr/bin/tool", "a b", "c d", "FILE"}));
  EXPECT_EQ(Launched("tool pre\"mid dle\"post %f"),
            (Args{"/usr/bin/tool", "premid dlepost", "FILE"}));
  // A program path with blanks, and a trailing backslash before the closing quote.
  EXPECT_EQ(Launched(R"("/opt/My Tool/run" "C:\\dir\\" %f)"),
            (Args{"/opt/My Tool/run", "C:\\dir\\", "FILE"}));
}

TEST(ExecToCommand, ProgramsAreFoundOnThePathOnlyWhenNamedBare) {
  EXPECT_EQ(SplitWindowsCommandLine(Command("gedit %f")).front(), "/usr/bin/gedit");
  EXPECT_EQ(SplitWindowsCommandLine(Command("./gedit %f")).front(), "./gedit");
  EXPECT_EQ(SplitWindowsCommandLine(Command("missing %f")).front(), "missing");
  ExecEntry noSearch = Entry();
  noSearch.findProgram = nullptr;
  EXPECT_EQ(ExecToCommand("gedit %f", noSearch).command, R"("gedit" "%1")");
}

TEST(ExecToCommand, ATerminalGoesBeforeTheProgram) {
  ExecEntry inTerminal = Entry();
  inTerminal.terminal = {"/usr/bin/x-terminal-emulator", "-e"};
  EXPECT_EQ(SplitWindowsCommandLine(ExecToCommand("vim %F", inTerminal).command),
            (Args{"/usr/bin/x-terminal-emulator", "-e", "/usr/bin/vim", "%1"}));
}

TEST(ExecToCommand, InvalidLinesSayWhy) {
  EXPECT_EQ(Error(""), "there is no program");
  EXPECT_EQ(Error("   "), "there is no program");
  EXPECT_EQ(Error("\"\" %f"), "there is no program");
  EXPECT_EQ(Error("%f"), "the program is a field code");
  EXPECT_EQ(Error("tool \"open"), "a double quote is not closed");
  EXPECT_EQ(Error("tool 'open"), "a single quote is not closed");
  EXPECT_EQ(Error("tool %"), "the line ends in a lone percent sign");
  EXPECT_EQ(Error("tool %x"), "the field code %x is unknown");
  EXPECT_EQ(Error("tool %1"), "the field code %1 is unknown");
  EXPECT_EQ(Error("tool \"%f\""), "a field code stands inside quotes");
  EXPECT_EQ(Error("tool '%f'"), "a field code stands inside quotes");
  EXPECT_EQ(Error("tool %f %u"), "the line names the file more than once");
  EXPECT_EQ(Error("tool %F %F"), "the line names the file more than once");
  EXPECT_EQ(Error("tool --files=%F"), "%F must stand alone as an argument");
  EXPECT_EQ(Error("tool x%U"), "%U must stand alone as an argument");
  EXPECT_EQ(Error("tool -i%i %f"), "%i must stand alone as an argument");
  // The store's launcher would take these for its own placeholders.
  EXPECT_EQ(Error("tool %%1 %f"), "a percent sign in \"%1\" would read as a placeholder");
  EXPECT_EQ(Error("tool \"%%*\" %f"), "a percent sign in \"%*\" would read as a placeholder");
  EXPECT_EQ(Error("tool %%L %f"), "a percent sign in \"%L\" would read as a placeholder");
}

TEST(ExecToCommand, JoinedArgumentsSplitBackUnchanged) {
  const std::vector<Args> cases = {
      {"/usr/bin/a", "plain", "two words", ""},
      {"/p a t h/x", "q\"uote", "back\\", "back\\\"q", "\\\\server\\share"},
      {"/usr/bin/x", "tab\there", "ünïcödé", "%1"},
  };
  for (const Args& args : cases)
    EXPECT_EQ(SplitWindowsCommandLine(JoinWindowsCommandLine(args)), args);
  EXPECT_EQ(JoinWindowsCommandLine({"/usr/bin/x", "-a", "%1"}), R"("/usr/bin/x" -a "%1")");
}

}  // namespace
}  // namespace kestrova
