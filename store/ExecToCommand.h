#pragma once
// ExecToCommand: a desktop entry's Exec line as a command the store keeps ("program" "%1").

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// What a desktop entry lends its Exec line's field codes.
struct ExecEntry {
  std::string name;         // %c: the (translated) Name
  std::string icon;         // %i: the Icon key; nothing is passed when it is empty
  std::string desktopFile;  // %k: where the entry lies
  // The full path of a program named without a folder (as $PATH finds it); empty when it is
  // not found, and the name is then written as it is. May be empty itself.
  std::function<std::string(const std::string&)> findProgram;
  // For Terminal=true: the terminal program's path and the switch that runs a command in
  // it ("-e"), which go before the program. Empty for a program that needs no terminal.
  std::vector<std::string> terminal;
};

struct ExecCommand {
  // The store's command: the program's path quoted, then the arguments, the file as "%1".
  // Empty when the line is invalid.
  std::string command;
  // Why the line is invalid; empty when it is not.
  std::string error;
  bool Ok() const { return error.empty(); }
};

// Splits an Exec value (with the key file's string escapes \s \n \t \r \\ already undone, as
// key-file readers return it) into arguments by the Desktop Entry rules and expands its
// field codes: %f %F %u %U become the file "%1" (a line without any of them gets "%1" at
// the end, as GIO and KDE add the file), %i becomes --icon ICON, %c the name, %k the entry's
// file, %% a percent sign; %d %D %n %N %v %m are dropped. Inside double quotes a backslash
// escapes " ` $ and \\ and is kept before anything else. Outside quotes a backslash keeps
// the next character and single quotes group, as GLib's parser (which the desktop uses)
// accepts. Invalid: an unclosed quote, an unknown or cut-off field code, a field code inside
// quotes, more than one file code, %F %U or %i inside a longer argument, a program that is
// missing or made of a field code, and a literal percent sign before a digit, * or L (the
// store's launcher would read it as a placeholder).
ExecCommand ExecToCommand(std::string_view exec, const ExecEntry& entry);

// The arguments as the Windows command-line rules read them back (what the store's
// launcher splits): quoted when empty or holding a blank, tab or quote; the program's
// path (the first) is always quoted, as the store writes it.
std::string JoinWindowsCommandLine(const std::vector<std::string>& args);

}  // namespace kestrova
