#include "platform/Boxes.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

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

QString DesktopSaveFile(QWidget* parent, const Boxes::SaveFileRequest& request);

class DesktopBoxes final : public Boxes {
 public:
  QString SaveFile(QWidget* parent, const SaveFileRequest& request) override {
    return DesktopSaveFile(parent, request);
  }

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
    QFileDialog dialog(parent, request.title, request.initialDir);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(request.filters);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
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
};

// Kept apart from the open-file dialog: a save dialog asks before replacing a file.
QString DesktopSaveFile(QWidget* parent, const Boxes::SaveFileRequest& request) {
  QFileDialog dialog(parent, request.title, request.initialPath);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(request.filters);
  dialog.setDefaultSuffix(request.defaultSuffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace

void SetBoxes(std::shared_ptr<Boxes> boxes) { Installed().Install(std::move(boxes)); }

Boxes& TheBoxes() {
  static thread_local HoldingBoxes holding;
  return t_held ? static_cast<Boxes&>(holding) : Installed().Current();
}

HeldMessages::HeldMessages() : m_outer(t_held) { t_held = this; }

HeldMessages::~HeldMessages() { t_held = m_outer; }

}  // namespace kestrova
