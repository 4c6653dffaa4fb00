#include "regfile/RegParser.h"

#include <cstring>

#include "regfile/RegRoots.h"
#include "store/RegistryRules.h"

namespace kestrova {
namespace {

// Text given as hex in a version 5 file is UTF-16, which can shrink by half when it becomes
// UTF-8; beyond this no value can fit the data limit, so reading stops keeping bytes.
constexpr std::size_t kMaxRawHex = 2 * kMaxValueData + 2;

// Leading blanks and the header itself: a first line longer than this is no header.
constexpr std::size_t kMaxHeaderLine = 256;
// What the UTF-16 decoder puts into a line in place of what cannot be text, so that the
// line is refused as a whole: neither byte occurs in UTF-8.
constexpr char kLoneSurrogate = '\xFE';
constexpr char kStrayByte = '\xFF';

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader31 = "REGEDIT";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view SkipBlanks(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

std::string_view TrimBlanks(std::string_view s) {
  s = SkipBlanks(s);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Only blanks, or blanks and a ';' comment.
bool IsEndOfData(std::string_view s) {
  s = SkipBlanks(s);
  return s.empty() || s[0] == ';';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Text given as hex in a version 5 file should be UTF-16LE, but files written by hand often
// hold 8-bit bytes there. Odd-sized data cannot be UTF-16, and data whose only zero byte is
// its last is an 8-bit string with its terminator; reading either as UTF-16 would turn it to
// garbage.
bool LooksLike8BitText(std::string_view data) {
  if (data.size() % 2 != 0) return true;
  // Two bytes ending in NUL are one UTF-16 character ("e9,00" is "é").
  return data.size() > 2 && data.back() == '\0' && data.find('\0') == data.size() - 1;
}

// A key path as written after the root: trailing backslashes are dropped, as registry
// editors do; an empty name inside it names no key.
bool CleanKeyPath(std::string_view& path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  if (path.empty()) return true;
  if (path.front() == '\\') return false;
  return path.find("\\\\") == std::string_view::npos;
}

enum class KeyParse { Ok, UnknownRoot, EmptyName };

KeyParse ParseKeyName(std::string_view text, RootKey& root, std::string_view& path) {
  std::size_t slash = text.find('\\');
  std::string_view rootName = text.substr(0, slash);
  path = slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
  auto found = RegRootFromName(rootName);
  if (!found) return KeyParse::UnknownRoot;
  root = *found;
  return CleanKeyPath(path) ? KeyParse::Ok : KeyParse::EmptyName;
}

std::string Quote(std::string_view text) { return "'" + Abbreviate(text, 60) + "'"; }

// A first line that may still become a header once its end is read.
bool CouldBeHeader(std::string_view partial) {
  if (partial.size() > kMaxHeaderLine) return false;
  std::string_view s = SkipBlanks(partial);
  return kHeader4.starts_with(s) || kHeader5.starts_with(s);
}

}  // namespace

RegParser::RegParser(RegSink& sink, ByteText byteText) : m_sink(sink), m_byteText(byteText) {}

void RegParser::Feed(std::string_view bytes) {
  if (m_finished || m_stopped || (m_headerRead && m_format == RegFormat::Unrecognised)) return;
  while (m_encoding == Encoding::Unknown && !bytes.empty()) {
    m_head += bytes.front();
    bytes.remove_prefix(1);
    DetectEncoding(false);
  }
  if (bytes.empty()) return;
  if (m_encoding == Encoding::Utf16)
    DecodeUtf16(bytes);
  else
    DecodeBytes(bytes);
}

// A UTF-16LE byte-order mark makes a UTF-16 file, as registry editors write version 5
// files; a UTF-8 one is dropped; anything else is 8-bit text.
void RegParser::DetectEncoding(bool final) {
  static constexpr std::string_view kUtf16Bom = "\xFF\xFE";
  static constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  std::string head;
  head.swap(m_head);
  std::string_view h = head;
  if (h.starts_with(kUtf16Bom)) {
    m_encoding = Encoding::Utf16;
    DecodeUtf16(h.substr(kUtf16Bom.size()));
  } else if (h.starts_with(kUtf8Bom)) {
    m_encoding = Encoding::Bytes;
    DecodeBytes(h.substr(kUtf8Bom.size()));
  } else if (!final && (kUtf16Bom.starts_with(h) || kUtf8Bom.starts_with(h))) {
    head.swap(m_head);
  } else {
    m_encoding = Encoding::Bytes;
    DecodeBytes(h);
  }
}

void RegParser::DecodeBytes(std::string_view bytes) {
  if (m_byteText == ByteText::Utf8) {
    Split(bytes);
    return;
  }
  m_decoded.clear();
  AppendWindows1252AsUtf8(bytes, m_decoded);
  Split(m_decoded);
}

// A byte lost from or added to a UTF-16 file shifts every later character by half: line
// ends then read as U+0A00 (LF one byte early; the code point is unassigned). There the
// text is put back in step, and the line that held the stray byte is marked to be refused,
// so that one line is lost and reported rather than everything after it.
void RegParser::DecodeUtf16(std::string_view bytes) {
  m_decoded.clear();
  const std::size_t n = bytes.size();
  const auto byte = [&](std::size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at]));
  };
  std::size_t i = 0;
  while (i < n) {
    uint32_t unit;
    if (m_skipByte) {
      m_skipByte = false;
      ++i;
      continue;
    }
    if (m_oddByte >= 0) {
      unit = static_cast<uint32_t>(m_oddByte) | (byte(i) << 8);
      m_oddByte = -1;
      ++i;
    } else if (i + 1 < n) {
      unit = byte(i) | (byte(i + 1) << 8);
      i += 2;
    } else {
      m_oddByte = static_cast<int>(byte(i));
      break;
    }
    if (unit == 0x0A00) {
      if (m_highSurrogate != 0) m_decoded += kLoneSurrogate;
      m_highSurrogate = 0;
      m_decoded += kStrayByte;
      m_decoded += '\n';
      m_skipByte = true;
      continue;
    }
    AppendUtf16Unit(unit, m_highSurrogate, m_decoded, kLoneSurrogate);
  }
  Split(m_decoded);
}

// Cuts text into lines at CR, LF or CRLF; a line that runs over a chunk's end waits in
// m_partial. The next LF is searched once per run of lines, so that CR-only files stay linear.
void RegParser::Split(std::string_view text) {
  std::size_t pos = 0;
  const std::size_t n = text.size();
  if (m_pendingCR && n > 0) {
    m_pendingCR = false;
    if (text[0] == '\n') pos = 1;
  }
  const char* data = text.data();
  std::size_t nextLf = 0;
  bool haveLf = false;
  while (pos < n && !m_stopped) {
    if (!haveLf || nextLf < pos) {
      const void* lf = std::memchr(data + pos, '\n', n - pos);
      nextLf = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : n;
      haveLf = true;
    }
    const void* cr = std::memchr(data + pos, '\r', nextLf - pos);
    std::size_t end = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - data) : nextLf;
    if (end == n) {
      AppendPartial(text.substr(pos));
      if (!m_headerRead) DecideHeaderEarly();
      return;
    }
    std::size_t next = end + 1;
    if (data[end] == '\r') {
      if (next < n && data[next] == '\n')
        ++next;
      else if (next == n)
        m_pendingCR = true;
    }
    std::string_view line = text.substr(pos, end - pos);
    if (m_partial.empty() && !m_partialTooLong) {
      bool tooLong = line.size() > kMaxRegLineBytes;
      Line(tooLong ? line.substr(0, kMaxRegLineBytes) : line, tooLong);
    } else {
      AppendPartial(line);
      std::string whole;
      whole.swap(m_partial);
      bool tooLong = m_partialTooLong;
      m_partialTooLong = false;
      Line(whole, tooLong);
      whole.clear();
      if (m_partial.empty()) whole.swap(m_partial);  // keep the buffer for the next line
    }
    pos = next;
  }
}

