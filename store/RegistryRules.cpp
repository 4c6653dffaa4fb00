#include "store/RegistryRules.h"

#include <QChar>

#include "store/RegistryEngine.h"

namespace kestrova {

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

namespace {

void AppendUnit(char16_t u, std::string& out) {
  out += static_cast<char>(u >> 8);
  out += static_cast<char>(u & 0xFF);
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

char16_t FoldCodeUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  const char16_t upper = QChar::toUpper(c);
  // Only a one-to-one pair matches: dotless i, long s, final sigma and the micro sign keep
  // their own names because their upper-case letter lowers to another character.
  return QChar::toLower(upper) == c ? upper : c;
}

std::string FoldName(std::string_view name) {
  std::string out;
  out.reserve(2 * name.size());
  char32_t cp;
  for (std::size_t i = 0; i < name.size();) {
    const auto b = static_cast<unsigned char>(name[i]);
    if (b < 0x80) {
      AppendUnit(FoldCodeUnit(b), out);
      ++i;
      continue;
    }
    const std::size_t len = DecodeUtf8(name, i, cp);
    if (len == 0) {
      AppendUnit(static_cast<char16_t>(0xDC00 + b), out);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      AppendUnit(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)), out);
      AppendUnit(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)), out);
    } else {
      AppendUnit(FoldCodeUnit(static_cast<char16_t>(cp)), out);
    }
    i += len;
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  char32_t cp;
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t len = DecodeUtf8(text, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string ReplaceInvalidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char32_t cp;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = DecodeUtf8(text, i, cp);
    if (len == 0) {
      AppendUtf8(0xFFFD, out);
      ++i;
    } else {
      out.append(text.substr(i, len));
      i += len;
    }
  }
  return out;
}

bool IsTextType(uint32_t type) {
  return type == RegType::Sz || type == RegType::ExpandSz || type == RegType::MultiSz;
}

std::size_t RegistryDataSize(uint32_t type, std::string_view data) {
  if (!IsTextType(type)) return data.size();
  std::size_t units = 0;
  char32_t cp;
  for (std::size_t i = 0; i < data.size();) {
    const std::size_t len = DecodeUtf8(data, i, cp);
    units += (len != 0 && cp >= 0x10000) ? 2 : 1;
    i += len ? len : 1;
  }
  if (data.empty() || data.back() != '\0') ++units;
  return 2 * units;
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
