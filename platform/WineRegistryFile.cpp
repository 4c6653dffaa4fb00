#include "platform/WineRegistryFile.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <QChar>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "store/RegistryEngine.h"
#include "store/RegistryRules.h"

namespace kestrova::wine {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kTicks1601To1970 = 11644473600ULL * kTicksPerSecond;
constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
constexpr std::string_view kRelative = ";; All keys relative to ";
constexpr std::size_t kMaxFileBytes = std::size_t{2} << 30;

uint64_t SystemNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return kTicks1601To1970 + static_cast<uint64_t>(ts.tv_sec) * kTicksPerSecond +
         static_cast<uint64_t>(ts.tv_nsec) / 100;
}

std::atomic<Clock> g_clock{nullptr};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsHexDigit(char16_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes UTF-8 at s[i], accepting the 3-byte form of a lone surrogate; 0 when invalid.
std::size_t DecodeLoose(std::string_view s, std::size_t i, char32_t& cp) {
  const std::size_t n = DecodeUtf8(s, i, cp);
  if (n) return n;
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 == 0xED && i + 2 < s.size()) {
    const auto b1 = static_cast<unsigned char>(s[i + 1]);
    const auto b2 = static_cast<unsigned char>(s[i + 2]);
    if (b1 >= 0xA0 && b1 <= 0xBF && (b2 & 0xC0) == 0x80) {
      cp = 0xD000 | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
      return 3;
    }
  }
  return 0;
}

char16_t LowerUnit(char16_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  return QChar::toLower(c);
}

bool IsAscii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string TimeLines(uint64_t ft) {
  char buf[64];
  const uint64_t secs = ft >= kTicks1601To1970 ? (ft - kTicks1601To1970) / kTicksPerSecond : 0;
  std::snprintf(buf, sizeof buf, " %u\n#time=%x%08x\n", static_cast<unsigned>(secs),
                static_cast<unsigned>(ft >> 32), static_cast<unsigned>(ft & 0xFFFFFFFFu));
  return buf;
}

// The end of the line at i (its '\n' or the text's end), joining lines Wine continues: a
// line whose last character (before CR LF) is a backslash goes on in the next.
std::size_t LogicalLineEnd(std::string_view s, std::size_t i) {
  while (true) {
    const std::size_t nl = s.find('\n', i);
    if (nl == std::string_view::npos) return s.size();
    std::size_t last = nl;
    if (last > i && s[last - 1] == '\r') --last;
    if (last > i && s[last - 1] == '\\') {
      i = nl + 1;
      continue;
    }
    return nl;
  }
}

// The line's text without its continuations: each "\<newline><blanks>" is dropped.
std::string JoinContinuations(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\') {
      std::size_t j = i + 1;
      if (j < line.size() && line[j] == '\r') ++j;
      if (j >= line.size()) break;  // continued past the end of the file
      if (line[j] == '\n') {
        i = j;
        while (i + 1 < line.size() && IsBlank(line[i + 1])) ++i;
        continue;
      }
    }
    out += line[i];
  }
  while (!out.empty() && (out.back() == '\r' || out.back() == '\n')) out.pop_back();
  return out;
}

std::string Utf16LeBytes(std::u16string_view units) {
  std::string out;
  out.reserve(units.size() * 2);
  for (const char16_t u : units) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

std::u16string FromUtf16Le(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2 + 1);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  if (bytes.size() % 2) out += u'\xFFFD';
  return out;
}

uint64_t HashOf(uint32_t parent, std::string_view name) {
  return std::hash<std::string>()(FoldName(name)) ^
         (static_cast<uint64_t>(parent) * 0x9E3779B97F4A7C15ULL);
}

}  // namespace

uint64_t Now() {
  const Clock c = g_clock.load();
  return c ? c() : SystemNow();
}

void SetClock(Clock clock) { g_clock.store(clock); }

void AppendUtf16AsUtf8(std::u16string_view units, std::string& out) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      AppendUtf8(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00),
                 out);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      // A lone surrogate keeps its own 3-byte form: not valid UTF-8, but it round-trips.
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      AppendUtf8(u, out);
    }
  }
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  char32_t cp;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    const std::size_t n = DecodeLoose(s, i, cp);
    if (n == 0) {
      out += u'\xFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += n;
  }
  return out;
}

namespace {

std::string EscapeUnits(std::u16string_view s, bool key) {
  static constexpr char kEscapes[33] = ".......abtnvfr.............e....";
  std::string out;
  out.reserve(s.size() + 8);
  char buf[16];
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    const bool more = i + 1 < s.size();
    if (c > 127 || c < 32) {
      if (c < 32 && kEscapes[c] != '.') {
        out += '\\';
        out += kEscapes[c];
      } else if (c > 127) {
        const bool pad = more && s[i + 1] < 128 && IsHexDigit(s[i + 1]);
        std::snprintf(buf, sizeof buf, pad ? "\\x%04x" : "\\x%x", static_cast<unsigned>(c));
        out += buf;
      } else {
        const bool pad = more && s[i + 1] >= '0' && s[i + 1] <= '7';
        std::snprintf(buf, sizeof buf, pad ? "\\%03o" : "\\%o", static_cast<unsigned>(c));
        out += buf;
      }
      continue;
    }
    if (c == '\\' || (key ? (c == '[' || c == ']') : c == '"')) out += '\\';
    out += static_cast<char>(c);
  }
  return out;
}

}  // namespace

std::string EscapeWine(std::string_view utf8, bool key) {
  if (IsAscii(utf8)) {
    bool plain = true;
    for (const char c : utf8) {
      if (c < 32 || c == 127 || c == '\\' || (key ? (c == '[' || c == ']') : c == '"')) {
        plain = false;
        break;
      }
    }
    if (plain) return std::string(utf8);
  }
  return EscapeUnits(Utf8ToUtf16(utf8), key);
}

