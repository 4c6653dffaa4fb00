#pragma once
// Reads .reg files (REGEDIT4, UTF-16 version 5.00, the old REGEDIT form) into key and value
// operations.

#include <cstdint>
#include <string>
#include <string_view>

#include "store/RegistryEngine.h"

namespace kestrova {

enum class RegFormat { Unrecognised, Regedit4, Version5, Win31 };

// Receives what a .reg file asks for, in file order. Line numbers count from 1. Views are
// valid only during the call.
class RegSink {
 public:
  virtual ~RegSink() = default;
  // Makes root\path the current key, creating what is missing. `path` is empty for the root
  // itself, else names joined by backslashes, none of them empty.
  virtual void OpenKey(RootKey root, std::string_view path, uint64_t line) = 0;
  // Deletes root\path (never empty) with its subtree.
  virtual void DeleteKey(RootKey root, std::string_view path, uint64_t line) = 0;
  // Sets or deletes a value of the key of the last OpenKey; only called while one is open.
  virtual void SetValue(std::string_view name, uint32_t type, std::string_view data,
                        uint64_t line) = 0;
  virtual void DeleteValue(std::string_view name, uint64_t line) = 0;
  // A value whose data is larger than the registry allows; the data was not kept.
  virtual void ValueTooLarge(std::string_view name, uint64_t line) = 0;
  // A line that was not applied, and why.
  virtual void Skipped(uint64_t line, std::string_view reason) = 0;
  // A line that was applied as registry editors apply it, but not quite as written.
  virtual void Warning(uint64_t line, std::string_view message) = 0;
  // A value kept although the file ends inside it (registry editors keep the bytes read).
  virtual void Incomplete(uint64_t line, std::string_view message) = 0;
  // The input is not a registry file after all (binary bytes, a line longer than any
  // registry file holds); nothing after this line is read.
  virtual void Refused(uint64_t line, std::string_view reason) = 0;
};

// A sink that ignores everything, for callers that want only some of it.
class IgnoringSink : public RegSink {
 public:
  void OpenKey(RootKey, std::string_view, uint64_t) override {}
  void DeleteKey(RootKey, std::string_view, uint64_t) override {}
  void SetValue(std::string_view, uint32_t, std::string_view, uint64_t) override {}
  void DeleteValue(std::string_view, uint64_t) override {}
  void ValueTooLarge(std::string_view, uint64_t) override {}
  void Skipped(uint64_t, std::string_view) override {}
  void Warning(uint64_t, std::string_view) override {}
  void Incomplete(uint64_t, std::string_view) override {}
  void Refused(uint64_t, std::string_view) override {}
};

// How the bytes of a file without a UTF-16 byte-order mark are text: UTF-8 when the whole
// file is valid UTF-8, else the code page registry editors on Western systems write.
enum class ByteText { Utf8, Windows1252 };

// Reads through 8-bit bytes in chunks to decide their ByteText. It stops early (Done) at
// the first byte that is not UTF-8, and where the reader refuses the file anyway (a NUL
// byte, an over-long line), so that it never reads further than the reader would.
class ByteTextScan {
 public:
  void Feed(std::string_view bytes);
  // Ends the input: a sequence cut off at the end is not UTF-8.
  void Finish();
  bool Done() const { return m_invalid || m_stopped; }
  ByteText Result() const { return m_invalid ? ByteText::Windows1252 : ByteText::Utf8; }
  // True once a byte above 0x7F was seen: only then do the two readings differ.
  bool SawNonAscii() const { return m_nonAscii; }
  // The line (from 1) that holds the first byte that is not UTF-8.
  uint64_t InvalidLine() const { return m_line; }

 private:
  void Slow(unsigned char c);

  uint64_t m_line = 1;
  std::size_t m_lineBytes = 0;
  bool m_afterCR = false;
  int m_need = 0;  // continuation bytes still expected
  unsigned char m_low = 0x80, m_high = 0xBF;
  bool m_nonAscii = false;
  bool m_invalid = false;
  bool m_stopped = false;
};

// True when the bytes are valid UTF-8 (shortest forms, no surrogates).
bool IsUtf8(std::string_view bytes);

// Appends Windows-1252 bytes as UTF-8. The five bytes the code page leaves undefined become
// the C1 controls of the same number, as Windows' own conversion makes them.
void AppendWindows1252AsUtf8(std::string_view bytes, std::string& out);

// The text cut to at most maxBytes at a character boundary, with "..." when cut: for
// messages.
std::string Abbreviate(std::string_view text, std::size_t maxBytes);

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

// Appends UTF-16LE text as UTF-8. False, with nothing appended, when it holds an unpaired
// surrogate or an odd number of bytes: such data is not text.
bool AppendUtf16LeAsUtf8(std::string_view utf16, std::string& out);

}  // namespace kestrova
