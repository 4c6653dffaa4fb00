#pragma once
// TForm1: the main window, in which the user views and edits one extension's association.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QStyleOptionViewItem>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/EditorState.h"
#include "dialogs/EditedAssociation.h"
#include "platform/IconSourceFactory.h"
#include "store/IconLookup.h"

namespace kestrova {

class AboutBox;
class AssocStore;
class ProcessLauncher;
class TForm2;
class TForm3;
class TForm4;
class TFrmDDE;
class TFrmChgAss;
class TFrmNewFileType;
class TBackgroundTask;

// An image that acts on a click, and on Enter or Space when it has the focus.
class ClickableImage : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

// The dialogs work on the association on screen through EditedAssociation.
class TForm1 : public QMainWindow, public EditedAssociation {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The dialogs, made after the main window (see CreateWindows).
  struct Dialogs {
    TForm2* settingsDialog = nullptr;
    TForm3* newExtensionWizard = nullptr;
    TForm4* flagsDialog = nullptr;
    TFrmDDE* ddeDialog = nullptr;
    TFrmChgAss* changeAssociationDialog = nullptr;
    TFrmNewFileType* newFileTypeDialog = nullptr;
  };
  void AttachDialogs(const Dialogs& dialogs) {
    m_dialogs = dialogs;
    ShowStore();
  }
  const Dialogs& AttachedDialogs() const { return m_dialogs; }

  // The first command-line argument, applied at the first activation.
  void SetArgument(const QString& argument) { m_argument = argument; }

  // The extension on screen.
  EditorState State;

  // Handlers and actions, named after their control and event.
  void FormCreate();
  void FormActivate();
  void ExtChange();
  void ExtClick();
  void ClearFrm();
  void LoadExtension();
  void Exit1Click();
  void About1Click();

  // The actions panel.
  void ListBox1DrawItem(QPainter* painter, const QStyleOptionViewItem& option, int index);
  void ListBox1Click();
  void SaveActionBtnClick();
  void BrowseBtnClick();
  void DDEBtnClick();
  void AddShell1Click();
  void DeleteShell1Click();
  void ChangetoDefaultAction1Click();
  // The text of the selected row; raises the list index error when none is selected.
  std::string SelectedVerb() const override;

  // Saving, deleting and the backups taken first. A backup that could not be written has
  // been reported in a box when these return false, and the change must not be made.
  void SaveExt();
  void SaveTypeBtnClick();
  void Delete1Click();
  void Delete2Click();
  bool BUExt();
  bool BUProgID();

  // The dialogs' entry points.
  void New1Click();
  void New2Click();
  void ChangeAssociation1Click();
  void EditFlagsBtnClick();
  void SettingsBtnClick();

  // The icon, tools and help (MainTools.cpp).
  void Image1Click();
  void WebHelpBExecute();
  void RegEditBExecute();
  void Help2Click();
  void HelpontheWeb1Click();
  // Refreshes the store from the desktop's databases after a backup of all the classes.
  void ImportFromDesktop1Click();
  void CheckAssociations1Click();
  // Wine's entries, MIME types and defaults on the desktop, removable one by one or all.
  void WineAssociations1Click();

  // The store the window works on (MainStore.cpp): a Wine prefix chosen in a folder box, or
  // the default store again; the title, the status bar and the desktop commands follow it.
  void OpenWinePrefix1Click();
  void OpenDefaultStore1Click();
  void ShowStore();
  // False, after a box that says why and what to do, when the open Wine prefix cannot be
  // written now (its wineserver runs); a write command then changes nothing.
  bool PrefixWritable();
  // " --prefix DIR" for the registry editor while a Wine prefix is open, else nothing.
  QString StoreArguments() const;

  // The status bar's one simple text.
  void SetStatus(const QString& text) override;
  QString StatusText() const;
  // The selected row of ListBox1, -1 when none.
  int ListIndex() const;

  // The rest of EditedAssociation, for the dialogs: Ext's text, ExtDesc's text and State;
  // BUProgID, Ext's text set, ExtChange and the new file type dialog.
  QString Extension() const override;
  QString ShownFileType() const override;
  std::string CurrentFileType() const override;
  std::string CurrentFlagsText() const override;
  FlagsValue CurrentFlagsValue() const override;
  bool BackUpFileType() override;
  void ShowExtension(const QString& ext) override;
  void ReloadExtension() override;
  void OpenNewFileTypeDialog() override;
  void AssociationsChanged(const QStringList& extensions, const QString& fileType) override;

