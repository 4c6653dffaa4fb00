#pragma once
// Boxes: message boxes, the confirmation box, the text prompt and the file dialogs behind one seam.

#include <QString>
#include <QStringList>
#include <memory>

class QFileDialog;
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
    // A first filter "Programs" lists folders and the files the user may run.
    bool programs = false;
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
  // An existing folder, or the empty text when cancelled. Hidden folders are listed (a Wine
  // prefix is usually ~/.wine). Boxes that do not offer one answer as if cancelled.
  virtual QString ChooseFolder(QWidget* /*parent*/, const QString& /*title*/,
                               const QString& /*initialDir*/) {
    return {};
  }
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

// Every file dialog of the program and of kestrova-regedit comes from here: Qt's own
// dialog (a desktop's in-process dialog reads files to guess their types) with an icon
// provider that goes by file names alone. So listing the folder that holds the store never
// opens the store's files, which would drop this process's locks on them. The directory
// is set only after the provider is in place.
std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const QString& caption,
                                            const QString& directory = QString(),
                                            const QStringList& filters = QStringList());

// Puts a filter "Programs" before the dialog's own filters and selects it: it lists folders
// and the files the user may run, judged by their permissions, so no file is opened.
void OfferProgramsFilter(QFileDialog& dialog);
extern const char kProgramsFilter[];

// The one place that picks: the desktop's boxes unless tests installed theirs.
void SetBoxes(std::shared_ptr<Boxes> boxes);
Boxes& TheBoxes();

}  // namespace kestrova
