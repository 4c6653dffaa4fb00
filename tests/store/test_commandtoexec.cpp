// A file type's Windows-style command as a desktop entry's Exec value.

#include "store/CommandToExec.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

std::string Exec(const char* command) {
  const ExecTranslation t = CommandToExec(command);
  EXPECT_TRUE(t.Ok()) << command << ": " << t.problem;
  return t.exec;
}

std::string Problem(const char* command) {
  const ExecTranslation t = CommandToExec(command);
  EXPECT_FALSE(t.Ok()) << command << " gave " << t.exec;
  return t.problem;
}

TEST(CommandToExec, TheFilePlaceholderBecomesOneFileArgument) {
  EXPECT_EQ(Exec("\"/usr/bin/gedit\" \"%1\""), "/usr/bin/gedit %f");
  EXPECT_EQ(Exec("gedit %1"), "gedit %f");
  EXPECT_EQ(Exec("viewer %L"), "viewer %f");
  EXPECT_EQ(Exec("viewer \"%V\""), "viewer %f");
  // Placed where the command puts it, not at the end.
  EXPECT_EQ(Exec("tool \"%1\" --now"), "tool %f --now");
  // Inside an argument that needs no quotes it stays in place.
  EXPECT_EQ(Exec("tool --file=%1"), "tool --file=%f");
  // No placeholder: the shell hands the file as the last argument.
  EXPECT_EQ(Exec("/usr/bin/lp"), "/usr/bin/lp %f");
  // "%*" (the rest of the arguments) has nothing to stand for.
  EXPECT_EQ(Exec("tool \"%1\" %*"), "tool %f");
}

TEST(CommandToExec, ProgramsAndArgumentsWithBlanksAreQuotedForTheDesktop) {
  EXPECT_EQ(Exec("\"/opt/My Tool/run\" \"%1\""), "\"/opt/My Tool/run\" %f");
  EXPECT_EQ(Exec("\"/opt/My Tool/run\" \"a b\" %1"), "\"/opt/My Tool/run\" \"a b\" %f");
  // The characters the desktop reserves are quoted; inside quotes ", `, $ and \ are escaped.
  EXPECT_EQ(Exec("tool \"it's\" %1"), "tool \"it's\" %f");
  EXPECT_EQ(Exec("tool $HOME %1"), "tool \"\\$HOME\" %f");
  EXPECT_EQ(Exec("tool \"say \\\"hi\\\"\" %1"), "tool \"say \\\"hi\\\"\" %f");
  EXPECT_EQ(Exec("tool a`b %1"), "tool \"a\\`b\" %f");
  EXPECT_EQ(Exec("tool \"\" %1"), "tool \"\" %f");
  EXPECT_EQ(Exec("tool semi;colon %1"), "tool \"semi;colon\" %f");
}

TEST(CommandToExec, PercentSignsThatAreNoPlaceholderAreDoubled) {
  EXPECT_EQ(Exec("tool 100% %1"), "tool 100%% %f");
  EXPECT_EQ(Exec("tool \"50% off\" %1"), "tool \"50%% off\" %f");
  EXPECT_EQ(Exec("/opt/100%/run %1"), "/opt/100%%/run %f");
  EXPECT_EQ(Exec("tool %% %1"), "tool %%%% %f");
}

TEST(CommandToExec, WindowsQuotingRulesDecideTheArguments) {
  EXPECT_EQ(SplitWindowsCommand("\"C:\\Program Files\\x.exe\" a\\\\\"b c\" \"d\"\"e\" f\\g"),
            (std::vector<std::string>{"C:\\Program Files\\x.exe", "a\\b c", "d\"e", "f\\g"}));
  // The program's name keeps its backslashes and ends at the closing quote.
  EXPECT_EQ(SplitWindowsCommand("\"a\\\"b c"), (std::vector<std::string>{"a\\", "b", "c"}));
  EXPECT_EQ(SplitWindowsCommand("  tool\t\"%1\"  "), (std::vector<std::string>{"tool", "%1"}));
  EXPECT_TRUE(SplitWindowsCommand("   ").empty());
}

TEST(CommandToExec, CommandsTheDesktopCannotRunAreRefusedWithAReason) {
  EXPECT_NE(Problem("").find("empty"), std::string::npos);
  EXPECT_NE(Problem("\"C:\\Program Files\\App\\app.exe\" \"%1\"").find("Windows path"),
            std::string::npos);
  EXPECT_NE(Problem("notepad\\x.exe %1").find("Windows path"), std::string::npos);
  EXPECT_NE(Problem("VAR=1 tool %1").find("\"=\""), std::string::npos);
  EXPECT_NE(Problem("tool %1 %2").find("%2"), std::string::npos);
  EXPECT_NE(Problem("tool /i %I").find("%I"), std::string::npos);
  EXPECT_NE(Problem("tool %1 %1").find("twice"), std::string::npos);
  EXPECT_NE(Problem("/tmp/%1/run").find("placeholder"), std::string::npos);
  // A field code may not stand inside quotes.
  EXPECT_NE(Problem("tool \"--file=a b%1\"").find("quotes"), std::string::npos);
}

TEST(CommandToExec, KeyFileEscapingOfTheValue) {
  EXPECT_EQ(DesktopStringValue("tool \"a\\\\b\" %f"), "tool \"a\\\\\\\\b\" %f");
  EXPECT_EQ(DesktopStringValue(" lead\tand\nlines\r"), "\\slead\\tand\\nlines\\r");
  EXPECT_EQ(QuoteExecArgument("plain-arg_1.txt"), "plain-arg_1.txt");
}

}  // namespace
}  // namespace kestrova
