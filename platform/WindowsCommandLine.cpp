#include "platform/WindowsCommandLine.h"

namespace kestrova {

std::vector<std::string> SplitWindowsCommandLine(std::string_view line) {
  // The text a program receives is a C string: nothing after a NUL reaches it.
  if (const auto nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);

  std::vector<std::string> args;
  std::string arg;
  bool inArg = false;  // an argument has begun, even one that will stay empty ("")
  int quotes = 0;      // 1 inside quotes; counts a run of quotes while it lasts
  size_t slashes = 0;  // backslashes just copied into `arg`
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if ((c == ' ' || c == '\t') && quotes == 0) {
      if (inArg) {
        args.push_back(std::move(arg));
        arg.clear();
        inArg = false;
      }
      slashes = 0;
      ++i;
      continue;
    }
    inArg = true;
    if (c == '\\') {
      arg.push_back(c);
      ++slashes;
      ++i;
      continue;
    }
    if (c != '"') {
      arg.push_back(c);
      slashes = 0;
      ++i;
      continue;
    }
    // A quote: the backslashes before it are halved; an odd one out makes it literal.
    arg.resize(arg.size() - slashes / 2);
    if (slashes % 2 == 1) {
      arg.back() = '"';
    } else {
      ++quotes;
    }
    slashes = 0;
    ++i;
    // The quotes that follow at once are counted with the opening one, in threes.
    while (i < line.size() && line[i] == '"') {
      if (++quotes == 3) {
        arg.push_back('"');
        quotes = 0;
      }
      ++i;
    }
    if (quotes == 2) quotes = 0;
  }
  if (inArg) args.push_back(std::move(arg));
  return args;
}

}  // namespace kestrova

namespace kestrova {

ProgramAndArguments SplitProgramName(std::string_view line) {
  if (const auto nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  ProgramAndArguments split;
  if (i < line.size() && line[i] == '"') {
    const size_t close = line.find('"', i + 1);
    const size_t end = close == std::string_view::npos ? line.size() : close;
    split.program = line.substr(i + 1, end - i - 1);
    i = close == std::string_view::npos ? line.size() : close + 1;
  } else {
    const size_t begin = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    split.program = line.substr(begin, i - begin);
  }
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  split.arguments = line.substr(i);
  return split;
}

std::string ExpandPercentVariables(
    std::string_view text,
    const std::function<std::optional<std::string>(const std::string&)>& lookup) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t open = text.find('%', i);
    if (open == std::string_view::npos) break;
    const size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    out.append(text.substr(i, open - i));
    const std::string name(text.substr(open + 1, close - open - 1));
    const auto value = name.empty() ? std::nullopt : lookup(name);
    out.append(value ? std::string_view(*value) : text.substr(open, close - open + 1));
    i = close + 1;
  }
  out.append(text.substr(i));
  return out;
}

}  // namespace kestrova
