#pragma once
// mimeapps.list edited line by line: the entries we set change, every other byte (other
// groups, keys, comments, blank lines, the order) stays as it was.

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace kestrova {

inline constexpr char kDefaultApplications[] = "Default Applications";
inline constexpr char kAddedAssociations[] = "Added Associations";

class MimeAppsList {
 public:
  explicit MimeAppsList(QByteArray text = {}) : m_text(std::move(text)) {}

  // The value of the first line "key=..." in the group, as written.
  std::optional<QByteArray> Get(const QByteArray& group, const QByteArray& key) const;
  // Replaces the value of that line in place; else adds the line at the end of the group's
  // entries; else adds the group at the end of the file.
  void Set(const QByteArray& group, const QByteArray& key, const QByteArray& value);
  // Removes every "key=" line of the group (the group stays, even when empty).
  void Remove(const QByteArray& group, const QByteArray& key);

  // Every "key=value" line of the group, in the file's order, values as written.
  std::vector<std::pair<QByteArray, QByteArray>> Entries(const QByteArray& group) const;

  const QByteArray& Text() const { return m_text; }

 private:
  QByteArray m_text;
};

// Reads the file; an absent file is empty text. False with a reason when it cannot be read.
bool ReadWholeFile(const QString& path, QByteArray& text, QString& reason);
// Writes through a temporary file renamed into place, keeping the old file's mode (0600
// for a new file). False with a reason.
bool WriteFileAtomically(const QString& path, const QByteArray& text, QString& reason);

}  // namespace kestrova