void RegParser::AppendPartial(std::string_view piece) {
  std::size_t room = kMaxRegLineBytes - m_partial.size();
  if (piece.size() > room) {
    m_partialTooLong = true;
    piece = piece.substr(0, room);
  }
  m_partial.append(piece);
}

// With the first line unfinished: once it can no longer be a header, the file is no
// registry file, and nothing more of it needs reading.
void RegParser::DecideHeaderEarly() {
  if (CouldBeHeader(m_partial) && !m_partialTooLong) return;
  m_headerRead = true;
  m_format = RegFormat::Unrecognised;
  m_partial.clear();
  m_partialTooLong = false;
}

void RegParser::Finish() {
  if (m_finished) return;
  if (m_encoding == Encoding::Unknown) DetectEncoding(true);
  if (m_encoding == Encoding::Utf16 && m_highSurrogate != 0 && !m_stopped) {
    m_decoded.assign(1, kLoneSurrogate);
    m_highSurrogate = 0;
    Split(m_decoded);
  }
  m_pendingCR = false;
  if ((!m_partial.empty() || m_partialTooLong) && !m_stopped) {
    std::string last;
    last.swap(m_partial);
    bool tooLong = m_partialTooLong;
    m_partialTooLong = false;
    Line(last, tooLong);
  }
  if (m_stopped) {
    m_finished = true;
    return;
  }
  if (m_oddByte >= 0 && m_format != RegFormat::Unrecognised) {
    m_sink.Warning(m_line, "the file ends inside a UTF-16 character; its last byte is ignored");
  }
  // A file that ends right after a backslash keeps the bytes read so far, as registry
  // editors keep them; it is reported, since the rest of the value is lost.
  if (m_inHex) {
    m_sink.Incomplete(m_valueLine,
                      "the file ends inside this value's hex data; the bytes read were kept");
    FinishHexValue();
  }
  m_finished = true;
}

