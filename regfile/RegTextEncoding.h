#pragma once
// How the bytes of a .reg file become UTF-8 text: the 8-bit reading a file gets (UTF-8 or
// the Western code page), and UTF-16 and Windows-1252 converted to UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// No valid line is longer: a value name of 16,383 characters plus 1 MiB of data written as
// hex on one line (three characters a byte), or as UTF-16 text converted from a wider file.
constexpr std::size_t kMaxRegLineBytes = 8 * 1024 * 1024;

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

// Adds one UTF-16 code unit as UTF-8; `high` carries a high surrogate waiting for its
// partner. An unpaired surrogate adds `unpaired` instead, and the result is false.
bool AppendUtf16Unit(uint32_t unit, uint32_t& high, std::string& out, char unpaired);

// Appends UTF-16LE text as UTF-8. False, with nothing appended, when it holds an unpaired
// surrogate or an odd number of bytes: such data is not text.
bool AppendUtf16LeAsUtf8(std::string_view utf16, std::string& out);

// The text cut to at most maxBytes at a character boundary, with "..." when cut: for
// messages.
std::string Abbreviate(std::string_view text, std::size_t maxBytes);

}  // namespace kestrova
