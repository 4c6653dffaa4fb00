#include "platform/MimeAppsList.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

namespace kestrova {
namespace {

struct Line {
  qsizetype start;  // first byte
  qsizetype end;    // one past the line's newline (or the text's end)
  QByteArray body;  // without the newline
};

QList<Line> Lines(const QByteArray& text) {
  QList<Line> lines;
  qsizetype start = 0;
  while (start < text.size()) {
    qsizetype newline = text.indexOf('\n', start);
    const qsizetype end = newline < 0 ? text.size() : newline + 1;
    QByteArray body = text.mid(start, (newline < 0 ? text.size() : newline) - start);
    if (body.endsWith('\r')) body.chop(1);
    lines.push_back({start, end, body});
    start = end;
  }
  return lines;
}

bool IsGroupHeader(const QByteArray& body, QByteArray* name = nullptr) {
  const QByteArray trimmed = body.trimmed();
  if (!trimmed.startsWith('[') || !trimmed.endsWith(']')) return false;
  if (name) *name = trimmed.mid(1, trimmed.size() - 2);
  return true;
}

// The key of an entry line, or nothing for comments, blanks and headers.
std::optional<QByteArray> KeyOf(const QByteArray& body) {
  const QByteArray trimmed = body.trimmed();
  if (trimmed.isEmpty() || trimmed.startsWith('#') || trimmed.startsWith('[')) return {};
  const qsizetype eq = trimmed.indexOf('=');
  if (eq < 0) return {};
  return trimmed.left(eq).trimmed();
}

}  // namespace

std::optional<QByteArray> MimeAppsList::Get(const QByteArray& group, const QByteArray& key) const {
  QByteArray current;
  for (const Line& line : Lines(m_text)) {
    if (IsGroupHeader(line.body, &current)) continue;
    if (current != group) continue;
    if (KeyOf(line.body) == key) {
      return line.body.mid(line.body.indexOf('=') + 1).trimmed();
    }
  }
  return {};
}

std::vector<std::pair<QByteArray, QByteArray>> MimeAppsList::Entries(
    const QByteArray& group) const {
  std::vector<std::pair<QByteArray, QByteArray>> entries;
  QByteArray current;
  for (const Line& line : Lines(m_text)) {
    if (IsGroupHeader(line.body, &current)) continue;
    if (current != group) continue;
    if (const auto key = KeyOf(line.body)) {
      entries.emplace_back(*key, line.body.mid(line.body.indexOf('=') + 1).trimmed());
    }
  }
  return entries;
}

void MimeAppsList::Set(const QByteArray& group, const QByteArray& key, const QByteArray& value) {
  const QByteArray entry = key + '=' + value;
  QByteArray current;
  bool inGroup = false;
  qsizetype insertAt = -1;  // after the group's last entry
  for (const Line& line : Lines(m_text)) {
    if (IsGroupHeader(line.body, &current)) {
      if (inGroup) break;
      inGroup = current == group;
      if (inGroup) insertAt = line.end;
      continue;
    }
    if (!inGroup) continue;
    if (KeyOf(line.body) == key) {
      const qsizetype bodyEnd = line.start + line.body.size();
      m_text.replace(line.start, bodyEnd - line.start, entry);
      return;
    }
    if (KeyOf(line.body)) insertAt = line.end;
  }
  if (insertAt >= 0) {
    // A last line without its newline gets one before the new entry.
    QByteArray text = entry + '\n';
    if (insertAt > 0 && m_text.at(insertAt - 1) != '\n') text.prepend('\n');
    m_text.insert(insertAt, text);
    return;
  }
  if (!m_text.isEmpty() && !m_text.endsWith('\n')) m_text += '\n';
  if (!m_text.isEmpty() && !m_text.endsWith("\n\n")) m_text += '\n';
  m_text += '[' + group + "]\n" + entry + '\n';
}

void MimeAppsList::Remove(const QByteArray& group, const QByteArray& key) {
  QByteArray current;
  const QList<Line> lines = Lines(m_text);
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    // Walking backwards, so the group is found from the nearest header above.
    QByteArray owner;
    for (auto above = it; above != lines.rend(); ++above) {
      if (IsGroupHeader(above->body, &owner)) break;
    }
    if (IsGroupHeader(it->body) || owner != group) continue;
    if (KeyOf(it->body) == key) m_text.remove(it->start, it->end - it->start);
  }
}

bool ReadWholeFile(const QString& path, QByteArray& text, QString& reason) {
  text.clear();
  QFile file(path);
  if (!file.exists()) return true;
  if (!file.open(QIODevice::ReadOnly)) {
    reason = file.errorString();
    return false;
  }
  text = file.readAll();
  return true;
}

bool WriteFileAtomically(const QString& path, const QByteArray& text, QString& reason) {
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
    reason = "the folder " + QFileInfo(path).absolutePath() + " cannot be made";
    return false;
  }
  struct stat st {};
  const bool existed = ::stat(QFile::encodeName(path).constData(), &st) == 0;
  const mode_t mode = existed ? (st.st_mode & 07777) : 0600;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    reason = file.errorString();
    return false;
  }
  ::fchmod(file.handle(), mode);
  if (file.write(text) != text.size() || !file.commit()) {
    reason = file.errorString();
    return false;
  }
  return true;
}

}  // namespace kestrova
