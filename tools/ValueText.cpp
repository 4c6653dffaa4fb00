#include "tools/ValueText.h"

#include <QStringList>
#include <algorithm>

#include "regfile/RegValueText.h"
#include "store/RegistryRules.h"

namespace kestrova {
namespace {

// A list cell shows the start of long data; the rest would only cost time to lay out.
constexpr std::size_t kShownBytes = 1024;
constexpr qsizetype kShownChars = 2048;

// The .reg writer's hex, with blanks for its commas and without its line breaks.
QString HexBytes(std::string_view data) {
  std::string reg;
  AppendRegValue(reg, {}, RegType::Binary, data);
  std::string out;
  out.reserve(data.size() * 3);
  for (std::size_t i = reg.find(':') + 1; i < reg.size(); ++i) {
    const char c = reg[i];
    if (c == ',') {
      out += ' ';
    } else if (c != '\\' && c != '\r' && c != '\n' && c != ' ') {
      out += c;
    }
  }
  return QString::fromLatin1(out.data(), static_cast<qsizetype>(out.size()));
}

uint64_t LittleEndian(std::string_view data) {
  uint64_t value = 0;
  for (std::size_t i = data.size(); i > 0; --i)
    value = (value << 8) | static_cast<uint8_t>(data[i - 1]);
  return value;
}

}  // namespace

QString Utf8Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The strings of a text value: up to the first NUL, or each of a REG_MULTI_SZ's strings.
std::vector<std::string_view> TextPieces(uint32_t type, std::string_view data) {
  std::vector<std::string_view> pieces;
  if (type != RegType::MultiSz) {
    pieces.push_back(data.substr(0, data.find('\0')));
    return pieces;
  }
  while (!data.empty()) {
    const std::size_t end = data.find('\0');
    if (end != 0) pieces.push_back(data.substr(0, end));
    if (end == std::string_view::npos) break;
    data.remove_prefix(end + 1);
  }
  return pieces;
}

// The default value first, the others in the store's order: how the list shows them, and so
// the order in which find goes through them.
void OrderForDisplay(std::vector<RegValue>& values) {
  std::stable_partition(values.begin(), values.end(),
                        [](const RegValue& v) { return v.name.empty(); });
}

QString RegTypeText(uint32_t type) {
  switch (type) {
    case RegType::None:
      return QStringLiteral("REG_NONE");
    case RegType::Sz:
      return QStringLiteral("REG_SZ");
    case RegType::ExpandSz:
      return QStringLiteral("REG_EXPAND_SZ");
    case RegType::Binary:
      return QStringLiteral("REG_BINARY");
    case RegType::Dword:
      return QStringLiteral("REG_DWORD");
    case RegType::MultiSz:
      return QStringLiteral("REG_MULTI_SZ");
    case RegType::Qword:
      return QStringLiteral("REG_QWORD");
  }
  return QString::number(type);
}

QString RegDataText(uint32_t type, const std::string& data) {
  if (IsTextType(type)) {
    QStringList pieces;
    for (std::string_view piece : TextPieces(type, data)) pieces << Utf8Text(piece);
    QString text = pieces.join(QLatin1Char(' '));
    if (text.size() > kShownChars) text = text.left(kShownChars) + QStringLiteral("...");
    // One line per row: line breaks would be drawn over the next row.
    for (QChar& c : text) {
      if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t'))
        c = QLatin1Char(' ');
    }
    return text;
  }
  if (type == RegType::Dword && data.size() == 4) {
    const auto value = static_cast<unsigned>(LittleEndian(data));
    return QString::asprintf("0x%08x (%u)", value, value);
  }
  if (type == RegType::Qword && data.size() == 8) {
    const auto value = static_cast<unsigned long long>(LittleEndian(data));
    return QString::asprintf("0x%016llx (%llu)", value, value);
  }
  if (data.empty()) return QStringLiteral("(zero-length binary value)");
  if (data.size() <= kShownBytes) return HexBytes(data);
  return HexBytes(std::string_view(data).substr(0, kShownBytes)) + QStringLiteral(" ...");
}

}  // namespace kestrova
