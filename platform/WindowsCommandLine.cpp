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
