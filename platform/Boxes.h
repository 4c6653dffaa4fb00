#pragma once
// Boxes: message boxes, the confirmation box, the text prompt and the open-file dialog behind one seam.

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
};

// The one place that picks: the desktop's boxes unless tests installed theirs.
void SetBoxes(std::shared_ptr<Boxes> boxes);
Boxes& TheBoxes();

}  // namespace kestrova
