#include "platform/IconPickerDesktop.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPixmap>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/Boxes.h"
#include "platform/IconSourceFactory.h"
#include "store/StoreFiles.h"

namespace kestrova {
namespace {

constexpr int kIndexRole = Qt::UserRole;

QString Q(const std::string& text) { return QString::fromStdString(text); }

QListWidgetItem* IconItem(const QImage& image, int32_t index) {
  auto* item = new QListWidgetItem(QIcon(QPixmap::fromImage(image)), QString());
  item->setData(kIndexRole, index);
  item->setToolTip(QString("Icon %1").arg(index));
  item->setData(Qt::AccessibleTextRole, item->toolTip());
  return item;
}

}  // namespace

IconPickerDialog::IconPickerDialog(QWidget* parent)
    : QDialog(parent), m_source(AcquireIconSource()) {
  setObjectName("IconPickerDialog");
  setWindowTitle("Change Icon");
  setModal(true);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);

  auto* fileLabel = new QLabel("&Look for icons in this file:", this);
  FileBox = new QLineEdit(this);
  FileBox->setObjectName("FileBox");
  FileBox->setAccessibleName("Look for icons in this file");
  fileLabel->setBuddy(FileBox);
  BrowseBtn = new QPushButton("&Browse...", this);
  BrowseBtn->setObjectName("BrowseBtn");
  BrowseBtn->setAutoDefault(false);

  auto* listLabel = new QLabel("&Select an icon from the list below:", this);
  IconList = new QListWidget(this);
  IconList->setObjectName("IconList");
  IconList->setAccessibleName("Icons");
  IconList->setViewMode(QListView::IconMode);
  IconList->setIconSize({IconSource::kLargeSize, IconSource::kLargeSize});
  IconList->setGridSize({IconSource::kLargeSize + 14, IconSource::kLargeSize + 14});
  IconList->setMovement(QListView::Static);
  IconList->setResizeMode(QListView::Adjust);
  IconList->setWrapping(true);
  IconList->setUniformItemSizes(true);
  IconList->setSelectionMode(QAbstractItemView::SingleSelection);
  IconList->setMinimumSize(360, 180);
  listLabel->setBuddy(IconList);
  Note = new QLabel(this);
  Note->setObjectName("Note");
  Note->hide();

  OKBtn = new QPushButton("OK", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton("Cancel", this);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setAutoDefault(false);

  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(FileBox, 1);
  fileRow->addWidget(BrowseBtn);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(fileLabel);
  layout->addLayout(fileRow);
  layout->addWidget(listLabel);
  layout->addWidget(IconList, 1);
  layout->addWidget(Note);
  layout->addLayout(buttons);

  FileBox->installEventFilter(this);
  connect(FileBox, &QLineEdit::textEdited, this, &IconPickerDialog::UpdateOk);
  connect(FileBox, &QLineEdit::editingFinished, this, [this] {
    if (FileBox->text().toStdString() != m_loaded) {
      LoadIcons();
      Select(0);
    }
  });
  connect(BrowseBtn, &QPushButton::clicked, this, &IconPickerDialog::BrowseBtnClick);
  connect(IconList, &QListWidget::itemSelectionChanged, this, &IconPickerDialog::UpdateOk);
  connect(IconList, &QListWidget::itemActivated, this, [this] {
    if (OKBtn->isEnabled()) accept();
  });
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  UpdateOk();
}

void IconPickerDialog::SetChoice(const std::string& file, int32_t index) {
  FileBox->setText(Q(file));
  LoadIcons();
  Select(index);
}

std::optional<int32_t> IconPickerDialog::ChosenIndex() const {
  const QList<QListWidgetItem*> selected = IconList->selectedItems();
  if (selected.isEmpty()) return std::nullopt;
  return selected.front()->data(kIndexRole).toInt();
}

bool IconPickerDialog::eventFilter(QObject* watched, QEvent* event) {
  // Enter in the file box shows that file's icons instead of closing the dialog with the
  // icon of the file shown before.
  if (watched == FileBox && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
        FileBox->text().toStdString() != m_loaded) {
      LoadIcons();
      Select(0);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void IconPickerDialog::BrowseBtnClick() {
  Boxes::OpenFileRequest request;
  request.title = "Change Icon";
  const QFileInfo current(FileBox->text());
  if (!FileBox->text().isEmpty() && current.dir().exists()) request.initialDir = current.path();
  request.filters = {"Icon files (*.ico *.icl *.exe *.dll *.cpl *.png *.svg *.xpm)",
                     "Programs (*.exe)", "Libraries (*.dll)", "All Files (*)"};
  const QString file = TheBoxes().OpenFile(this, request);
  if (file.isEmpty()) return;
  FileBox->setText(file);
  LoadIcons();
  Select(0);
}

void IconPickerDialog::LoadIcons() {
  m_loaded = FileBox->text().toStdString();
  IconList->clear();
  const int count = m_loaded.empty() ? 0 : std::min(m_source->Count(m_loaded), kMaxIcons);
  for (int i = 0; i < count; ++i) {
    const auto icons = m_source->Extract(m_loaded, i);
    if (icons) IconList->addItem(IconItem(icons->large, i));
  }
  Note->setText(IsOpenStoreFile(m_loaded)
                    ? "This is a file of the association store; it is not read for icons."
                    : "No icons were found in this file.");
  Note->setVisible(!m_loaded.empty() && IconList->count() == 0);
  UpdateOk();
}

void IconPickerDialog::Select(int32_t index) {
  for (int row = 0; row < IconList->count(); ++row) {
    if (IconList->item(row)->data(kIndexRole).toInt() == index) {
      IconList->setCurrentRow(row);
      return;
    }
  }
  // A negative index names an icon by its resource identifier, which has no place in the
  // grid's numbering; it is shown first so that the current choice can be kept.
  if (index < 0 && !m_loaded.empty()) {
    if (const auto icons = m_source->Extract(m_loaded, index)) {
      IconList->insertItem(0, IconItem(icons->large, index));
      Note->hide();
      IconList->setCurrentRow(0);
      return;
    }
  }
  if (IconList->count() > 0) IconList->setCurrentRow(0);
}

void IconPickerDialog::UpdateOk() {
  // A file name typed but not yet shown has no icon chosen in it.
  OKBtn->setEnabled(ChosenIndex().has_value() && FileBox->text().toStdString() == m_loaded);
}

bool DesktopIconPicker::Pick(QWidget* owner, std::string& file, int32_t& index) {
  IconPickerDialog dialog(owner);
  dialog.SetChoice(file, index);
  if (dialog.exec() != QDialog::Accepted) return false;
  const auto chosen = dialog.ChosenIndex();
  if (!chosen) return false;
  file = dialog.ChosenFile();
  index = *chosen;
  return true;
}

}  // namespace kestrova
