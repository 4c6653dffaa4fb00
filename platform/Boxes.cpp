#include "platform/Boxes.h"

#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPushButton>
#include <QSortFilterProxyModel>

#include "platform/Seam.h"

namespace kestrova {
namespace {

QMessageBox::Icon ToQt(Boxes::Icon icon) {
  switch (icon) {
    case Boxes::Icon::Information:
      return QMessageBox::Information;
    case Boxes::Icon::Warning:
      return QMessageBox::Warning;
    case Boxes::Icon::Error:
      return QMessageBox::Critical;
    case Boxes::Icon::Question:
      return QMessageBox::Question;
    case Boxes::Icon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// Types and icons from the file's name only. Qt's own provider asks the MIME database in
// its default mode, which opens and reads every file it cannot place by name.
class NameOnlyIconProvider final : public QFileIconProvider {
 public:
  QIcon icon(IconType type) const override { return QFileIconProvider::icon(type); }

  QIcon icon(const QFileInfo& info) const override {
    if (info.isRoot()) return QFileIconProvider::icon(Drive);
    if (info.isDir()) return QFileIconProvider::icon(Folder);
    const QMimeType mime = ByName(info);
    QIcon found = QIcon::fromTheme(mime.iconName());
    if (found.isNull()) found = QIcon::fromTheme(mime.genericIconName());
    return found.isNull() ? QFileIconProvider::icon(File) : found;
  }

  QString type(const QFileInfo& info) const override {
    if (info.isRoot()) return QStringLiteral("Drive");
    if (info.isDir()) return QStringLiteral("Folder");
    const QMimeType mime = ByName(info);
    return mime.comment().isEmpty() ? mime.name() : mime.comment();
  }

 private:
  QMimeType ByName(const QFileInfo& info) const {
    // Globs only: no stat, no open.
    const QList<QMimeType> candidates = m_mimes.mimeTypesForFileName(info.fileName());
    return candidates.isEmpty()
               ? m_mimes.mimeTypeForName(QStringLiteral("application/octet-stream"))
               : candidates.front();
  }

  QMimeDatabase m_mimes;
};

// The provider lives as long as its dialog: a base constructed before the dialog and
// destroyed after it.
struct IconProviderHolder {
  NameOnlyIconProvider icons;
};

class StoreSafeFileDialog final : private IconProviderHolder, public QFileDialog {
 public:
  StoreSafeFileDialog(QWidget* parent, const QString& caption)
      // No folder is listed until the provider is in place.
      : QFileDialog(parent, caption, QStringLiteral("/nonexistent-kestrova-folder")) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::DontUseCustomDirectoryIcons, true);
    setIconProvider(&icons);
  }
};

class DesktopBoxes final : public Boxes {
 public:
  void Message(QWidget* parent, const QString& caption, const QString& text, Icon icon) override {
    QMessageBox box(ToQt(icon), caption, text, QMessageBox::Ok, parent);
    box.exec();
  }

  bool Confirm(QWidget* parent, const QString& caption, const QString& text) override {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  }

  QString Prompt(QWidget* parent, const QString& caption, const QString& label, const QString& text,
                 int maxLength) override {
    QInputDialog dialog(parent);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(label);
    dialog.setTextValue(text);
    if (auto* edit = dialog.findChild<QLineEdit*>()) edit->setMaxLength(maxLength);
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
  }

  QString OpenFile(QWidget* parent, const OpenFileRequest& request) override {
    const auto dialog = MakeFileDialog(parent, request.title, request.initialDir, request.filters);
    if (request.programs) OfferProgramsFilter(*dialog);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setDefaultSuffix(request.defaultSuffix);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().front();
  }

  QString SaveFile(QWidget* parent, const SaveFileRequest& request) override {
    const QFileInfo initial(request.initialPath);
    const bool isFolder = request.initialPath.isEmpty() || initial.isDir();
    const auto dialog = MakeFileDialog(
        parent, request.title, isFolder ? request.initialPath : initial.path(), request.filters);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(request.defaultSuffix);
    if (!isFolder) dialog->selectFile(initial.fileName());
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().front();
  }

  QString ChooseFolder(QWidget* parent, const QString& title, const QString& initialDir) override {
    const auto dialog = MakeFileDialog(parent, title, initialDir);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFilter(dialog->filter() | QDir::Hidden);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().front();
  }
};

SeamSlot<Boxes, DesktopBoxes>& Installed() {
  static SeamSlot<Boxes, DesktopBoxes> slot;
  return slot;
}

thread_local HeldMessages* t_held = nullptr;

// The installed boxes, except that messages go to the innermost hold.
class HoldingBoxes final : public Boxes {
 public:
  void Message(QWidget*, const QString&, const QString& text, Icon) override {
    if (t_held) t_held->Add(text);
  }
  bool Confirm(QWidget* parent, const QString& caption, const QString& text) override {
    return Installed().Current().Confirm(parent, caption, text);
  }
  QString Prompt(QWidget* parent, const QString& caption, const QString& label, const QString& text,
                 int maxLength) override {
    return Installed().Current().Prompt(parent, caption, label, text, maxLength);
  }
  QString OpenFile(QWidget* parent, const OpenFileRequest& request) override {
    return Installed().Current().OpenFile(parent, request);
  }
  QString SaveFile(QWidget* parent, const SaveFileRequest& request) override {
    return Installed().Current().SaveFile(parent, request);
  }
  QString ChooseFolder(QWidget* parent, const QString& title, const QString& initialDir) override {
    return Installed().Current().ChooseFolder(parent, title, initialDir);
  }
};

}  // namespace

std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const QString& caption,
                                            const QString& directory, const QStringList& filters) {
  auto dialog = std::make_unique<StoreSafeFileDialog>(parent, caption);
  if (!filters.isEmpty()) dialog->setNameFilters(filters);
  dialog->setDirectory(directory.isEmpty() ? QDir::currentPath() : directory);
  return dialog;
}

const char kProgramsFilter[] = "Programs (*)";

namespace {

// Hides what is neither a folder nor a file the user may run while "Programs" is chosen.
class ProgramsOnly final : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void SetActive(bool active) {
    if (active == m_active) return;
    m_active = active;
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    if (!m_active) return true;
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (!files) return true;
    const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
    return info.isDir() || info.isExecutable();
  }

 private:
  bool m_active = false;
};

}  // namespace

void OfferProgramsFilter(QFileDialog& dialog) {
  QStringList filters = dialog.nameFilters();
  filters.removeAll(QStringLiteral("All Files (*)"));
  filters.prepend(QString::fromLatin1(kProgramsFilter));
  // Both name every file: only the proxy tells them apart.
  filters.append(QStringLiteral("All Files (*)"));
  dialog.setNameFilters(filters);
  auto* proxy = new ProgramsOnly(&dialog);
  dialog.setProxyModel(proxy);
  const auto choose = [proxy](const QString& filter) {
    proxy->SetActive(filter == QLatin1String(kProgramsFilter));
  };
  QObject::connect(&dialog, &QFileDialog::filterSelected, proxy, choose);
  dialog.selectNameFilter(QString::fromLatin1(kProgramsFilter));
  choose(dialog.selectedNameFilter());
}

void SetBoxes(std::shared_ptr<Boxes> boxes) { Installed().Install(std::move(boxes)); }

Boxes& TheBoxes() {
  static thread_local HoldingBoxes holding;
  return t_held ? static_cast<Boxes&>(holding) : Installed().Current();
}

HeldMessages::HeldMessages() : m_outer(t_held) { t_held = this; }

HeldMessages::~HeldMessages() { t_held = m_outer; }

}  // namespace kestrova
