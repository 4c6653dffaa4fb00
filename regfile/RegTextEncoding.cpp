#include "regfile/RegTextEncoding.h"

#include <cstring>

#include "store/RegistryRules.h"

namespace kestrova {
namespace {

// The code points of Windows-1252's bytes 0x80 to 0x9F; all other bytes are their own code.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr uint64_t kHighBits = 0x8080808080808080ull;
constexpr uint64_t kLowBits = 0x0101010101010101ull;

uint64_t Load8(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// For a word without high bits: a high bit in every byte that equals `c`.
uint64_t BytesEqual(uint64_t w, unsigned char c) {
  const uint64_t x = w ^ (kLowBits * c);
  return (x - kLowBits) & ~x & kHighBits;
}

}  // namespace

bool AppendUtf16Unit(uint32_t unit, uint32_t& high, std::string& out, char unpaired) {
  bool paired = true;
  if (high != 0) {
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      AppendUtf8(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00), out);
      high = 0;
      return true;
    }
    out += unpaired;
    high = 0;
    paired = false;
  }
  if (unit < 0x80) {
    out += static_cast<char>(unit);
  } else if (unit >= 0xD800 && unit <= 0xDBFF) {
    high = unit;
  } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
    out += unpaired;
    paired = false;
  } else {
    AppendUtf8(unit, out);
  }
  return paired;
}

bool AppendUtf16LeAsUtf8(std::string_view utf16, std::string& out) {
  if (utf16.size() % 2 != 0) return false;
  const std::size_t start = out.size();
  uint32_t high = 0;
  bool paired = true;
  for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
    uint32_t unit = static_cast<uint8_t>(utf16[i]) | (static_cast<uint8_t>(utf16[i + 1]) << 8);
    paired = AppendUtf16Unit(unit, high, out, '?') && paired;
  }
  if (paired && high == 0) return true;
  out.resize(start);
  return false;
}

bool IsUtf8(std::string_view bytes) {
  const char* p = bytes.data();
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    if (i + 8 <= n && (Load8(p + i) & kHighBits) == 0) {
      i += 8;
      continue;
    }
    const auto c = static_cast<unsigned char>(p[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int need;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
    } else if (c == 0xE0) {
      need = 2, low = 0xA0;
    } else if (c == 0xED) {
      need = 2, high = 0x9F;
    } else if (c >= 0xE1 && c <= 0xEF) {
      need = 2;
    } else if (c == 0xF0) {
      need = 3, low = 0x90;
    } else if (c >= 0xF1 && c <= 0xF3) {
      need = 3;
    } else if (c == 0xF4) {
      need = 3, high = 0x8F;
    } else {
      return false;
    }
    if (n - i <= static_cast<std::size_t>(need)) return false;
    for (int k = 1; k <= need; ++k) {
      const auto b = static_cast<unsigned char>(p[i + k]);
      if (b < low || b > high) return false;
      low = 0x80, high = 0xBF;
    }
    i += static_cast<std::size_t>(need) + 1;
  }
  return true;
}

void AppendWindows1252AsUtf8(std::string_view bytes, std::string& out) {
  out.reserve(out.size() + bytes.size());
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) continue;
    out.append(bytes.substr(start, i - start));
    AppendUtf8(c < 0xA0 ? kCp1252High[c - 0x80] : c, out);
    start = i + 1;
  }
  out.append(bytes.substr(start));
}

std::string Abbreviate(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t cut = maxBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut)) + "...";
}

void ByteTextScan::Feed(std::string_view bytes) {
  const char* p = bytes.data();
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n && !Done()) {
    if (m_need == 0 && i + 8 <= n) {
      const uint64_t w = Load8(p + i);
      if ((w & kHighBits) == 0 &&
          (BytesEqual(w, 0) | BytesEqual(w, '\n') | BytesEqual(w, '\r')) == 0) {
        m_afterCR = false;
        m_lineBytes += 8;
        if (m_lineBytes > kMaxRegLineBytes) m_stopped = true;
        i += 8;
        continue;
      }
    }
    Slow(static_cast<unsigned char>(p[i++]));
  }
}

void ByteTextScan::Finish() {
  if (m_need > 0) m_invalid = true;
}

void ByteTextScan::Slow(unsigned char c) {
  if (m_need > 0) {
    if (c < m_low || c > m_high) {
      m_invalid = true;
      return;
    }
    m_low = 0x80, m_high = 0xBF;
    --m_need;
    ++m_lineBytes;
    return;
  }
  if (c == '\n' || c == '\r') {
    if (c == '\r' || !m_afterCR) ++m_line;
    m_afterCR = c == '\r';
    m_lineBytes = 0;
    return;
  }
  m_afterCR = false;
  if (c == 0 || ++m_lineBytes > kMaxRegLineBytes) {
    m_stopped = true;
    return;
  }
  if (c < 0x80) return;
  m_nonAscii = true;
  if (c >= 0xC2 && c <= 0xDF) {
    m_need = 1;
  } else if (c == 0xE0) {
    m_need = 2, m_low = 0xA0;
  } else if (c == 0xED) {
    m_need = 2, m_high = 0x9F;
  } else if (c >= 0xE1 && c <= 0xEF) {
    m_need = 2;
  } else if (c == 0xF0) {
    m_need = 3, m_low = 0x90;
  } else if (c >= 0xF1 && c <= 0xF3) {
    m_need = 3;
  } else if (c == 0xF4) {
    m_need = 3, m_high = 0x8F;
  } else {
    m_invalid = true;
  }
}

}  // namespace kestrova
