#pragma once
// The registry's rules for names and sizes, shared by every engine and by the .reg reader.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

constexpr std::size_t kMaxKeyNameChars = 255;
constexpr std::size_t kMaxValueNameChars = 16383;
constexpr int kMaxKeyDepth = 512;
constexpr std::size_t kMaxValueData = 1024 * 1024;

// Appends the code point as UTF-8.
void AppendUtf8(char32_t cp, std::string& out);

// Number of characters in 8-bit (UTF-8) text; a byte that is not part of a valid
// sequence counts as one character.
std::size_t CharCount(std::string_view text);

// The name as names are compared: every character that has an upper-case form replaced
// by it (simple mapping, no locale). Ordering folded names by bytes lists them the way the
// platform's registry does.
std::string FoldName(std::string_view name);

// A key name is 1..255 characters, with no backslash. NUL and line breaks are refused too:
// a .reg file (and so a backup) cannot carry them in a key line.
bool IsValidKeyName(std::string_view name);
// A value name is at most 16,383 characters, with no NUL.
bool IsValidValueName(std::string_view name);

// Splits "a\b\c" into its components. False when a component is empty ("a\\b", "a\",
// "\a"); the empty path gives no components and true.
bool SplitKeyPath(std::string_view path, std::vector<std::string_view>& components);

}  // namespace kestrova
