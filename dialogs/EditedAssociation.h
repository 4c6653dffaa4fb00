#pragma once
// EditedAssociation: what the dialogs work on, the association the main window has on screen.
// The main window implements it; a dialog receives it as it would a document, so it never
// needs the window itself.

#include <QString>
#include <QStringList>
#include <string>

#include "store/EditFlagsCodec.h"

namespace kestrova {

class EditedAssociation {
 public:
  virtual ~EditedAssociation() = default;

  // The extension on screen, as typed (no dot).
  virtual QString Extension() const = 0;
  // The file type (ProgID) the extension is shown to name, as shown.
  virtual QString ShownFileType() const = 0;
  // The file type the last load or command settled on: "?" when the extension names none.
  virtual std::string CurrentFileType() const = 0;
  // The selected action's name; raises the list index error when none is selected.
  virtual std::string SelectedVerb() const = 0;
  // The edit flags the load found, as their stored text and as the value the rows decode.
  virtual std::string CurrentFlagsText() const = 0;
  virtual FlagsValue CurrentFlagsValue() const = 0;

  // Backs up the shown file type before a change. False when the backup could not be
  // written: that has been reported, and the change must not be made.
  virtual bool BackUpFileType() = 0;
  // The main window's status text.
  virtual void SetStatus(const QString& text) = 0;
  // Puts another extension on screen, which loads it; the same text loads nothing.
  virtual void ShowExtension(const QString& ext) = 0;
  // Loads the extension on screen again from the store.
  virtual void ReloadExtension() = 0;
  // Opens the new file type dialog and returns once it is closed.
  virtual void OpenNewFileTypeDialog() = 0;
  // The store's associations of these extensions (and of every extension Kestrova gave the
  // desktop for this file type, when one is named) changed: the desktop follows them.
  virtual void AssociationsChanged(const QStringList& extensions, const QString& fileType) {
    (void)extensions;
    (void)fileType;
  }
};

}  // namespace kestrova