std::size_t UnescapeWine(std::string_view s, std::size_t i, char end, std::u16string& out) {
  char32_t cp;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '\n') return std::string_view::npos;
    if (c == end) return i + 1;
    if (c != '\\') {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x80) {
        out += static_cast<char16_t>(b);
        ++i;
        continue;
      }
      const std::size_t n = DecodeLoose(s, i, cp);
      if (n == 0) {
        out += u'\xFFFD';
        ++i;
      } else {
        if (cp >= 0x10000) {
          out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
          out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
          out += static_cast<char16_t>(cp);
        }
        i += n;
      }
      continue;
    }
    ++i;
    if (i >= s.size()) return std::string_view::npos;
    const char e = s[i];
    switch (e) {
      case 'a':
        out += u'\a';
        ++i;
        break;
      case 'b':
        out += u'\b';
        ++i;
        break;
      case 'e':
        out += u'\x1b';
        ++i;
        break;
      case 'f':
        out += u'\f';
        ++i;
        break;
      case 'n':
        out += u'\n';
        ++i;
        break;
      case 'r':
        out += u'\r';
        ++i;
        break;
      case 't':
        out += u'\t';
        ++i;
        break;
      case 'v':
        out += u'\v';
        ++i;
        break;
      case 'x': {
        ++i;
        if (i >= s.size() || HexValue(s[i]) < 0) {
          out += u'x';
          break;
        }
        unsigned v = 0;
        for (int k = 0; k < 4 && i < s.size() && HexValue(s[i]) >= 0; ++k, ++i) {
          v = v * 16 + static_cast<unsigned>(HexValue(s[i]));
        }
        out += static_cast<char16_t>(v);
        break;
      }
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7': {
        unsigned v = 0;
        for (int k = 0; k < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++k, ++i) {
          v = v * 8 + static_cast<unsigned>(s[i] - '0');
        }
        out += static_cast<char16_t>(v);
        break;
      }
      case '\n':
        return std::string_view::npos;
      default:
        // Any other escaped character stands for itself.
        if (static_cast<unsigned char>(e) < 0x80) {
          out += static_cast<char16_t>(e);
          ++i;
        }
        break;
    }
  }
  return std::string_view::npos;
}

int CompareWineOrder(std::string_view a, std::string_view b) {
  if (IsAscii(a) && IsAscii(b)) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
      const char16_t x = LowerUnit(static_cast<unsigned char>(a[i]));
      const char16_t y = LowerUnit(static_cast<unsigned char>(b[i]));
      if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
  }
  const std::u16string x = Utf8ToUtf16(a), y = Utf8ToUtf16(b);
  const std::size_t n = std::min(x.size(), y.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t p = LowerUnit(x[i]), q = LowerUnit(y[i]);
    if (p != q) return p < q ? -1 : 1;
  }
  return x.size() < y.size() ? -1 : x.size() > y.size() ? 1 : 0;
}

int CompareFolded(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80 || y >= 0x80) {
      const int c = FoldName(a.substr(i)).compare(FoldName(b.substr(i)));
      return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    const char16_t p = FoldCodeUnit(x), q = FoldCodeUnit(y);
    if (p != q) return p < q ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::string FormatWineValue(std::string_view name, uint32_t type, std::string_view data) {
  std::string out;
  std::size_t count;
  if (!name.empty()) {
    const std::string escaped = EscapeWine(name, false);
    out += '"';
    out += escaped;
    out += "\"=";
    count = escaped.size() + 3;
  } else {
    out += "@=";
    count = 2;
  }
  std::string bytes;
  if (IsTextType(type)) {
    const std::u16string units = Utf8ToUtf16(data);
    if (!units.empty() && units.back() == 0) {
      if (type != RegType::Sz) {
        char tag[24];
        std::snprintf(tag, sizeof tag, "str(%x):", type);
        out += tag;
      }
      out += '"';
      out += EscapeUnits(std::u16string_view(units).substr(0, units.size() - 1), false);
      out += "\"\n";
      return out;
    }
    bytes = Utf16LeBytes(units);
  } else if (type == RegType::Dword && data.size() == 4) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
    char buf[32];
    std::snprintf(buf, sizeof buf, "dword:%08x\n", v);
    out += buf;
    return out;
  } else {
    bytes = std::string(data);
  }
  char tag[24];
  if (type == RegType::Binary) {
    std::snprintf(tag, sizeof tag, "hex:");
  } else {
    std::snprintf(tag, sizeof tag, "hex(%x):", type);
  }
  out += tag;
  count += std::char_traits<char>::length(tag);
  static constexpr char kDigits[] = "0123456789abcdef";
  out.reserve(out.size() + bytes.size() * 3 + bytes.size() / 8);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
    count += 2;
    if (i + 1 < bytes.size()) {
      out += ',';
      if (++count > 76) {
        out += "\\\n  ";
        count = 2;
      }
    }
  }
  out += '\n';
  return out;
}

