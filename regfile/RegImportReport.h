#pragma once
// What an import of a .reg file did and said: counts, the lines it reported, the reading it
// chose, and why it failed when it did.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "store/RegistryEngine.h"

namespace kestrova {

// How the text of the input was read.
enum class RegEncoding {
  Unknown,      // not decided: the import failed before
  Utf16,        // a UTF-16 file (version 5.00, with a byte-order mark)
  Ascii,        // 8-bit text without a byte above 0x7F: UTF-8 and Windows-1252 agree
  Utf8,         // 8-bit text, valid UTF-8 throughout
  Windows1252,  // 8-bit text that is not UTF-8 (see firstNonUtf8Line)
};

// One thing the import reports, in the order reported.
struct RegNote {
  enum class Kind {
    Encoding,    // the 8-bit reading chosen, when it matters; line 0
    Skipped,     // a line that was not applied
    Warning,     // a line applied as registry editors apply it, but not quite as written
    Incomplete,  // a value kept although the input ends inside it
    Refused,     // the input is no text after all; nothing after this line was read
  };
  Kind kind = Kind::Skipped;
  uint64_t line = 0;  // from 1
  std::string text;   // what happened, without the input's name
};

enum class RegImportError {
  None,
  CannotRead,       // the input could not be opened or read
  NotARegFile,      // its first line is no header registry editors accept
  NotTextAfterAll,  // a good header, then bytes no text holds
  StrictRefusal,    // strict import, and a line would have been skipped
  StoreFailure,     // the store refused a write (see storeError)
};

struct RegImportReport {
  // The name the messages give the input: its path, or what the caller called it.
  std::string source;
  RegEncoding encoding = RegEncoding::Unknown;
  uint64_t firstNonUtf8Line = 0;  // with Windows1252: the line of the first such byte

  // What was written; all zero after a failure, which leaves the store as it was.
  uint64_t keysImported = 0;  // key lines applied (each opens or creates its key)
  uint64_t keysDeleted = 0;   // key deletions applied (a missing key counts too)
  uint64_t valuesImported = 0;
  uint64_t valuesDeleted = 0;

  uint64_t skippedLines = 0;
  uint64_t incompleteValues = 0;
  // The notes, up to kKeptNotes of them; notesCut tells that more were made. Every note
  // reaches RegImportOptions::onNote.
  static constexpr std::size_t kKeptNotes = 10000;
  std::vector<RegNote> notes;
  bool notesCut = false;

  RegImportError error = RegImportError::None;
  StoreErrorKind storeError = StoreErrorKind::Other;  // with StoreFailure
  uint64_t errorLine = 0;   // with StoreFailure: the line being applied, 0 before any
  std::string errorString;  // the failure in words, naming the input; empty without one

  bool Failed() const { return error != RegImportError::None; }
  // Imported, but with lines skipped or values cut short by the end of the input.
  bool Partial() const { return !Failed() && skippedLines + incompleteValues > 0; }

  // A note as a line of text: "SOURCE:LINE: reason", "SOURCE:LINE: warning: text", or
  // "SOURCE: read as UTF-8" for the reading chosen.
  std::string NoteText(const RegNote& note) const;
  // After a partial import: "SOURCE imported; N line(s) skipped[, M value(s) cut short by
  // the end of the file]."; empty otherwise.
  std::string SummaryText() const;
  // Every kept note, then the failure or the summary: one line each, without line ends
  // at the end.
  std::string Text() const;
};

}  // namespace kestrova
