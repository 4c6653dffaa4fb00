#include "store/ExecToCommand.h"

namespace kestrova {

namespace {

constexpr char kFileArgument[] = "%1";

// One piece of an Exec argument: literal text, or a field code (its letter).
struct Piece {
  std::string text;
  char code = 0;
};

struct Word {
  std::vector<Piece> pieces;
  bool quoted = false;  // held quotes, so even an empty word is an argument
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

bool IsDeprecatedCode(char c) {
  return c == 'd' || c == 'D' || c == 'n' || c == 'N' || c == 'v' || c == 'm';
}

bool IsKnownCode(char c) {
  return c == 'f' || c == 'F' || c == 'u' || c == 'U' || c == 'i' || c == 'c' || c == 'k' ||
         IsDeprecatedCode(c);
}

bool IsFileCode(char c) { return c == 'f' || c == 'F' || c == 'u' || c == 'U'; }

void AddText(Word& word, char c) {
  if (word.pieces.empty() || word.pieces.back().code != 0) word.pieces.push_back({});
  word.pieces.back().text.push_back(c);
}

// Splits the line into words of text and field codes; an error text when it cannot.
std::string Tokenize(std::string_view exec, std::vector<Word>& words) {
  Word word;
  bool inWord = false;
  const auto finish = [&] {
    if (inWord) words.push_back(std::move(word));
    word = {};
    inWord = false;
  };
  size_t i = 0;
  while (i < exec.size()) {
    const char c = exec[i];
    if (IsBlank(c)) {
      finish();
      ++i;
    } else if (c == '"') {
      inWord = true;
      word.quoted = true;
      for (++i;; ++i) {
        if (i >= exec.size()) return "a double quote is not closed";
        const char q = exec[i];
        if (q == '"') break;
        if (q == '%') {
          if (i + 1 < exec.size() && exec[i + 1] == '%') {
            AddText(word, '%');
            ++i;
            continue;
          }
          return "a field code stands inside quotes";
        }
        if (q == '\\' && i + 1 < exec.size()) {
          const char next = exec[i + 1];
          if (next == '"' || next == '`' || next == '$' || next == '\\') {
            AddText(word, next);
            ++i;
            continue;
          }
        }
        AddText(word, q);
      }
      ++i;
    } else if (c == '\'') {
      inWord = true;
      word.quoted = true;
      for (++i;; ++i) {
        if (i >= exec.size()) return "a single quote is not closed";
        if (exec[i] == '\'') break;
        if (exec[i] == '%') return "a field code stands inside quotes";
        AddText(word, exec[i]);
      }
      ++i;
    } else if (c == '\\') {
      inWord = true;
      if (i + 1 < exec.size()) AddText(word, exec[i + 1]);
      i += 2;
    } else if (c == '%') {
      if (i + 1 >= exec.size()) return "the line ends in a lone percent sign";
      const char code = exec[i + 1];
      inWord = true;
      if (code == '%') {
        AddText(word, '%');
      } else if (IsKnownCode(code)) {
        word.pieces.push_back({{}, code});
      } else {
        return std::string("the field code %") + code + " is unknown";
      }
      i += 2;
    } else {
      inWord = true;
      AddText(word, c);
      ++i;
    }
  }
  finish();
  return {};
}

bool HasPlaceholderLook(const std::string& text) {
  for (size_t p = text.find('%'); p != std::string::npos; p = text.find('%', p + 1)) {
    if (p + 1 >= text.size()) continue;
    const char next = text[p + 1];
    if ((next >= '0' && next <= '9') || next == '*' || next == 'L' || next == 'l') return true;
  }
  return false;
}

bool NeedsQuotes(const std::string& arg) {
  return arg.empty() || arg.find_first_of(" \t\n\v\"") != std::string::npos;
}

// The argument in double quotes, so that the Windows rules give it back unchanged: the
// backslashes before a quote (or before the closing quote) double, a quote gets one.
std::string Quoted(const std::string& arg) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, '\\');
  out.push_back('"');
  return out;
}

}  // namespace

std::string JoinWindowsCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) line.push_back(' ');
    // A file argument is quoted as the store writes it, so that a path with blanks survives.
    const bool quote =
        i == 0 || NeedsQuotes(args[i]) || args[i].find(kFileArgument) != std::string::npos;
    line += quote ? Quoted(args[i]) : args[i];
  }
  return line;
}

ExecCommand ExecToCommand(std::string_view exec, const ExecEntry& entry) {
  const auto invalid = [](std::string why) { return ExecCommand{{}, std::move(why)}; };
  std::vector<Word> words;
  if (std::string error = Tokenize(exec, words); !error.empty()) return invalid(error);
  if (words.empty()) return invalid("there is no program");

  std::vector<std::string> args = entry.terminal;
  int fileCodes = 0;
  for (size_t w = 0; w < words.size(); ++w) {
    const Word& word = words[w];
    bool hasCode = false;
    for (const Piece& piece : word.pieces) hasCode = hasCode || piece.code != 0;
    if (w == 0) {
      if (hasCode) return invalid("the program is a field code");
      std::string program = word.pieces.empty() ? std::string() : word.pieces.front().text;
      if (program.empty()) return invalid("there is no program");
      if (program.find('/') == std::string::npos && entry.findProgram) {
        if (std::string found = entry.findProgram(program); !found.empty()) program = found;
      }
      args.push_back(std::move(program));
      continue;
    }
    if (word.pieces.size() == 1 && word.pieces.front().code != 0) {
      const char code = word.pieces.front().code;
      if (IsFileCode(code)) {
        ++fileCodes;
        args.emplace_back(kFileArgument);
      } else if (code == 'i') {
        if (!entry.icon.empty()) {
          args.emplace_back("--icon");
          args.push_back(entry.icon);
        }
      } else if (code == 'c') {
        args.push_back(entry.name);
      } else if (code == 'k') {
        args.push_back(entry.desktopFile);
      }  // a deprecated code alone leaves no argument
      continue;
    }
    std::string arg;
    bool onlyDropped = hasCode && !word.quoted;
    for (const Piece& piece : word.pieces) {
      if (piece.code == 0) {
        if (HasPlaceholderLook(piece.text))
          return invalid("a percent sign in \"" + piece.text + "\" would read as a placeholder");
        arg += piece.text;
        onlyDropped = onlyDropped && piece.text.empty();
        continue;
      }
      if (!IsDeprecatedCode(piece.code)) onlyDropped = false;
      switch (piece.code) {
        case 'f':
        case 'u':
          ++fileCodes;
          arg += kFileArgument;
          break;
        case 'F':
        case 'U':
        case 'i':
          return invalid(std::string("%") + piece.code + " must stand alone as an argument");
        case 'c':
          arg += entry.name;
          break;
        case 'k':
          arg += entry.desktopFile;
          break;
        default:
          break;  // deprecated: dropped
      }
    }
    if (!onlyDropped) args.push_back(std::move(arg));
  }
  if (fileCodes > 1) return invalid("the line names the file more than once");
  if (fileCodes == 0) args.emplace_back(kFileArgument);
  return {JoinWindowsCommandLine(args), {}};
}

}  // namespace kestrova