void RegParser::Refuse(uint64_t line, std::string_view reason) {
  m_stopped = true;
  m_inHex = false;
  m_sink.Refused(line, reason);
}

void RegParser::Line(std::string_view line, bool tooLong) {
  if (m_stopped) return;
  ++m_line;
  if (!m_headerRead) {
    m_headerRead = true;
    Header(line, tooLong);
    return;
  }
  if (m_format == RegFormat::Unrecognised) return;
  // Either is a sure sign of a file that is not text; reading on could take as long as
  // the file is big.
  if (tooLong) {
    Refuse(m_line, "the line is longer than 8 MiB, longer than any line of a registry file");
    return;
  }
  if (line.find('\0') != std::string_view::npos) {
    Refuse(m_line, "the line holds a NUL byte, which no text file holds");
    return;
  }
  if (m_encoding == Encoding::Utf16) {
    if (line.find(kStrayByte) != std::string_view::npos) {
      Reject(line,
             "a stray byte breaks the UTF-16 text in this line: what it holds up to here is "
             "lost; the lines after it were read");
      return;
    }
    if (line.find(kLoneSurrogate) != std::string_view::npos) {
      Reject(line, "the line holds an unpaired UTF-16 surrogate, which is not text");
      return;
    }
  } else if (m_byteText == ByteText::Utf8 && !IsUtf8(line)) {
    Reject(line, "the line is not valid UTF-8");
    return;
  }
  switch (m_format) {
    case RegFormat::Unrecognised:
      return;
    case RegFormat::Win31:
      Win31Line(line);
      return;
    case RegFormat::Regedit4:
    case RegFormat::Version5:
      RegLine(line);
      return;
  }
}

// The header must be the first line, exactly as registry editors write it, after optional
// blanks; they import nothing from any other file.
void RegParser::Header(std::string_view line, bool tooLong) {
  if (tooLong || line.size() > kMaxHeaderLine) return;
  std::string_view s = SkipBlanks(line);
  if (s == kHeader4) {
    m_format = RegFormat::Regedit4;
  } else if (s == kHeader5) {
    m_format = RegFormat::Version5;
    m_utf16Hex = true;
  } else if (s == kHeader31) {
    m_format = RegFormat::Win31;
  }
}

void RegParser::Skip(uint64_t line, std::string_view reason) { m_sink.Skipped(line, reason); }

// A line that cannot be read at all. When it looks like a key line, the values after it
// belong to that unreadable key: they are dropped rather than written to the previous key.
void RegParser::Reject(std::string_view line, std::string_view reason) {
  if (m_inHex) AbortHex("its hex data is broken off by an unreadable line");
  std::string_view s = SkipBlanks(line);
  if (!s.empty() && s[0] == '[') {
    m_keyState = KeyState::Invalid;
    m_keyLine = m_line;
  }
  Skip(m_line, reason);
}

void RegParser::RegLine(std::string_view line) {
  if (m_inHex && ContinueHex(line)) return;
  std::string_view s = SkipBlanks(line);
  if (s.empty() || s[0] == ';') return;
  switch (s[0]) {
    case '[':
      KeyLine(s.substr(1));
      return;
    case '@':
      ValueLine(s.substr(1), true);
      return;
    case '"':
      ValueLine(s.substr(1), false);
      return;
    default:
      Skip(m_line, "not a key or value line");
  }
}