bool ParseWineValue(std::string_view raw, std::string& name, uint32_t& type, std::string& data) {
  const std::string joined = JoinContinuations(raw);
  const std::string_view s = joined;
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  if (i >= s.size()) return false;
  name.clear();
  data.clear();
  type = RegType::None;
  if (s[i] == '@') {
    ++i;
  } else if (s[i] == '"') {
    std::u16string units;
    const std::size_t after = UnescapeWine(s, i + 1, '"', units);
    if (after == std::string_view::npos) return false;
    AppendUtf16AsUtf8(units, name);
    i = after;
  } else {
    return false;
  }
  while (i < s.size() && IsBlank(s[i])) ++i;
  if (i >= s.size() || s[i] != '=') return false;
  ++i;
  while (i < s.size() && IsBlank(s[i])) ++i;
  const std::string_view rest = s.substr(i);
  auto text = [&](std::size_t skip, uint32_t t) {
    std::u16string units;
    if (UnescapeWine(rest, skip, '"', units) == std::string_view::npos) return;
    units += u'\0';
    type = t;
    AppendUtf16AsUtf8(units, data);
  };
  auto starts = [&](std::string_view p) {
    if (rest.size() < p.size()) return false;
    for (std::size_t k = 0; k < p.size(); ++k) {
      if (LowerUnit(static_cast<unsigned char>(rest[k])) != static_cast<unsigned char>(p[k]))
        return false;
    }
    return true;
  };
  if (starts("\"")) {
    text(1, RegType::Sz);
  } else if (starts("str:\"")) {
    text(5, RegType::Sz);
  } else if (starts("str(2):\"")) {
    text(8, RegType::ExpandSz);
  } else if (starts("str(7):\"")) {
    text(8, RegType::MultiSz);
  } else if (starts("dword:")) {
    uint64_t v = 0;
    std::size_t k = 6, digits = 0;
    while (k < rest.size() && HexValue(rest[k]) >= 0 && digits < 17) {
      v = v * 16 + static_cast<uint64_t>(HexValue(rest[k]));
      ++k, ++digits;
    }
    if (digits > 0 && digits <= 8) {
      type = RegType::Dword;
      for (int b = 0; b < 4; ++b) data += static_cast<char>((v >> (8 * b)) & 0xFF);
    }
  } else if (starts("hex:") || starts("hex(")) {
    std::size_t k = 3;
    uint64_t t = RegType::Binary;
    bool ok = true;
    if (rest[k] == '(') {
      ++k;
      t = 0;
      std::size_t digits = 0;
      while (k < rest.size() && HexValue(rest[k]) >= 0 && digits < 9) {
        t = t * 16 + static_cast<uint64_t>(HexValue(rest[k]));
        ++k, ++digits;
      }
      ok = digits > 0 && t <= 0xFFFFFFFFu && k < rest.size() && rest[k] == ')';
      ++k;
    }
    ok = ok && k < rest.size() && rest[k] == ':';
    ++k;
    std::string bytes;
    while (ok && k < rest.size()) {
      while (k < rest.size() && (IsBlank(rest[k]) || rest[k] == '\r')) ++k;
      if (k >= rest.size()) break;
      const int hi = HexValue(rest[k]);
      const int lo = k + 1 < rest.size() ? HexValue(rest[k + 1]) : -1;
      if (hi < 0 || lo < 0) {
        ok = false;
        break;
      }
      bytes += static_cast<char>(hi * 16 + lo);
      k += 2;
      while (k < rest.size() && IsBlank(rest[k])) ++k;
      if (k < rest.size() && rest[k] == ',') ++k;
    }
    if (ok) {
      type = static_cast<uint32_t>(t);
      if (IsTextType(type)) {
        AppendUtf16AsUtf8(FromUtf16Le(bytes), data);
      } else {
        data = std::move(bytes);
      }
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------

FileBytes::FileBytes(std::string text) : m_text(std::move(text)) {
  m_data = m_text.data();
  m_size = m_text.size();
}

FileBytes FileBytes::Map(int fd, const std::string& path) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    throw StoreOpenError(
        "The Wine registry file \"" + path + "\" cannot be read: " + std::strerror(errno) + ".",
        StoreErrorKind::Other);
  }
  FileBytes out;
  if (st.st_size == 0) return out;
  const auto length = static_cast<std::size_t>(st.st_size);
  void* map = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (map == MAP_FAILED) {
    throw StoreOpenError(
        "The Wine registry file \"" + path + "\" cannot be read: " + std::strerror(errno) + ".",
        StoreErrorKind::Other);
  }
  out.m_map = map;
  out.m_mapLength = length;
  out.m_data = static_cast<const char*>(map);
  out.m_size = length;
  return out;
}

FileBytes::FileBytes(FileBytes&& other) noexcept { *this = std::move(other); }

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
  if (this == &other) return *this;
  Release();
  m_text = std::move(other.m_text);
  m_map = other.m_map;
  m_mapLength = other.m_mapLength;
  m_size = other.m_size;
  m_data = m_map ? static_cast<const char*>(m_map) : m_text.data();
  other.m_map = nullptr;
  other.m_mapLength = 0;
  other.m_text.clear();
  other.m_data = "";
  other.m_size = 0;
  return *this;
}

FileBytes::~FileBytes() { Release(); }

void FileBytes::Release() {
  if (m_map) ::munmap(m_map, m_mapLength);
  m_map = nullptr;
  m_mapLength = 0;
}

RegistryFile::RegistryFile(FileBytes bytes, std::string path)
    : m_path(std::move(path)), m_bytes(std::move(bytes)) {
  Parse();
}

uint32_t RegistryFile::NewNode(uint32_t parent, std::string_view name) {
  const auto id = static_cast<uint32_t>(m_nodes.size());
  Node n;
  n.nameOff = static_cast<uint32_t>(m_names.size());
  n.nameLen = static_cast<uint16_t>(std::min<std::size_t>(name.size(), 0xFFFF));
  n.parent = parent;
  m_names.append(name.substr(0, n.nameLen));
  m_nodes.push_back(n);
  return id;
}

namespace {

// The components of a key path that holds nothing but plain ASCII and the `\\` separators,
// straight from the file; false for any other path (escapes, non-ASCII).
bool SplitPlainPath(std::string_view path, std::vector<std::string_view>& parts) {
  parts.clear();
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (c >= 0x80 || c < 0x20 || c == '"') return false;
    if (c != '\\') continue;
    if (i + 1 >= path.size() || path[i + 1] != '\\') return false;
    if (i > start) parts.push_back(path.substr(start, i - start));
    ++i;
    start = i + 1;
  }
  if (path.size() > start) parts.push_back(path.substr(start));
  return true;
}

}  // namespace

