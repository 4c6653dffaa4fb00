#pragma once
// Reads .reg files (REGEDIT4, UTF-16 version 5.00, the old REGEDIT form) into key and value
// operations.

#include <cstdint>
#include <string>
#include <string_view>

#include "regfile/RegSink.h"
#include "regfile/RegTextEncoding.h"

namespace kestrova {

enum class RegFormat { Unrecognised, Regedit4, Version5, Win31 };

// A streaming reader: bytes go in by Feed in chunks of any size, operations come out to the
// sink as soon as their lines are complete. It does no I/O and trusts no size in its input;
// lines and hex data are bounded, so memory stays small for any file.
class RegParser {
 public:
  explicit RegParser(RegSink& sink, ByteText byteText = ByteText::Utf8);
  void Feed(std::string_view bytes);
  // Ends the input: a last line without a line end is read, an unfinished hex value kept.
  void Finish();
  RegFormat Format() const { return m_format; }
  // True once the first line has been read; with an unrecognised header nothing more is.
  bool HeaderRead() const { return m_headerRead; }
  bool Utf16() const { return m_encoding == Encoding::Utf16; }
  uint64_t LinesRead() const { return m_line; }
  // True once the input was refused; Feed then reads nothing more.
  bool Stopped() const { return m_stopped; }

 private:
  enum class Encoding { Unknown, Bytes, Utf16 };
  enum class KeyState { None, Open, Deleted, Invalid };

  void DetectEncoding(bool final);
  void DecodeBytes(std::string_view bytes);
  void DecodeUtf16(std::string_view bytes);
  void DecideHeaderEarly();
  void Refuse(uint64_t line, std::string_view reason);
  bool DecodeHexText();
  void Split(std::string_view text);
  void AppendPartial(std::string_view piece);
  void Line(std::string_view line, bool tooLong);
  void Header(std::string_view line, bool tooLong);
  void RegLine(std::string_view line);
  void Win31Line(std::string_view line);
  void KeyLine(std::string_view rest);
  void ValueLine(std::string_view rest, bool isDefault);
  bool ContinueHex(std::string_view line);
  bool ParseHexBytes(std::string_view text, bool& continued);
  void FinishHexValue();
  void AbortHex(std::string_view why);
  void ApplyValue(uint32_t type);
  void ApplyDelete();
  void Reject(std::string_view line, std::string_view reason);
  void Skip(uint64_t line, std::string_view reason);
  void SkipForKeyState();
  bool Unescape(std::string_view text, std::string& out, std::string_view& rest);

  RegSink& m_sink;
  const ByteText m_byteText;
  Encoding m_encoding = Encoding::Unknown;
  std::string m_head;
  std::string m_decoded;
  int m_oddByte = -1;
  uint32_t m_highSurrogate = 0;
  // The next byte of a UTF-16 file is the high half of a line end found one byte early.
  bool m_skipByte = false;
  std::string m_partial;
  bool m_partialTooLong = false;
  bool m_pendingCR = false;
  bool m_finished = false;
  bool m_stopped = false;

  uint64_t m_line = 0;
  bool m_headerRead = false;
  RegFormat m_format = RegFormat::Unrecognised;
  bool m_utf16Hex = false;

  KeyState m_keyState = KeyState::None;
  uint64_t m_keyLine = 0;

  // The value being read; a hex value may continue over several lines.
  std::string m_name;
  std::string m_data;
  std::string m_scratch;
  std::string m_problem;
  uint32_t m_hexType = 0;
  uint64_t m_valueLine = 0;
  bool m_inHex = false;
  bool m_oversized = false;
};

// The whole input at once, its ByteText decided from all of it; the entry point for fuzzing.
RegFormat ParseRegBytes(std::string_view bytes, RegSink& sink);

// What the first bytes of a file say: its format, as far as the header line decides it
// (Unrecognised also when `head` is too short to tell and `whole` is false), and whether
// the file is UTF-16.
struct RegHeader {
  bool decided = false;
  RegFormat format = RegFormat::Unrecognised;
  bool utf16 = false;
};
RegHeader SniffRegHeader(std::string_view head, bool whole);

}  // namespace kestrova
