#include "store/CommandToExec.h"

#include <cctype>

namespace kestrova {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A program the desktop can start: an absolute path or a name looked up in $PATH. A drive
// letter or a backslash means a Windows path, which no desktop launcher can run.
std::string ProgramProblem(const std::string& program) {
  if (program.empty()) return "the command names no program";
  if (program.find('\\') != std::string::npos ||
      (program.size() >= 2 && std::isalpha(static_cast<unsigned char>(program[0])) &&
       program[1] == ':')) {
    return "the program \"" + program + "\" is a Windows path";
  }
  if (program.find('=') != std::string::npos) {
    return "the program \"" + program + "\" has \"=\" in its name";
  }
  for (const char* placeholder : {"%1", "%L", "%l", "%V", "%v"}) {
    if (program.find(placeholder) != std::string::npos) {
      return "the program \"" + program + "\" holds the file's placeholder";
    }
  }
  return {};
}

bool NeedsQuotes(std::string_view argument) {
  if (argument.empty()) return true;
  for (const char c : argument) {
    switch (c) {
      case ' ':
      case '\t':
      case '\n':
      case '"':
      case '\'':
      case '\\':
      case '>':
      case '<':
      case '~':
      case '|':
      case '&':
      case ';':
      case '$':
      case '*':
      case '?':
      case '#':
      case '(':
      case ')':
      case '`':
        return true;
      default:
        break;
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> SplitWindowsCommand(std::string_view command) {
  std::vector<std::string> args;
  std::size_t i = 0;
  while (i < command.size() && IsBlank(command[i])) ++i;
  if (i >= command.size()) return args;
  // The program: a quoted name runs to the next quote, backslashes and all.
  std::string program;
  if (command[i] == '"') {
    ++i;
    while (i < command.size() && command[i] != '"') program += command[i++];
    if (i < command.size()) ++i;
  } else {
    while (i < command.size() && !IsBlank(command[i])) program += command[i++];
  }
  args.push_back(program);
  while (true) {
    while (i < command.size() && IsBlank(command[i])) ++i;
    if (i >= command.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < command.size() && (quoted || !IsBlank(command[i]))) {
      if (command[i] == '\\') {
        std::size_t count = 0;
        while (i < command.size() && command[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < command.size() && command[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(count, '\\');
        }
      } else if (command[i] == '"') {
        if (quoted && i + 1 < command.size() && command[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += command[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

std::string QuoteExecArgument(std::string_view argument) {
  std::string out;
  const bool quote = NeedsQuotes(argument);
  if (quote) out += '"';
  for (const char c : argument) {
    if (c == '%') {
      out += "%%";
      continue;
    }
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
  }
  if (quote) out += '"';
  return out;
}

ExecTranslation CommandToExec(std::string_view command) {
  ExecTranslation result;
  const std::vector<std::string> args = SplitWindowsCommand(command);
  if (args.empty()) {
    result.problem = "the command is empty";
    return result;
  }
  result.problem = ProgramProblem(args.front());
  if (!result.Ok()) return result;
  std::string exec = QuoteExecArgument(args.front());
  bool hasFile = false;
  for (std::size_t n = 1; n < args.size(); ++n) {
    const std::string& arg = args[n];
    if (arg == "%*") continue;
    // Split the argument at its placeholders: literal text is quoted, the file becomes %f.
    std::string literal;
    std::vector<std::string> pieces;  // literal text, with "\x01" marking the file
    for (std::size_t i = 0; i < arg.size(); ++i) {
      if (arg[i] == '%' && i + 1 < arg.size()) {
        const char code = arg[i + 1];
        if (code == '1' || code == 'L' || code == 'l' || code == 'V' || code == 'v') {
          pieces.push_back(literal);
          literal.clear();
          pieces.emplace_back(1, '\x01');
          ++i;
          continue;
        }
        if (std::isdigit(static_cast<unsigned char>(code)) ||
            std::string_view("IiDdWwHhSs*").find(code) != std::string_view::npos) {
          result.problem = std::string("the placeholder %") + code + " has no desktop equivalent";
          return result;
        }
      }
      literal += arg[i];
    }
    pieces.push_back(literal);
    std::string text;
    bool fileHere = false;
    for (const std::string& piece : pieces) {
      if (piece == "\x01") {
        if (hasFile || fileHere) {
          result.problem = "the file is named twice";
          return result;
        }
        fileHere = true;
      } else {
        text += piece;
      }
    }
    if (!fileHere) {
      exec += ' ' + QuoteExecArgument(arg);
      continue;
    }
    // The literal parts around the file must stand bare: a field code may not be quoted.
    if (NeedsQuotes(text) && !text.empty()) {
      result.problem = "the file's placeholder is inside an argument that needs quotes";
      return result;
    }
    hasFile = true;
    exec += ' ';
    for (const std::string& piece : pieces) {
      if (piece == "\x01") {
        exec += "%f";
      } else if (!piece.empty()) {
        exec += QuoteExecArgument(piece);
      }
    }
  }
  if (!hasFile) exec += " %f";
  result.exec = exec;
  return result;
}

std::string DesktopStringValue(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == ' ' && i == 0) {
      out += "\\s";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace kestrova