void RegistryFile::Parse() {
  const std::string_view s = Bytes();
  // Places within a block are kept in 32 bits: a larger file is no registry Wine wrote.
  if (s.size() > kMaxFileBytes) {
    throw StoreOpenError(
        "The Wine registry file \"" + m_path + "\" is larger than 2 GiB; it is not read.",
        StoreErrorKind::Limit);
  }
  std::size_t nl = s.find('\n');
  std::string_view first = s.substr(0, nl == std::string_view::npos ? s.size() : nl);
  if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
  if (first != kHeader) {
    throw StoreOpenError("The Wine registry file \"" + m_path +
                             "\" is damaged: its first line is not \"" + std::string(kHeader) +
                             "\". Wine does not read it either; nothing was changed.",
                         StoreErrorKind::Damaged);
  }
  // Every key line makes about one key: room for them all at once.
  std::size_t keyLines = 1;
  for (std::size_t k = s.find("\n["); k != std::string_view::npos; k = s.find("\n[", k + 2))
    ++keyLines;
  m_nodes.reserve(keyLines + keyLines / 8 + 16);
  m_blocks.reserve(keyLines);
  m_names.reserve(keyLines * 12);
  NewNode(kNone, "");  // the root
  std::size_t pos = nl == std::string_view::npos ? s.size() : nl + 1;
  if (pos < s.size()) {
    const std::size_t e = s.find('\n', pos);
    std::string_view second = s.substr(pos, e == std::string_view::npos ? s.npos : e - pos);
    if (second.substr(0, kRelative.size()) == kRelative) {
      std::u16string units;
      const std::string line = std::string(second.substr(kRelative.size())) + "\n";
      UnescapeWine(line, 0, '\n', units);
      AppendUtf16AsUtf8(units, m_relativeTo);
      while (!m_relativeTo.empty() && (m_relativeTo.back() == '\r' || m_relativeTo.back() == ' '))
        m_relativeTo.pop_back();
    }
  }
  m_headerEnd = s.size();
  std::vector<std::string_view> names, prevNames;
  std::vector<uint32_t> prevNodes;
  std::string scratch[2];
  int current = 0;
  std::u16string units;
  bool continued = false;
  while (pos < s.size()) {
    const std::size_t lineStart = pos;
    const void* hit = std::memchr(s.data() + pos, '\n', s.size() - pos);
    const std::size_t lineEnd =
        hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - s.data()) : s.size();
    pos = hit ? lineEnd + 1 : s.size();
    const bool wasContinued = continued;
    std::size_t last = lineEnd;
    if (last > lineStart && s[last - 1] == '\r') --last;
    continued = last > lineStart && s[last - 1] == '\\';
    if (wasContinued) continue;
    std::size_t i = lineStart;
    while (i < lineEnd && IsBlank(s[i])) ++i;
    if (i >= lineEnd || s[i] != '[') continue;
    // A key line starts a block; the previous block ends here.
    if (m_blocks.empty()) m_headerEnd = lineStart;
    Block block;
    block.begin = lineStart;
    // The path ends at the first ']' that no backslash escapes.
    std::size_t close = std::string_view::npos;
    for (std::size_t k = i + 1; k < lineEnd; ++k) {
      if (s[k] == '\\') {
        ++k;
      } else if (s[k] == ']') {
        close = k;
        break;
      }
    }
    bool ok = close != std::string_view::npos && close - lineStart < 0xFFFFFFFFu;
    if (ok && !SplitPlainPath(s.substr(i + 1, close - i - 1), names)) {
      // Escapes or other text: unescaped the way Wine reads it, then split at backslashes.
      units.clear();
      UnescapeWine(s.substr(0, close + 1), i + 1, ']', units);
      current ^= 1;
      std::string& text = scratch[current];
      text.clear();
      std::vector<std::size_t> cuts;
      std::size_t k = 0;
      while (k < units.size()) {
        while (k < units.size() && units[k] == u'\\') ++k;
        std::size_t j = k;
        while (j < units.size() && units[j] != u'\\') ++j;
        if (j > k) {
          cuts.push_back(text.size());
          AppendUtf16AsUtf8(std::u16string_view(units).substr(k, j - k), text);
          cuts.push_back(text.size());
        }
        k = j;
      }
      names.clear();
      for (std::size_t c = 0; c + 1 < cuts.size(); c += 2)
        names.push_back(std::string_view(text).substr(cuts[c], cuts[c + 1] - cuts[c]));
    }
    for (const std::string_view n : names) {
      if (n.size() > 0xFFFF) ok = false;
    }
    if (ok) {
      block.pathEnd = static_cast<uint32_t>(close + 1 - lineStart);
      std::size_t level = 0;
      while (level < names.size() && level < prevNames.size() && names[level] == prevNames[level])
        ++level;
      uint32_t node = level == 0 ? Root() : prevNodes[level - 1];
      prevNames.assign(names.begin(), names.end());
      prevNodes.resize(level);
      for (std::size_t k = level; k < names.size(); ++k) {
        node = AddChildLoading(node, names[k]);
        prevNodes.push_back(node);
      }
      block.node = node;
      const auto index = static_cast<uint32_t>(m_blocks.size());
      if (m_nodes[node].block == kNone) {
        m_nodes[node].block = index;
      } else {
        m_extraBlocks.emplace(node, index);
      }
    }
    m_blocks.push_back(block);
  }
  m_loadIndex.clear();
  m_indexed = false;
}

uint32_t RegistryFile::AddChildLoading(uint32_t parent, std::string_view name) {
  if (!m_indexed) {
    const uint32_t newest = m_nodes[parent].firstChild;
    if (newest == kNone || CompareWineOrder(Name(newest), name) < 0) {
      const uint32_t id = NewNode(parent, name);
      m_nodes[id].next = newest;
      m_nodes[parent].firstChild = id;
      return id;
    }
    // Out of Wine's order: from now on every key is looked up.
    m_indexed = true;
    for (uint32_t n = 1; n < m_nodes.size(); ++n) {
      m_loadIndex.emplace(HashOf(m_nodes[n].parent, Name(n)), n);
    }
  }
  const uint64_t h = HashOf(parent, name);
  const auto range = m_loadIndex.equal_range(h);
  for (auto it = range.first; it != range.second; ++it) {
    if (m_nodes[it->second].parent == parent && CompareFolded(Name(it->second), name) == 0)
      return it->second;
  }
  const uint32_t id = NewNode(parent, name);
  m_nodes[id].next = m_nodes[parent].firstChild;
  m_nodes[parent].firstChild = id;
  m_loadIndex.emplace(h, id);
  return id;
}

bool RegistryFile::Alive(uint32_t node) const {
  for (int guard = 0; node != kNone && guard <= kMaxKeyDepth + 8; ++guard) {
    if (node >= m_nodes.size() || Has(node, kDeletedFlag)) return false;
    node = m_nodes[node].parent;
  }
  return node == kNone;
}

