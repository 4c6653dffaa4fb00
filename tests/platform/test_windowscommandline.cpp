// The Windows command-line splitter against CommandLineToArgvW's rules.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/WindowsCommandLine.h"

namespace kestrova {
namespace {

using Args = std::vector<std::string>;

Args Split(std::string_view line) { return SplitWindowsCommandLine(line); }

TEST(WindowsCommandLine, BlanksAndTabsSeparate) {
  EXPECT_EQ(Split(""), Args{});
  EXPECT_EQ(Split(" \t  "), Args{});
  EXPECT_EQ(Split("a b\tc"), (Args{"a", "b", "c"}));
  EXPECT_EQ(Split("  a \t\t b  "), (Args{"a", "b"}));
  // Only blank and tab separate: other white space belongs to the argument.
  EXPECT_EQ(Split("a\nb\rc\vd"), (Args{"a\nb\rc\vd"}));
}

TEST(WindowsCommandLine, QuotesGroupAndMayBeEmpty) {
  EXPECT_EQ(Split(R"("a b" c)"), (Args{"a b", "c"}));
  EXPECT_EQ(Split(R"(a"b c"d e)"), (Args{"ab cd", "e"}));
  EXPECT_EQ(Split("\"a\tb\""), (Args{"a\tb"}));
  EXPECT_EQ(Split(R"(a "" b)"), (Args{"a", "", "b"}));
  EXPECT_EQ(Split(R"("")"), (Args{""}));
  EXPECT_EQ(Split(R"(a ")"), (Args{"a", ""}));
  EXPECT_EQ(Split(R"("a b)"), (Args{"a b"}));  // an unclosed quote runs to the end
}

TEST(WindowsCommandLine, BackslashesCountOnlyBeforeAQuote) {
  EXPECT_EQ(Split(R"(a\b a\\b \\server\share\)"),
            (Args{R"(a\b)", R"(a\\b)", R"(\\server\share\)"}));
  // 2n+1 backslashes and a quote: n backslashes and a literal quote.
  EXPECT_EQ(Split(R"(a\"b)"), (Args{R"(a"b)"}));
  EXPECT_EQ(Split(R"(a\\\"b)"), (Args{R"(a\"b)"}));
  // 2n backslashes and a quote: n backslashes, and the quote groups.
  EXPECT_EQ(Split(R"(a\\"b c")"), (Args{R"(a\b c)"}));
  EXPECT_EQ(Split(R"("a\\\\" b)"), (Args{R"(a\\)", "b"}));
  // A quoted folder ending in one backslash swallows its closing quote.
  EXPECT_EQ(Split(R"("C:\My Keys\" next)"), (Args{R"(C:\My Keys" next)"}));
  EXPECT_EQ(Split(R"("C:\My Keys\\" next)"), (Args{R"(C:\My Keys\)", "next"}));
  // Trailing backslashes at the very end stay as they are.
  EXPECT_EQ(Split(R"(dir\\ "x\\)"), (Args{R"(dir\\)", R"(x\\)"}));
}

TEST(WindowsCommandLine, RunsOfQuotesCountInThrees) {
  // Inside quotes "" gives a quote and closes the quoting (CommandLineToArgvW, unlike
  // the newer C runtime), so the blank after it separates.
  EXPECT_EQ(Split(R"("a""b c")"), (Args{R"(a"b)", "c"}));
  EXPECT_EQ(Split(R"(""")"), (Args{R"(")"}));
  EXPECT_EQ(Split(R"("""" a)"), (Args{R"(" a)"}));  // the fourth quote reopens
  EXPECT_EQ(Split(R"("""""" a)"), (Args{R"("")", "a"}));
  // An escaped quote is literal, yet the quote right after it still counts as opening.
  EXPECT_EQ(Split(R"(\""a b")"), (Args{R"("a b)"}));
}

TEST(WindowsCommandLine, BackupExportLine) {
  EXPECT_EQ(
      Split(R"(/e "/home/u/My Backups/txt-20261207-113905.reg" HKEY_CLASSES_ROOT\.txt)"),
      (Args{"/e", "/home/u/My Backups/txt-20261207-113905.reg", R"(HKEY_CLASSES_ROOT\.txt)"}));
}

TEST(WindowsCommandLine, BytesPassThroughAndANulEndsTheText) {
  EXPECT_EQ(Split("\"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC\" \xFF"),
            (Args{"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC", "\xFF"}));
  EXPECT_EQ(Split(std::string_view("a \"b\0c\" d", 10)), (Args{"a", "b"}));
  EXPECT_EQ(Split(std::string_view("\0a", 2)), Args{});
}

// How a program quotes an argument so that CommandLineToArgvW gives it back unchanged.
std::string QuoteWindowsArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t slashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
    out.push_back(c);
    slashes = 0;
  }
  out.append(slashes * 2, '\\');
  return out + "\"";
}

TEST(WindowsCommandLine, QuotedArgumentsComeBackUnchanged) {
  std::mt19937 random(20261207);
  const std::string alphabet = "ab \t\"\\\xC3\xA9";
  for (int round = 0; round < 2000; ++round) {
    Args args(random() % 5);
    std::string line;
    for (auto& arg : args) {
      arg.resize(random() % 8);
      for (auto& c : arg) c = alphabet[random() % alphabet.size()];
      line += QuoteWindowsArgument(arg) + (random() % 2 ? " " : "\t ");
    }
    ASSERT_EQ(Split(line), args) << line;
  }
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

TEST(WindowsCommandLine, TheProgramNameEndsAtItsQuoteOrItsFirstBlank) {
  using Pair = std::pair<std::string, std::string>;
  const auto split = [](std::string_view line) {
    const ProgramAndArguments p = SplitProgramName(line);
    return Pair(p.program, p.arguments);
  };
  EXPECT_EQ(split(R"("C:\Program Files\app.exe" /p "%1")"),
            Pair(R"(C:\Program Files\app.exe)", R"(/p "%1")"));
  EXPECT_EQ(split("  /usr/bin/app\t--x"), Pair("/usr/bin/app", "--x"));
  // No backslash rules in the program name: a backslash before the quote ends nothing.
  EXPECT_EQ(split(R"("C:\dir\" x)"), Pair(R"(C:\dir\)", "x"));
  EXPECT_EQ(split(R"("unclosed name)"), Pair("unclosed name", ""));
  EXPECT_EQ(split(""), Pair("", ""));
  EXPECT_EQ(split(std::string_view("app\0 x", 6)), Pair("app", ""));
}

TEST(WindowsCommandLine, PercentVariablesExpandWhenKnownAndStayWhenNot) {
  const auto lookup = [](const std::string& name) -> std::optional<std::string> {
    if (name == "SystemRoot") return "/win";
    if (name == "EMPTY") return "";
    return std::nullopt;
  };
  EXPECT_EQ(ExpandPercentVariables(R"(%SystemRoot%\notepad.exe)", lookup), R"(/win\notepad.exe)");
  EXPECT_EQ(ExpandPercentVariables("a%EMPTY%b", lookup), "ab");
  EXPECT_EQ(ExpandPercentVariables("%Unknown%\\x %SystemRoot%", lookup), "%Unknown%\\x /win");
  EXPECT_EQ(ExpandPercentVariables("100%% %1 50%", lookup), "100%% %1 50%");
  // The unknown "%1 %" is kept whole, and the search goes on after it, as the shell does.
  EXPECT_EQ(ExpandPercentVariables("%1 %SystemRoot%", lookup), "%1 %SystemRoot%");
  EXPECT_EQ(ExpandPercentVariables("%1%SystemRoot%", lookup), "%1%SystemRoot%");
  EXPECT_EQ(ExpandPercentVariables("%SystemRoot%%SystemRoot%", lookup), "/win/win");
}

}  // namespace
}  // namespace kestrova
