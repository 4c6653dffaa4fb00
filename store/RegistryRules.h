#pragma once
// The registry's rules for names and sizes, shared by every engine and by the .reg reader.

#include <cstddef>
#include <cstdint>
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

// Decodes the UTF-8 sequence at text[i] into cp; returns its length, or 0 when the bytes
// there are not a valid, shortest-form sequence of a Unicode scalar value.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp);

// True when the whole text is valid UTF-8.
bool IsValidUtf8(std::string_view text);

// The text with every byte that is not part of a valid sequence replaced by U+FFFD, so
// that damage stays visible instead of vanishing.
std::string ReplaceInvalidUtf8(std::string_view text);

// True for the types whose data is text: REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ.
bool IsTextType(uint32_t type);

// The size the registry gives the data, for its 1 MiB limit: text types count their
// UTF-16 bytes including the terminator (added when the data lacks one, as registry
// editors store it); every other type counts its raw bytes.
std::size_t RegistryDataSize(uint32_t type, std::string_view data);

// Number of characters in 8-bit (UTF-8) text; a byte that is not part of a valid
// sequence counts as one character.
std::size_t CharCount(std::string_view text);

// The name as names are compared, the way the platform's registry compares them: each
// UTF-16 code unit upper-cased by the simple one-to-one mapping (no locale, no special
// casing, surrogates untouched), given as big-endian UTF-16, so that ordering folded
// names by bytes orders them by code units as the registry lists them. A byte that is not
// valid UTF-8 becomes the lone surrogate U+DC80 + byte, which no text can produce.
// See docs/name-matching.md.
std::string FoldName(std::string_view name);

// The upper-case code unit that c matches, by the rule above.
char16_t FoldCodeUnit(char16_t c);

// A key name is 1..255 characters, with no backslash. NUL and line breaks are refused too:
// a .reg file (and so a backup) cannot carry them in a key line.
bool IsValidKeyName(std::string_view name);
// A value name is at most 16,383 characters, with no NUL.
bool IsValidValueName(std::string_view name);

// Splits "a\b\c" into its components. False when a component is empty ("a\\b", "a\",
// "\a"); the empty path gives no components and true.
bool SplitKeyPath(std::string_view path, std::vector<std::string_view>& components);

}  // namespace kestrova