std::vector<uint32_t>& RegistryFile::SortedChildren(uint32_t node) {
  std::vector<uint32_t>& kids = m_children[node];
  if (Has(node, kSortedFlag)) return kids;
  Set(node, kSortedFlag, true);
  for (uint32_t c = m_nodes[node].firstChild; c != kNone; c = m_nodes[c].next) kids.push_back(c);
  std::reverse(kids.begin(), kids.end());
  m_nodes[node].firstChild = kNone;
  auto less = [this](uint32_t a, uint32_t b) { return CompareFolded(Name(a), Name(b)) < 0; };
  if (std::is_sorted(kids.begin(), kids.end(), less)) return kids;
  // Sorting by ready-made folded names beats comparing names by their folds again.
  std::vector<std::pair<std::string, uint32_t>> keyed;
  keyed.reserve(kids.size());
  for (const uint32_t c : kids) keyed.emplace_back(FoldName(Name(c)), c);
  std::sort(keyed.begin(), keyed.end());
  for (std::size_t i = 0; i < keyed.size(); ++i) kids[i] = keyed[i].second;
  return kids;
}

const std::vector<uint32_t>& RegistryFile::Children(uint32_t node) { return SortedChildren(node); }

uint32_t RegistryFile::FindChild(uint32_t node, std::string_view name) {
  const std::vector<uint32_t>& kids = SortedChildren(node);
  auto it = std::lower_bound(
      kids.begin(), kids.end(), name,
      [this](uint32_t c, std::string_view n) { return CompareFolded(Name(c), n) < 0; });
  if (it != kids.end() && CompareFolded(Name(*it), name) == 0) return *it;
  return kNone;
}

void RegistryFile::InsertSorted(uint32_t parent, uint32_t child) {
  std::vector<uint32_t>& kids = SortedChildren(parent);
  const std::string name(Name(child));
  auto it = std::lower_bound(
      kids.begin(), kids.end(), name,
      [this](uint32_t c, const std::string& x) { return CompareFolded(Name(c), x) < 0; });
  kids.insert(it, child);
}

void RegistryFile::EnsureParsed(uint32_t node) {
  if (Has(node, kParsedFlag)) return;
  Set(node, kParsedFlag, true);
  const uint32_t first = m_nodes[node].block;
  if (first == kNone) return;
  ParseBlock(node, first);
  const auto range = m_extraBlocks.equal_range(node);
  std::vector<uint32_t> extra;
  for (auto it = range.first; it != range.second; ++it) extra.push_back(it->second);
  std::sort(extra.begin(), extra.end());
  for (const uint32_t b : extra) ParseBlock(node, b);
}

void RegistryFile::ParseBlock(uint32_t node, uint32_t blockIndex) {
  const std::string_view text = BlockText(blockIndex);
  std::size_t pos = LogicalLineEnd(text, 0);
  pos = pos < text.size() ? pos + 1 : text.size();
  std::string name, data;
  uint32_t type = 0;
  while (pos < text.size()) {
    const std::size_t end = LogicalLineEnd(text, pos);
    const std::string_view line = text.substr(pos, end - pos);
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i < line.size()) {
      const char c = line[i];
      if (c == '#') {
        const std::string_view opt = line.substr(i);
        if (opt.substr(0, 5) == "#link") Set(node, kLinkFlag, true);
        if (opt.substr(0, 7) == "#class=") Set(node, kClassFlag, true);
      } else if ((c == '@' || c == '"') && ParseWineValue(line, name, type, data)) {
        std::vector<Value>& values = m_values[node];
        auto it = std::find_if(values.begin(), values.end(),
                               [&](const Value& v) { return CompareFolded(v.name, name) == 0; });
        if (it != values.end()) {
          // A name given twice: the last data wins in the first place, as Wine loads it.
          it->type = type;
          it->data = data;
          it->changed = true;
        } else {
          Value v;
          v.name = name;
          v.type = type;
          v.data = data;
          v.block = blockIndex;
          v.rawBegin = static_cast<uint32_t>(pos);
          v.rawEnd = static_cast<uint32_t>(end < text.size() ? end + 1 : end);
          values.push_back(std::move(v));
        }
      }
    }
    pos = end < text.size() ? end + 1 : text.size();
  }
}

const std::vector<RegistryFile::Value>& RegistryFile::Values(uint32_t node) {
  EnsureParsed(node);
  return m_values[node];
}

bool RegistryFile::IsLink(uint32_t node) {
  EnsureParsed(node);
  return Has(node, kLinkFlag);
}

void RegistryFile::Touch(uint32_t node) {
  EnsureParsed(node);
  const auto t = m_times.find(node);
  Undo u{Undo::NodeState, node, m_values[node], t == m_times.end() ? 0 : t->second,
         Has(node, kTouchedFlag)};
  m_undo.push_back(std::move(u));
  m_times[node] = Now();
  if (!Has(node, kTouchedFlag)) {
    Set(node, kTouchedFlag, true);
    m_touched.push_back(node);
  }
}

uint32_t RegistryFile::Pin(uint32_t parent, std::string_view name) {
  uint32_t found = FindChild(parent, name);
  if (found == kNone) {
    found = NewNode(parent, name);
    Set(found, kParsedFlag | kSortedFlag, true);
    InsertSorted(parent, found);
  }
  Set(found, kPinnedFlag, true);
  return found;
}

uint32_t RegistryFile::CreateChild(uint32_t parent, std::string_view name) {
  const uint32_t found = FindChild(parent, name);
  if (found != kNone) return found;
  const uint32_t id = NewNode(parent, name);
  Set(id, kParsedFlag | kSortedFlag, true);
  InsertSorted(parent, id);
  m_undo.push_back(Undo{Undo::Created, id, {}, 0, false});
  Touch(parent);
  Touch(id);
  return id;
}

void RegistryFile::DeleteChild(uint32_t parent, uint32_t child) {
  std::vector<uint32_t>& kids = SortedChildren(parent);
  kids.erase(std::remove(kids.begin(), kids.end(), child), kids.end());
  Set(child, kDeletedFlag, true);
  m_undo.push_back(Undo{Undo::Deleted, child, {}, 0, false});
  Touch(parent);
}

