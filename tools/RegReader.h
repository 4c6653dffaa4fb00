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
};

// A streaming reader: bytes go in by Feed in chunks of any size, operations come out to the
// sink as soon as their lines are complete. It does no I/O and trusts no size in its input;
// lines and hex data are bounded, so memory stays small for any file.
class RegParser {
 public:
  explicit RegParser(RegSink& sink);
  void Feed(std::string_view bytes);
  // Ends the input: a last line without a line end is read, an unfinished hex value kept.
  void Finish();
  RegFormat Format() const { return m_format; }
  // True once the first line has been read; with an unrecognised header nothing more is.
  bool HeaderRead() const { return m_headerRead; }
  uint64_t LinesRead() const { return m_line; }

 private:
  enum class Encoding { Unknown, Bytes, Utf16 };
  enum class KeyState { None, Open, Deleted, Invalid };

  void DetectEncoding(bool final);
  void DecodeUtf16(std::string_view bytes);
  void Split(std::string_view text);
  void AppendPartial(std::string_view piece);
  void Line(std::string_view line, bool tooLong);
  void Header(std::string_view line, bool tooLong);
  void RegLine(std::string_view line, bool tooLong);
  void Win31Line(std::string_view line, bool tooLong);
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
  Encoding m_encoding = Encoding::Unknown;
  std::string m_head;
  std::string m_decoded;
  int m_oddByte = -1;
  uint32_t m_highSurrogate = 0;
  std::string m_partial;
  bool m_partialTooLong = false;
  bool m_pendingCR = false;
  bool m_finished = false;

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

// The whole input at once; the entry point for fuzzing.
RegFormat ParseRegBytes(std::string_view bytes, RegSink& sink);

// Appends UTF-16LE text as UTF-8; an unpaired surrogate keeps its code (as WTF-8 does), so
// that no input is lost. An odd last byte is ignored.
void AppendUtf16LeAsUtf8(std::string_view utf16, std::string& out);

}  // namespace kestrova