  // Changes reaching the desktop (MainTools.cpp): the Tools command that takes back all of
  // them, and the databases' rebuilds, which run off the window's thread.
  void RemoveDesktopChanges1Click();
  int DesktopRebuildsRunning() const;

  // Controls, under the names the rest of the program uses.
  QGroupBox* ExtensionGroup;
  QLineEdit* Ext;
  QComboBox* ContentType;
  QPushButton* SaveExtBtn;
  QGroupBox* FileTypeGroup;
  QGroupBox* IconGroup;
  ClickableImage* Image1;
  QLineEdit* ExtDesc;
  QLineEdit* ExtType;
  QCheckBox* ConfirmCB;
  QCheckBox* AlwaysShowCB;
  QCheckBox* BrowseCB;
  QPushButton* SaveTypeBtn;
  QPushButton* EditFlagsBtn;
  QGroupBox* ActionsGroup;
  QTreeWidget* ListBox1;
  QLineEdit* ActionE;
  QLineEdit* Command;
  QPushButton* BrowseBtn;
  QPushButton* SaveActionBtn;
  QPushButton* DDEBtn;
  QPushButton* ReferenceBtn;
  QPushButton* RegistryBtn;
  QPushButton* SettingsBtn;
  QStatusBar* StatusBar1;

  // Menus and their items.
  QMenu* File1;
  QAction* New1;
  QAction* Save1;
  QAction* Delete1;
  QAction* ChangeAssociation1;
  QAction* Exit1;
  QMenu* FileType1;
  QAction* New2;
  QAction* Delete2;
  QAction* EditFlags1;
  QMenu* ools1;
  QAction* ExtensionDetails1;
  QAction* RegEdit1;
  QAction* Settings2;
  QAction* ImportFromDesktop1;
  QAction* RemoveDesktopChanges1;
  QAction* CheckAssociations1;
  QAction* WineAssociations1;
  QAction* OpenWinePrefix1;
  QAction* OpenDefaultStore1;
  QMenu* Help1;
  QAction* Help2;
  QAction* HelpontheWeb1;
  QAction* About1;
  QMenu* PopUp;
  QAction* AddShell1;
  QAction* DeleteShell1;
  QAction* ChangetoDefaultAction1;

  // ActionList1.
  QAction* RegEditB;
  QAction* WebHelpB;
  QAction* SaveExtAction;
  QAction* ClearFrmAction;
  QAction* BUExtAction;
  QAction* BUProgIDAction;

  AboutBox* AboutDlg;
  AssocLookup Lookup{AcquireIconSource()};
  // Every outside program goes through it; it waits for what it started.
  std::unique_ptr<ProcessLauncher> Starter;
  // Whether the desktop has an application for compiled help files; empty: ask the desktop.
  std::function<bool()> HasChmViewer;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildMenus();
  void BuildActions();
  void SetTabOrder();
  void Connect();

  // The load's six stages.
  struct Load;
  bool GetFType(Load& load);
  void GetCBs(Load& load);
  void ChkEditFlags(Load& load);
  void GetIcon(Load& load);
  void GetContentType(Load& load);
  void GetActions(Load& load);
  void ShowIcon(const QImage& image);
  bool Backup(const QString& name, const std::string& keyPath, const std::string& keyName);
  void RefillActions(const std::string& progId);
  void Message(const QString& text);
  void EnableEditFlags(bool enabled);
  // True when the window shows a file type, which State.CurrentProgID then names; else
  // says that none is loaded, so that no write lands in a file type loaded before.
  bool ShowsFileType(const QString& doing);

  // What the load put in a text box, with the key it came from; no text when the value
  // was missing. A save leaves a field the user did not change alone, so stored bytes the
  // box could only show replaced (invalid text) are never rewritten.
  struct LoadedText {
    std::string key;
    std::optional<QString> text;
  };
  static LoadedText ReadLoaded(AssocStore& store, const std::string& key, const std::string& name);
  static bool AsLoaded(const LoadedText& loaded, const std::string& key, const QString& shown);
  LoadedText m_loadedContentType;
  LoadedText m_loadedDescription;
  LoadedText m_loadedCaption;
  LoadedText m_loadedCommand;

  void RebuildDesktop(bool mime, bool applications);

  Dialogs m_dialogs;
  QString m_argument;
  QLabel* m_statusText = nullptr;
  bool m_argumentApplied = false;
};

}  // namespace kestrova
