#pragma once
// Boxes: message boxes, the confirmation box, the text prompt and the file dialogs behind one seam.

#include <QString>
#include <QStringList>
#include <memory>

class QWidget;

namespace kestrova {

class Boxes {
 public:
  enum class Icon { None, Information, Warning, Error, Question };

  struct OpenFileRequest {
    QString title;
    QString defaultSuffix;  // added to a typed name without one
    QString initialDir;
    QStringList filters;  // "Executables (*.exe)", ...
  };

  struct SaveFileRequest {
    QString title;
    QString initialPath;  // the folder and the proposed name
    QString defaultSuffix;
    QStringList filters;
  };

  virtual ~Boxes() = default;

  // A message with one OK button.
  virtual void Message(QWidget* parent, const QString& caption, const QString& text, Icon icon) = 0;
  // Yes and No, Yes the default, Escape answering No; true only for Yes.
  virtual bool Confirm(QWidget* parent, const QString& caption, const QString& text) = 0;
  // A one-line text prompt; Cancel gives the empty text.
  virtual QString Prompt(QWidget* parent, const QString& caption, const QString& label,
                         const QString& text, int maxLength) = 0;
  // The chosen file's path, or the empty text when cancelled.
  virtual QString OpenFile(QWidget* parent, const OpenFileRequest& request) = 0;
  // The path to write to, or the empty text when cancelled; the dialog asks before a file
  // is replaced.
  virtual QString SaveFile(QWidget* parent, const SaveFileRequest& request) = 0;
};

// While one is alive on this thread, message boxes are kept instead of shown, so that a
// command can fold what a lower layer had to say into the one box it shows itself.
class HeldMessages {
 public:
  HeldMessages();
  ~HeldMessages();
  HeldMessages(const HeldMessages&) = delete;
  HeldMessages& operator=(const HeldMessages&) = delete;
  const QStringList& Texts() const { return m_texts; }
  void Add(const QString& text) { m_texts << text; }

 private:
  QStringList m_texts;
  HeldMessages* m_outer;
};

// The one place that picks: the desktop's boxes unless tests installed theirs.
void SetBoxes(std::shared_ptr<Boxes> boxes);
Boxes& TheBoxes();

}  // namespace kestrova
