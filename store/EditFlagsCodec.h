#pragma once
// The edit-flags codec: a file type's "EditFlags" value as text, as a number and as named
// flags.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "store/AssocStore.h"

namespace kestrova {

// Callers read a Binary "EditFlags" into a buffer of this size; a longer value makes the
// store refuse the read rather than truncate it.
inline constexpr int EditFlagsBufferSize = 4096;

// An "EditFlags" value as the store holds it. Only the Binary and Dword kinds carry flags;
// any other kind formats as empty text with the value 0.
struct StoredEditFlags {
  ValueKind kind = ValueKind::Other;
  std::span<const std::uint8_t> bytes;  // Binary: the bytes read, in stored order
  std::uint32_t number = 0;             // Dword: the stored number

  // Pass the count that GetBinary returned, which never exceeds what it copied.
  static StoredEditFlags FromBytes(std::span<const std::uint8_t> bytes) {
    return {ValueKind::Binary, bytes, 0};
  }
  static StoredEditFlags FromNumber(std::uint32_t number) { return {ValueKind::Dword, {}, number}; }
};

// The flags value: a 32-bit number, or the too-large mark for a byte string that does not
// fit in 32 bits (a non-zero byte beyond the fourth).
struct FlagsValue {
  std::uint32_t bits = 0;
  bool tooLarge = false;
  friend bool operator==(const FlagsValue&, const FlagsValue&) = default;
};

struct EditFlagRow {
  std::string_view name;
  std::uint32_t bit;
};

// The named flags, in the order of the Edit Flags dialog's rows. 0x4000, 0x80000 and the
// bits above 0x100000 have no row.
inline constexpr std::size_t EditFlagRowCount = 19;
// clang-format off
inline constexpr std::array<EditFlagRow, EditFlagRowCount> EditFlagTable{{
    {"FTA_Exclude", 0x1},
    {"FTA_Show", 0x2},
    {"FTA_HasExtension", 0x4},
    {"FTA_NoEdit", 0x8},
    {"FTA_NoRemove", 0x10},
    {"FTA_NoNewVerb", 0x20},
    {"FTA_NoEditVerb", 0x40},
    {"FTA_NoRemoveVerb", 0x80},
    {"FTA_NoEditDesc", 0x100},
    {"FTA_NoEditIcon", 0x200},
    {"FTA_NoEditDflt", 0x400},
    {"FTA_NoEditVerbCmd", 0x800},
    {"FTA_NoEditVerbExe", 0x1000},
    {"FTA_NoDDE", 0x2000},
    {"FTA_NoEditMIME", 0x8000},
    {"FTA_OpenIsSafe", 0x10000},
    {"FTA_AlwaysUnsafe", 0x20000},
    {"FTA_AlwaysShowExt", 0x40000},
    {"FTA_NoRecentDocs", 0x100000},
}};
// clang-format on

// Values above this are not translated at all. It is FTA_NoRecentDocs itself, so that flag
// decodes only when it is the only bit set.
inline constexpr std::uint32_t EditFlagsDecodeLimit = 0x100000;
inline constexpr char EditFlagsRefusal[] = "Could not translate Edit Flags.";

// Refused values leave every row unset: no partial result is ever shown.
struct DecodedEditFlags {
  bool refused = false;
  std::array<bool, EditFlagRowCount> rows{};
};

// Two upper-case hexadecimal digits per byte, in order.
std::string BytesToHex(std::span<const std::uint8_t> bytes);

// The Edit Flag String: the bytes as BytesToHex writes them, or the number as exactly eight
// digits. The two forms spell the same flags differently and are never normalised.
std::string FormatEditFlags(const StoredEditFlags& stored);

// Bytes are read with the first one least significant.
FlagsValue EditFlagsValue(const StoredEditFlags& stored);

DecodedEditFlags DecodeEditFlags(FlagsValue value);

}  // namespace kestrova