// "[root\path]", "[-root\path]". The last ']' ends the name, so names may hold ']'; blanks
// before ']' belong to the name.
void RegParser::KeyLine(std::string_view rest) {
  m_keyState = KeyState::Invalid;
  m_keyLine = m_line;
  if (rest.empty() || IsBlank(rest[0])) {
    Skip(m_line, "blank after '[': not a key line; its values are skipped too");
    return;
  }
  std::size_t close = rest.rfind(']');
  if (close == std::string_view::npos) {
    Skip(m_line, "key line without ']'; its values are skipped too");
    return;
  }
  std::string_view name = rest.substr(0, close);
  bool deletion = name.starts_with('-');
  if (deletion) name.remove_prefix(1);
  RootKey root{};
  std::string_view path;
  switch (ParseKeyName(name, root, path)) {
    case KeyParse::UnknownRoot:
      Skip(m_line, "unknown root key " + Quote(name.substr(0, name.find('\\'))) +
                       (deletion ? "" : "; its values are skipped too"));
      return;
    case KeyParse::EmptyName:
      Skip(m_line, std::string("empty key name in the path") +
                       (deletion ? "" : "; its values are skipped too"));
      return;
    case KeyParse::Ok:
      break;
  }
  if (deletion) {
    m_keyState = KeyState::Deleted;
    if (path.empty()) {
      Skip(m_line, "a root key cannot be deleted");
      return;
    }
    m_sink.DeleteKey(root, path, m_line);
    return;
  }
  m_sink.OpenKey(root, path, m_line);
  m_keyState = KeyState::Open;
}

// "name"=data or @=data; data is "text", hex:, hex(N):, dword: or - (delete).
void RegParser::ValueLine(std::string_view rest, bool isDefault) {
  m_valueLine = m_line;
  m_name.clear();
  if (!isDefault) {
    std::string_view after;
    if (!Unescape(rest, m_name, after)) {
      Skip(m_line, "value name: " + m_problem);
      return;
    }
    rest = after;
  }
  rest = SkipBlanks(rest);
  if (rest.empty() || rest[0] != '=') {
    Skip(m_line, "no '=' after the value name");
    return;
  }
  std::string_view data = TrimBlanks(rest.substr(1));
  if (data.starts_with('-')) {
    if (!IsEndOfData(data.substr(1))) {
      Skip(m_line, "text after '-' of a value deletion");
      return;
    }
    ApplyDelete();
    return;
  }
  m_data.clear();
  m_oversized = false;
  if (data.starts_with('"')) {
    std::string_view after;
    if (!Unescape(data.substr(1), m_data, after)) {
      Skip(m_line, "text value: " + m_problem);
      return;
    }
    if (!IsEndOfData(after)) {
      Skip(m_line, "text after the closing quote");
      return;
    }
    m_data += '\0';
    ApplyValue(RegType::Sz);
    return;
  }
  if (data.starts_with("dword:")) {
    std::string_view digits = SkipBlanks(data.substr(6));
    std::size_t count = 0;
    uint32_t value = 0;
    while (count < digits.size() && HexDigit(digits[count]) >= 0) {
      value = value * 16 + static_cast<uint32_t>(HexDigit(digits[count]));
      ++count;
    }
    if (count == 0 || count > 8 || !IsEndOfData(digits.substr(count))) {
      Skip(m_line, "dword: needs 1 to 8 hex digits");
      return;
    }
    for (int i = 0; i < 4; ++i) m_data += static_cast<char>((value >> (8 * i)) & 0xFF);
    ApplyValue(RegType::Dword);
    return;
  }
  std::string_view body;
  uint32_t type = 0;
  if (data.starts_with("hex:")) {
    type = RegType::Binary;
    body = data.substr(4);
  } else if (data.starts_with("hex(")) {
    std::string_view t = data.substr(4);
    std::size_t i = 0;
    uint64_t value = 0;
    while (i < t.size() && i <= 8 && HexDigit(t[i]) >= 0) {
      value = value * 16 + static_cast<uint64_t>(HexDigit(t[i]));
      ++i;
    }
    if (i == 0 || i > 8 || !t.substr(i).starts_with("):")) {
      Skip(m_line, "hex(N): needs a type of 1 to 8 hex digits");
      return;
    }
    type = static_cast<uint32_t>(value);
    body = t.substr(i + 2);
  } else {
    Skip(m_line, "unknown data type (not \"text\", hex:, hex(N): or dword:)");
    return;
  }
  m_hexType = type;
  bool continued = false;
  if (!ParseHexBytes(body, continued)) {
    Skip(m_line, "malformed hex data");
    return;
  }
  if (continued)
    m_inHex = true;
  else
    FinishHexValue();
}

