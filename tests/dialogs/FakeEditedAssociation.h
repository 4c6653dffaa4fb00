#pragma once
// A plain EditedAssociation: what a dialog reads is set by the test, and what it asks for
// is counted, so a dialog runs without the main window.

#include <QString>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dialogs/EditedAssociation.h"

namespace kestrova::test {

class FakeEditedAssociation : public EditedAssociation {
 public:
  // What the dialogs read.
  QString extension;
  QString shownFileType;
  std::string fileType;
  std::string verb;  // empty: no action selected
  std::string flagsText;
  FlagsValue flagsValue;
  bool backupSucceeds = true;
  // Runs inside OpenNewFileTypeDialog, as the user would in that dialog.
  std::function<void()> inNewFileTypeDialog;

  // What the dialogs asked for.
  int backups = 0;
  int reloads = 0;
  int newFileTypeDialogs = 0;
  mutable int verbQueries = 0;
  std::vector<QString> shownExtensions;
  QString status;

  QString Extension() const override { return extension; }
  QString ShownFileType() const override { return shownFileType; }
  std::string CurrentFileType() const override { return fileType; }
  std::string SelectedVerb() const override {
    ++verbQueries;
    if (verb.empty()) throw std::out_of_range("no action is selected");
    return verb;
  }
  std::string CurrentFlagsText() const override { return flagsText; }
  FlagsValue CurrentFlagsValue() const override { return flagsValue; }
  bool BackUpFileType() override {
    ++backups;
    return backupSucceeds;
  }
  void SetStatus(const QString& text) override { status = text; }
  void ShowExtension(const QString& ext) override { shownExtensions.push_back(ext); }
  void ReloadExtension() override { ++reloads; }
  void OpenNewFileTypeDialog() override {
    ++newFileTypeDialogs;
    if (inNewFileTypeDialog) inNewFileTypeDialog();
  }
};

}  // namespace kestrova::test
