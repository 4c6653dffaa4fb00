#include "store/EditFlagsCodec.h"

namespace kestrova {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

}  // namespace

std::string BytesToHex(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) {
    text.push_back(HexDigits[byte >> 4]);
    text.push_back(HexDigits[byte & 0xF]);
  }
  return text;
}

std::string FormatEditFlags(const StoredEditFlags& stored) {
  switch (stored.kind) {
    case ValueKind::Binary:
      return BytesToHex(stored.bytes);
    case ValueKind::Dword: {
      std::string text(8, '0');
      std::uint32_t number = stored.number;
      for (int i = 7; i >= 0; --i, number >>= 4) text[i] = HexDigits[number & 0xF];
      return text;
    }
    default:
      return {};
  }
}

FlagsValue EditFlagsValue(const StoredEditFlags& stored) {
  switch (stored.kind) {
    case ValueKind::Binary: {
      FlagsValue value;
      for (std::size_t i = 0; i < stored.bytes.size(); ++i) {
        if (i < 4)
          value.bits |= static_cast<std::uint32_t>(stored.bytes[i]) << (8 * i);
        else if (stored.bytes[i] != 0)
          value.tooLarge = true;
      }
      if (value.tooLarge) value.bits = 0;
      return value;
    }
    case ValueKind::Dword:
      return {stored.number, false};
    default:
      return {};
  }
}

DecodedEditFlags DecodeEditFlags(FlagsValue value) {
  DecodedEditFlags decoded;
  if (value.tooLarge || value.bits > EditFlagsDecodeLimit) {
    decoded.refused = true;
    return decoded;
  }
  for (std::size_t row = 0; row < EditFlagRowCount; ++row)
    decoded.rows[row] = (value.bits & EditFlagTable[row].bit) != 0;
  return decoded;
}

}  // namespace kestrova