// A line after a hex line that ended in a backslash. Blank and ';' lines are passed over;
// a line of hex digits continues the data. Anything else ends the value unfinished: it is
// skipped, and the line is read as a line of its own (registry editors swallow it, which
// writes the values after a swallowed key line to the previous key).
bool RegParser::ContinueHex(std::string_view line) {
  std::string_view s = SkipBlanks(line);
  if (s.empty() || s[0] == ';') return true;
  if (HexDigit(s[0]) < 0) {
    AbortHex("its hex data is broken off at line " + std::to_string(m_line));
    return false;
  }
  bool continued = false;
  if (!ParseHexBytes(s, continued)) {
    AbortHex("malformed hex data on line " + std::to_string(m_line));
    return true;
  }
  if (!continued) FinishHexValue();
  return true;
}

void RegParser::AbortHex(std::string_view why) {
  m_inHex = false;
  m_scratch = "value skipped: ";
  m_scratch += why;
  Skip(m_valueLine, m_scratch);
}

// Comma-separated bytes of one or two hex digits; a trailing comma is harmless; a comma then
// a backslash continues on the next line; a ';' comment may end the line.
bool RegParser::ParseHexBytes(std::string_view s, bool& continued) {
  continued = false;
  std::size_t i = 0;
  const std::size_t n = s.size();
  for (;;) {
    while (i < n && IsBlank(s[i])) ++i;
    if (i == n || s[i] == ';') return true;
    if (s[i] == '\\') {
      if (!IsEndOfData(s.substr(i + 1))) return false;
      continued = true;
      return true;
    }
    std::size_t start = i;
    unsigned value = 0;
    while (i < n && HexDigit(s[i]) >= 0) {
      value = value * 16 + static_cast<unsigned>(HexDigit(s[i]));
      if (value > 0xFF) return false;
      ++i;
    }
    if (i == start) return false;
    if (m_data.size() < kMaxRawHex)
      m_data += static_cast<char>(value);
    else
      m_oversized = true;
    if (i == n) return true;
    if (s[i] == ',') {
      ++i;
      continue;
    }
    return IsEndOfData(s.substr(i));
  }
}

void RegParser::FinishHexValue() {
  m_inHex = false;
  const uint32_t type = m_hexType;
  if (IsTextType(type) && !m_oversized && !m_data.empty() && !DecodeHexText()) return;
  ApplyValue(type);
}

// Text given as hex becomes UTF-8 like the rest of the file: UTF-16 in a version 5 file,
// else bytes of the file's own 8-bit text. Text types get a terminator when they lack one
// (registry editors do this for REG_EXPAND_SZ and REG_MULTI_SZ); REG_SZ keeps its bytes
// exactly, since our own export writes REG_SZ as hex(1) precisely when its bytes would not
// survive the quoted form. Data that is no text at all skips the value.
bool RegParser::DecodeHexText() {
  const bool terminate = m_hexType != RegType::Sz;
  if (m_utf16Hex && !LooksLike8BitText(m_data)) {
    if (terminate && (m_data[m_data.size() - 1] != '\0' || m_data[m_data.size() - 2] != '\0'))
      m_data.append(2, '\0');
    m_scratch.clear();
    if (!AppendUtf16LeAsUtf8(m_data, m_scratch)) {
      Skip(m_valueLine, "value skipped: its hex(" + std::to_string(m_hexType) +
                            ") data is not UTF-16 text (it holds an unpaired surrogate)");
      return false;
    }
    m_data.swap(m_scratch);
    return true;
  }
  if (terminate && m_data.back() != '\0') m_data += '\0';
  if (m_byteText == ByteText::Utf8) {
    if (IsUtf8(m_data)) return true;
    m_sink.Warning(m_valueLine, "the text of this hex(" + std::to_string(m_hexType) +
                                    ") value is not valid UTF-8: read as Windows-1252");
  }
  m_scratch.clear();
  AppendWindows1252AsUtf8(m_data, m_scratch);
  m_data.swap(m_scratch);
  return true;
}

void RegParser::SkipForKeyState() {
  switch (m_keyState) {
    case KeyState::None:
      Skip(m_valueLine, "value before any key line");
      return;
    case KeyState::Deleted:
      Skip(m_valueLine, "value under the key deletion of line " + std::to_string(m_keyLine));
      return;
    case KeyState::Invalid:
      Skip(m_valueLine, "value under the skipped key line " + std::to_string(m_keyLine));
      return;
    case KeyState::Open:
      return;
  }
}

