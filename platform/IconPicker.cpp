#include "platform/IconPicker.h"

#include <QWidget>

#include "platform/IconPickerDesktop.h"
#include "platform/IconSource.h"

namespace kestrova {
namespace {

std::shared_ptr<IconPicker>& Installed() {
  static std::shared_ptr<IconPicker> picker = std::make_shared<DesktopIconPicker>();
  return picker;
}

}  // namespace

void SetIconPicker(std::shared_ptr<IconPicker> picker) {
  Installed() = picker ? std::move(picker) : std::make_shared<DesktopIconPicker>();
}

IconPicker& TheIconPicker() { return *Installed(); }

PickIconDialog::PickIconDialog(QWidget* owner) : QObject(owner), m_owner(owner) {
  setObjectName("IconDlg");
}

bool PickIconDialog::Execute() { return TheIconPicker().Pick(m_owner, FileName, IconIndex); }

const QImage& PickIconDialog::IconOf() {
  const auto icons = AcquireIconSource()->Extract(FileName, IconIndex);
  m_icon = icons ? icons->large : QImage();
  return m_icon;
}

}  // namespace kestrova
