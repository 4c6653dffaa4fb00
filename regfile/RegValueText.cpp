#include "regfile/RegValueText.h"

#include "store/RegistryEngine.h"

namespace kestrova {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
// Registry editors break hex data once a line reaches this column.
constexpr std::size_t kWrapColumn = 77;

void AppendEscaped(std::string& out, std::string_view text) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char* escape = nullptr;
    switch (text[i]) {
      case '\\':
        escape = "\\\\";
        break;
      case '"':
        escape = "\\\"";
        break;
      case '\r':
        escape = "\\r";
        break;
      case '\n':
        escape = "\\n";
        break;
      default:
        continue;
    }
    out.append(text.substr(start, i - start));
    out.append(escape);
    start = i + 1;
  }
  out.append(text.substr(start));
}

// Quoted text is read back up to its closing quote plus one NUL: only data that ends in
// its one and only NUL comes back byte for byte.
bool SurvivesQuoting(std::string_view data) {
  return !data.empty() && data.find('\0') == data.size() - 1;
}

void AppendHexData(std::string& out, std::string_view data, std::size_t column) {
  if (data.empty()) return;
  std::size_t at = out.size();
  out.resize(at + data.size() * 3 + (data.size() / 25 + 1) * 5);
  char* p = out.data() + at;
  const std::size_t last = data.size() - 1;
  for (std::size_t i = 0; i < last; ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    *p++ = kHexDigits[byte >> 4];
    *p++ = kHexDigits[byte & 0xF];
    *p++ = ',';
    column += 3;
    if (column >= kWrapColumn) {
      *p++ = '\\';
      *p++ = '\r';
      *p++ = '\n';
      *p++ = ' ';
      *p++ = ' ';
      column = 2;
    }
  }
  const auto byte = static_cast<unsigned char>(data[last]);
  *p++ = kHexDigits[byte >> 4];
  *p++ = kHexDigits[byte & 0xF];
  out.resize(static_cast<std::size_t>(p - out.data()));
}

void AppendLowerHex(std::string& out, uint32_t value, int minDigits) {
  char digits[8];
  int n = 0;
  do {
    digits[n++] = kHexDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  for (int i = n; i < minDigits; ++i) out += '0';
  while (n > 0) out += digits[--n];
}

}  // namespace

void AppendRegValue(std::string& out, std::string_view name, uint32_t type, std::string_view data) {
  const std::size_t lineStart = out.size();
  if (name.empty()) {
    out += "@=";
  } else {
    out += '"';
    AppendEscaped(out, name);
    out += "\"=";
  }
  if (type == RegType::Sz && SurvivesQuoting(data)) {
    out += '"';
    AppendEscaped(out, data.substr(0, data.size() - 1));
    out += "\"\r\n";
    return;
  }
  if (type == RegType::Dword && data.size() == 4) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[i]);
    out += "dword:";
    AppendLowerHex(out, value, 8);
    out += "\r\n";
    return;
  }
  if (type == RegType::Binary) {
    out += "hex:";
  } else {
    out += "hex(";
    AppendLowerHex(out, type, 1);
    out += "):";
  }
  AppendHexData(out, data, out.size() - lineStart);
  out += "\r\n";
}

}  // namespace kestrova