void RegParser::ApplyValue(uint32_t type) {
  if (m_keyState != KeyState::Open) {
    SkipForKeyState();
    return;
  }
  // The registry counts text in UTF-16 with its terminator, at most 2n + 2 bytes for n bytes
  // of UTF-8: only long text needs counting.
  const bool mayGrow = IsTextType(type) && m_data.size() + 1 > kMaxValueData / 2;
  const std::size_t size = mayGrow ? RegistryDataSize(type, m_data) : m_data.size();
  if (m_oversized || size > kMaxValueData) {
    m_sink.ValueTooLarge(m_name, m_valueLine);
    return;
  }
  m_sink.SetValue(m_name, type, m_data, m_valueLine);
}

void RegParser::ApplyDelete() {
  if (m_keyState != KeyState::Open) {
    SkipForKeyState();
    return;
  }
  m_sink.DeleteValue(m_name, m_valueLine);
}

// Text inside quotes (the opening one already read) up to the closing quote: \\ \" \n \r
// are escapes; \0 makes the text invalid; any other escape keeps its character.
bool RegParser::Unescape(std::string_view s, std::string& out, std::string_view& rest) {
  std::size_t i = 0, start = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const char c = s[i];
    if (c == '"') {
      out.append(s.substr(start, i - start));
      rest = s.substr(i + 1);
      return true;
    }
    if (c != '\\') {
      ++i;
      continue;
    }
    out.append(s.substr(start, i - start));
    if (i + 1 == n) break;
    const char e = s[i + 1];
    switch (e) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
      case '"':
        out += e;
        break;
      case '0':
        m_problem = "\\0 inside quotes";
        return false;
      default:
        out += e;
        m_sink.Warning(m_line, std::string("unknown escape \\") + e + " read as " + e);
    }
    i += 2;
    start = i;
  }
  m_problem = "no closing quote";
  return false;
}

// The old REGEDIT form: "HKEY_CLASSES_ROOT\path = text" sets the key's default value. The
// key name ends at the first blank; after '=' one blank is dropped and the rest, quotes
// included, is the text.
void RegParser::Win31Line(std::string_view line) {
  std::string_view s = SkipBlanks(line);
  if (s.empty() || s[0] == ';') return;
  if (!line.starts_with(RegRootName(RootKey::ClassesRoot))) {
    Skip(m_line, "not a HKEY_CLASSES_ROOT line");
    return;
  }
  std::size_t keyEnd = line.find_first_of(" \t\v\f");
  std::string_view keyText = line.substr(0, keyEnd);
  std::string_view value =
      keyEnd == std::string_view::npos ? std::string_view() : SkipBlanks(line.substr(keyEnd));
  if (value.starts_with('=')) value.remove_prefix(1);
  if (value.starts_with(' ')) value.remove_prefix(1);
  RootKey root{};
  std::string_view path;
  switch (ParseKeyName(keyText, root, path)) {
    case KeyParse::UnknownRoot:
      Skip(m_line, "unknown root key " + Quote(keyText.substr(0, keyText.find('\\'))));
      return;
    case KeyParse::EmptyName:
      Skip(m_line, "empty key name in the path");
      return;
    case KeyParse::Ok:
      break;
  }
  m_sink.OpenKey(root, path, m_line);
  m_keyState = KeyState::Open;
  m_valueLine = m_line;
  m_name.clear();
  m_data.assign(value);
  m_data += '\0';
  m_oversized = false;
  ApplyValue(RegType::Sz);
}

RegFormat ParseRegBytes(std::string_view bytes, RegSink& sink) {
  ByteTextScan scan;
  scan.Feed(bytes);
  scan.Finish();
  RegParser parser(sink, scan.Result());
  parser.Feed(bytes);
  parser.Finish();
  return parser.Format();
}

RegHeader SniffRegHeader(std::string_view head, bool whole) {
  // Enough for the longest header line, in UTF-16 with its byte-order mark.
  constexpr std::size_t kEnough = 2 * kMaxHeaderLine + 16;
  IgnoringSink sink;
  RegParser parser(sink);
  parser.Feed(head.substr(0, kEnough));
  if (whole && head.size() <= kEnough) parser.Finish();
  return {parser.HeaderRead() || whole, parser.Format(), parser.Utf16()};
}

}  // namespace kestrova