void RegistryFile::SetValue(uint32_t node, std::string_view name, uint32_t type,
                            std::string_view data) {
  Touch(node);
  std::vector<Value>& values = m_values[node];
  for (Value& v : values) {
    if (CompareFolded(v.name, name) == 0) {
      v.type = type;
      v.data = std::string(data);
      v.changed = true;
      return;
    }
  }
  Value v;
  v.name = std::string(name);
  v.type = type;
  v.data = std::string(data);
  v.changed = true;
  values.push_back(std::move(v));
}

bool RegistryFile::DeleteValue(uint32_t node, std::string_view name) {
  EnsureParsed(node);
  std::vector<Value>& values = m_values[node];
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (CompareFolded(values[i].name, name) == 0) {
      Touch(node);
      std::vector<Value>& after = m_values[node];
      after.erase(after.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

void RegistryFile::UndoTo(std::size_t mark) {
  while (m_undo.size() > mark) {
    Undo u = std::move(m_undo.back());
    m_undo.pop_back();
    switch (u.kind) {
      case Undo::Created: {
        std::vector<uint32_t>& kids = SortedChildren(m_nodes[u.node].parent);
        kids.erase(std::remove(kids.begin(), kids.end(), u.node), kids.end());
        Set(u.node, kDeletedFlag, true);
        break;
      }
      case Undo::Deleted:
        Set(u.node, kDeletedFlag, false);
        InsertSorted(m_nodes[u.node].parent, u.node);
        break;
      case Undo::NodeState:
        m_values[u.node] = std::move(u.values);
        if (u.time) {
          m_times[u.node] = u.time;
        } else {
          m_times.erase(u.node);
        }
        Set(u.node, kTouchedFlag, u.touched);
        break;
    }
  }
}

bool RegistryFile::Changed() const {
  for (const uint32_t t : m_touched) {
    if (Has(t, kTouchedFlag)) return true;
  }
  return false;
}

bool RegistryFile::NeedsBlock(uint32_t node) {
  EnsureParsed(node);
  return !m_values[node].empty() || SortedChildren(node).empty() || Has(node, kLinkFlag) ||
         Has(node, kClassFlag);
}

std::string RegistryFile::EscapedPath(uint32_t node) const {
  std::vector<uint32_t> chain;
  for (uint32_t n = node; n != Root() && n != kNone; n = m_nodes[n].parent) chain.push_back(n);
  std::string out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!out.empty()) out += "\\\\";
    out += EscapeWine(Name(*it), true);
  }
  return out;
}

int RegistryFile::ComparePaths(uint32_t a, uint32_t b) const {
  std::vector<uint32_t> pa, pb;
  for (uint32_t n = a; n != Root() && n != kNone; n = m_nodes[n].parent) pa.push_back(n);
  for (uint32_t n = b; n != Root() && n != kNone; n = m_nodes[n].parent) pb.push_back(n);
  std::size_t i = pa.size(), j = pb.size();
  while (i > 0 && j > 0) {
    --i, --j;
    if (pa[i] == pb[j]) continue;
    const int c = CompareWineOrder(Name(pa[i]), Name(pb[j]));
    if (c != 0) return c;
  }
  return i > 0 ? 1 : j > 0 ? -1 : 0;
}

namespace {

// Ends the text so far with a blank line, as Wine puts one before each key line.
void EnsureBlankLine(std::string& out, std::string_view before) {
  const std::size_t n = out.size();
  const char last = n >= 1 ? out[n - 1] : (before.empty() ? '\0' : before.back());
  const char prev = n >= 2   ? out[n - 2]
                    : n == 1 ? (before.empty() ? '\0' : before.back())
                             : (before.size() >= 2 ? before[before.size() - 2] : '\0');
  if (last == '\n' && prev == '\n') return;
  if (last != '\n') out += '\n';
  out += '\n';
}

}  // namespace

void RegistryFile::EmitValue(std::string& out, uint64_t outBase, uint32_t node, std::size_t k,
                             uint32_t newBlock) {
  const Value& v = m_values[node][k];
  const uint64_t blockBegin = m_staged.blocks[newBlock].begin;
  const uint64_t begin = outBase + out.size();
  if (!v.changed && v.block != kNone) {
    const std::string_view src = BlockText(v.block).substr(v.rawBegin, v.rawEnd - v.rawBegin);
    out.append(src);
    if (src.empty() || src.back() != '\n') out += '\n';
  } else {
    out += FormatWineValue(v.name, v.type, v.data);
  }
  m_staged.places.push_back(ValuePlace{node, k, newBlock, static_cast<uint32_t>(begin - blockBegin),
                                       static_cast<uint32_t>(outBase + out.size() - blockBegin)});
}

// The rewritten block of a changed key: its key line's path as it was, Wine's new time
// lines, its other lines in place; changed values rewritten where they stood, new ones
// where Wine's name order puts them, deleted ones dropped.
void RegistryFile::AppendBlock(std::string& out, uint64_t outBase, uint32_t blockIndex,
                               uint32_t newBlock) {
  const Block& b = m_blocks[blockIndex];
  const uint32_t node = b.node;
  const std::vector<Value>& values = m_values[node];
  const std::string_view text = BlockText(blockIndex);
  out.append(text.substr(0, b.pathEnd));
  out += TimeLines(m_times[node]);
  std::vector<std::size_t> placed, floating;
  for (std::size_t k = 0; k < values.size(); ++k) {
    (values[k].block == blockIndex ? placed : floating).push_back(k);
  }
  std::sort(floating.begin(), floating.end(), [&](std::size_t x, std::size_t y) {
    return CompareWineOrder(values[x].name, values[y].name) < 0;
  });
  std::size_t next = 0;
  auto flushBefore = [&](const std::string* name) {
    while (next < floating.size() &&
           (!name || CompareWineOrder(values[floating[next]].name, *name) < 0)) {
      EmitValue(out, outBase, node, floating[next++], newBlock);
    }
  };
  std::size_t pos = LogicalLineEnd(text, 0);
  pos = pos < text.size() ? pos + 1 : text.size();
  while (pos < text.size()) {
    const std::size_t end = LogicalLineEnd(text, pos);
    const std::size_t stop = end < text.size() ? end + 1 : end;
    const std::string_view line = text.substr(pos, stop - pos);
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    const char c = i < line.size() ? line[i] : '\n';
    if (c == '#' && line.substr(i, 6) == "#time=") {
      // replaced above
    } else if (c == '@' || c == '"') {
      auto it = std::find_if(placed.begin(), placed.end(),
                             [&](std::size_t k) { return values[k].rawBegin == pos; });
      if (it != placed.end()) {
        flushBefore(&values[*it].name);
        EmitValue(out, outBase, node, *it, newBlock);
      } else {
        std::string nm, d;
        uint32_t t = 0;
        if (!ParseWineValue(line, nm, t, d)) out.append(line);  // not a value: kept as it is
      }
    } else if (c == '\n' || c == '\r') {
      flushBefore(nullptr);
      out.append(line);
    } else {
      out.append(line);
    }
    pos = stop;
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  flushBefore(nullptr);
}

void RegistryFile::AppendNewBlock(std::string& out, uint64_t outBase, uint32_t node,
                                  uint32_t newBlock) {
  const std::size_t start = out.size();
  out += '[';
  out += EscapedPath(node);
  out += ']';
  m_staged.blocks[newBlock].pathEnd = static_cast<uint32_t>(out.size() - start);
  const auto t = m_times.find(node);
  out += TimeLines(t != m_times.end() ? t->second : Now());
  const std::vector<Value>& values = m_values[node];
  std::vector<std::size_t> order(values.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    return CompareWineOrder(values[x].name, values[y].name) < 0;
  });
  for (const std::size_t k : order) EmitValue(out, outBase, node, k, newBlock);
}

std::vector<RegistryFile::Piece> RegistryFile::SerializePieces() {
  // Keys that need a block of their own now and have none, in Wine's order.
  std::vector<uint32_t> fresh;
  for (const uint32_t t : m_touched) {
    if (Has(t, kTouchedFlag) && m_nodes[t].block == kNone && Alive(t) && NeedsBlock(t))
      fresh.push_back(t);
  }
  std::sort(fresh.begin(), fresh.end());
  fresh.erase(std::unique(fresh.begin(), fresh.end()), fresh.end());
  std::sort(fresh.begin(), fresh.end(),
            [this](uint32_t a, uint32_t b) { return ComparePaths(a, b) < 0; });
  // Where each goes: before the first block whose key comes after it.
  std::vector<std::size_t> at(fresh.size());
  for (std::size_t k = 0; k < fresh.size(); ++k) {
    std::size_t lo = 0, hi = m_blocks.size();
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      const uint32_t mn = m_blocks[mid].node;
      if (mn == kNone || ComparePaths(mn, fresh[k]) < 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    at[k] = lo;
  }
  m_staged = Staged{};
  m_staged.remap.assign(m_blocks.size(), kNone);
  m_staged.blocks.reserve(m_blocks.size() + fresh.size());
  m_generated.clear();
  const std::string_view bytes = Bytes();
  std::vector<Piece> pieces;
  uint64_t size = 0;
  // Runs of unchanged bytes are one piece each; generated text is kept in m_generated.
  std::size_t runBegin = 0, runEnd = 0;
  auto flushRun = [&] {
    if (runEnd > runBegin) {
      pieces.push_back(Piece{bytes.data() + runBegin, runEnd - runBegin});
      size += runEnd - runBegin;
    }
    runBegin = runEnd = 0;
  };
  auto take = [&](std::size_t from, std::size_t to) {
    if (runEnd == from && runEnd > runBegin) {
      runEnd = to;
    } else {
      flushRun();
      runBegin = from;
      runEnd = to;
    }
  };
  // The text written last, for the blank line rule.
  auto tail = [&]() -> std::string_view {
    if (runEnd > runBegin) return bytes.substr(runBegin, runEnd - runBegin);
    return pieces.empty() ? std::string_view()
                          : std::string_view(pieces.back().data, pieces.back().size);
  };
  take(0, m_headerEnd);
  bool disturbed = false;
  auto open = [&](uint32_t node, uint32_t pathEnd, uint64_t begin) {
    Block nb;
    nb.begin = begin;
    nb.pathEnd = pathEnd;
    nb.node = node;
    m_staged.blocks.push_back(nb);
    return static_cast<uint32_t>(m_staged.blocks.size() - 1);
  };
  auto generated = [&](auto&& write) {
    const std::string_view before = tail();
    flushRun();
    std::string out;
    EnsureBlankLine(out, before);
    write(out, size + out.size());
    size += out.size();
    m_generated.push_back(std::move(out));
    pieces.push_back(Piece{m_generated.back().data(), m_generated.back().size()});
  };
  std::size_t f = 0;
  for (std::size_t bi = 0; bi <= m_blocks.size(); ++bi) {
    while (f < fresh.size() && at[f] == bi) {
      const uint32_t node = fresh[f++];
      generated([&](std::string& out, uint64_t base) {
        const uint32_t nb = open(node, 0, base);
        AppendNewBlock(out, base - out.size(), node, nb);
      });
      disturbed = true;
    }
    if (bi == m_blocks.size()) break;
    const Block& b = m_blocks[bi];
    if (b.node != kNone) {
      if (!Alive(b.node)) {
        disturbed = true;
        continue;
      }
      if (Has(b.node, kTouchedFlag)) {
        if (m_nodes[b.node].block == bi && NeedsBlock(b.node)) {
          generated([&](std::string& out, uint64_t base) {
            const uint32_t nb = open(b.node, b.pathEnd, base);
            m_staged.remap[bi] = nb;
            AppendBlock(out, base - out.size(), static_cast<uint32_t>(bi), nb);
          });
        }
        disturbed = true;
        continue;
      }
    }
    if (disturbed) {
      const std::string_view before = tail();
      std::string gap;
      EnsureBlankLine(gap, before);
      if (!gap.empty()) {
        flushRun();
        size += gap.size();
        m_generated.push_back(std::move(gap));
        pieces.push_back(Piece{m_generated.back().data(), m_generated.back().size()});
      }
      disturbed = false;
    }
    const uint64_t at0 = size + (runEnd > runBegin ? runEnd - runBegin : 0);
    m_staged.remap[bi] = open(b.node, b.pathEnd, at0);
    take(b.begin, BlockEnd(bi));
  }
  flushRun();
  // A file that did not end in a blank line does not get one.
  const bool endedBlank = bytes.size() >= 2 && bytes.substr(bytes.size() - 2) == "\n\n";
  while (!endedBlank && !pieces.empty()) {
    Piece& p = pieces.back();
    const bool blankEnd = p.size >= 2 && p.data[p.size - 1] == '\n' && p.data[p.size - 2] == '\n';
    if (!blankEnd) break;
    --p.size;
    --size;
  }
  m_staged.size = size;
  m_staged.valid = true;
  return pieces;
}

std::string RegistryFile::Serialize() {
  std::string out;
  for (const Piece& p : SerializePieces()) out.append(p.data, p.size);
  return out;
}

void RegistryFile::Saved(FileBytes bytes) {
  if (!m_staged.valid) return;
  m_bytes = std::move(bytes);
  const std::vector<uint32_t>& remap = m_staged.remap;
  for (uint32_t id = 0; id < m_nodes.size(); ++id) {
    Node& n = m_nodes[id];
    if (n.flags & kTouchedFlag) {
      n.block = kNone;  // set below from the staged blocks
      Set(id, kTouchedFlag, false);
    } else if (n.block != kNone) {
      n.block = remap[n.block];
    }
  }
  for (auto& [node, values] : m_values) {
    for (Value& v : values) {
      if (v.block != kNone) v.block = remap[v.block];
    }
  }
  std::unordered_multimap<uint32_t, uint32_t> extra;
  for (const auto& [node, block] : m_extraBlocks) {
    if (remap[block] != kNone && m_nodes[node].block != kNone) extra.emplace(node, remap[block]);
  }
  m_blocks = std::move(m_staged.blocks);
  for (uint32_t k = 0; k < m_blocks.size(); ++k) {
    const uint32_t node = m_blocks[k].node;
    if (node != kNone && m_nodes[node].block == kNone) m_nodes[node].block = k;
  }
  for (const ValuePlace& p : m_staged.places) {
    Value& v = m_values[p.node][p.index];
    v.block = p.block;
    v.rawBegin = p.rawBegin;
    v.rawEnd = p.rawEnd;
    v.changed = false;
  }
  m_extraBlocks = std::move(extra);
  m_touched.clear();
  m_undo.clear();
  m_staged = Staged{};
  m_generated.clear();
}

void RegistryFile::AdoptIds(RegistryFile& old) {
  std::vector<uint32_t> toOld(m_nodes.size(), kNone);
  std::vector<char> oldTaken(old.m_nodes.size(), 0);
  std::vector<std::pair<uint32_t, uint32_t>> stack{{Root(), old.Root()}};
  while (!stack.empty()) {
    const auto [mine, theirs] = stack.back();
    stack.pop_back();
    if (toOld.size() < m_nodes.size()) toOld.resize(m_nodes.size(), kNone);
    toOld[mine] = theirs;
    oldTaken[theirs] = 1;
    const std::vector<uint32_t> a = SortedChildren(mine);
    const std::vector<uint32_t>& b = old.SortedChildren(theirs);
    std::size_t i = 0, j = 0;
    std::vector<uint32_t> missingPinned;
    while (j < b.size()) {
      const int c = i < a.size() ? CompareFolded(Name(a[i]), old.Name(b[j])) : 1;
      if (c == 0) {
        stack.emplace_back(a[i++], b[j++]);
      } else if (c < 0) {
        ++i;
      } else {
        if (old.Pinned(b[j])) missingPinned.push_back(b[j]);
        ++j;
      }
    }
    for (const uint32_t o : missingPinned) stack.emplace_back(Pin(mine, old.Name(o)), o);
  }
  toOld.resize(m_nodes.size(), kNone);
  // Final ids: the old ids for shared keys, new ids after the old ones for the rest.
  std::vector<uint32_t> finalId(m_nodes.size());
  auto next = static_cast<uint32_t>(old.m_nodes.size());
  for (uint32_t n = 0; n < m_nodes.size(); ++n) finalId[n] = toOld[n] != kNone ? toOld[n] : next++;
  std::vector<Node> nodes(next);
  for (uint32_t o = 0; o < old.m_nodes.size(); ++o) {
    if (oldTaken[o]) continue;
    // A key gone from the file: kept as deleted, so that references to it read as gone.
    nodes[o].nameOff = static_cast<uint32_t>(m_names.size());
    nodes[o].nameLen = old.m_nodes[o].nameLen;
    m_names.append(old.Name(o));
    nodes[o].parent = old.m_nodes[o].parent;
    nodes[o].flags = kDeletedFlag | kParsedFlag | kSortedFlag;
  }
  std::unordered_map<uint32_t, std::vector<uint32_t>> children;
  for (uint32_t n = 0; n < m_nodes.size(); ++n) {
    Node node = m_nodes[n];
    if (node.parent != kNone) node.parent = finalId[node.parent];
    if (node.firstChild != kNone) node.firstChild = finalId[node.firstChild];
    if (node.next != kNone) node.next = finalId[node.next];
    nodes[finalId[n]] = node;
  }
  for (auto& [node, kids] : m_children) {
    for (uint32_t& c : kids) c = finalId[c];
    children[finalId[node]] = std::move(kids);
  }
  std::unordered_map<uint32_t, std::vector<Value>> values;
  for (auto& [node, v] : m_values) values[finalId[node]] = std::move(v);
  m_nodes = std::move(nodes);
  m_children = std::move(children);
  m_values = std::move(values);
  m_times.clear();
  for (Block& b : m_blocks) {
    if (b.node != kNone) b.node = finalId[b.node];
  }
  std::unordered_multimap<uint32_t, uint32_t> extra;
  for (const auto& [node, block] : m_extraBlocks) extra.emplace(finalId[node], block);
  m_extraBlocks = std::move(extra);
  m_touched.clear();
  m_undo.clear();
}

}  // namespace kestrova::wine
