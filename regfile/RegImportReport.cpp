#include "regfile/RegImportReport.h"

namespace kestrova {

std::string RegImportReport::NoteText(const RegNote& note) const {
  if (note.kind == RegNote::Kind::Encoding) return source + ": " + note.text;
  std::string text = source + ':' + std::to_string(note.line) + ": ";
  if (note.kind == RegNote::Kind::Warning) text += "warning: ";
  return text + note.text;
}

std::string RegImportReport::SummaryText() const {
  if (!Partial()) return {};
  std::string text = source + " imported; " + std::to_string(skippedLines) + " line(s) skipped";
  if (incompleteValues > 0)
    text += ", " + std::to_string(incompleteValues) + " value(s) cut short by the end of the file";
  return text + '.';
}

std::string RegImportReport::Text() const {
  std::string text;
  const auto add = [&text](const std::string& line) {
    if (line.empty()) return;
    if (!text.empty()) text += '\n';
    text += line;
  };
  for (const RegNote& note : notes) add(NoteText(note));
  add(Failed() ? errorString : SummaryText());
  return text;
}

}  // namespace kestrova
