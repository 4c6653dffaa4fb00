#include "platform/IconPicker.h"

#include <QWidget>

#include "platform/IconPickerDesktop.h"
#include "platform/IconSourceFactory.h"
#include "platform/Seam.h"

namespace kestrova {
namespace {

SeamSlot<IconPicker, DesktopIconPicker>& Installed() {
  static SeamSlot<IconPicker, DesktopIconPicker> slot;
  return slot;
}

}  // namespace

void SetIconPicker(std::shared_ptr<IconPicker> picker) { Installed().Install(std::move(picker)); }

IconPicker& TheIconPicker() { return Installed().Current(); }

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
