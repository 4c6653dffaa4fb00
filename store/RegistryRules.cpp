#include "store/RegistryRules.h"

#include <QChar>

namespace kestrova {
namespace {

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when the bytes there
// are not a valid, shortest-form sequence.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  std::size_t len;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::size_t CharCount(std::string_view text) {
  std::size_t count = 0;
  char32_t cp;
  for (std::size_t i = 0; i < text.size(); ++count) {
    const std::size_t len = DecodeUtf8(text, i, cp);
    i += len ? len : 1;
  }
  return count;
}

std::string FoldName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  char32_t cp;
  for (std::size_t i = 0; i < name.size();) {
    const char c = name[i];
    if (static_cast<unsigned char>(c) < 0x80) {
      out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
      ++i;
      continue;
    }
    const std::size_t len = DecodeUtf8(name, i, cp);
    if (len == 0) {
      // Not text: kept as it is, so distinct byte strings stay distinct.
      out += c;
      ++i;
      continue;
    }
    AppendUtf8(QChar::toUpper(cp), out);
    i += len;
  }
  return out;
}

bool IsValidKeyName(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    if (c == '\\' || c == '\0' || c == '\r' || c == '\n') return false;
  }
  return CharCount(name) <= kMaxKeyNameChars;
}

bool IsValidValueName(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return false;
  return name.size() <= kMaxValueNameChars || CharCount(name) <= kMaxValueNameChars;
}

bool SplitKeyPath(std::string_view path, std::vector<std::string_view>& components) {
  components.clear();
  if (path.empty()) return true;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find('\\', start);
    const std::string_view part =
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (part.empty()) return false;
    components.push_back(part);
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

}  // namespace kestrova
