#include "dialogs/DialogFrame.h"

#include <QGuiApplication>
#include <QScreen>

namespace kestrova {

void SetUpFixedDialog(QDialog* dialog, const QString& objectName, const QString& caption, int width,
                      int height) {
  dialog->setObjectName(objectName);
  dialog->setWindowTitle(caption);
  dialog->setModal(true);
  dialog->setFixedSize(width, height);
  dialog->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    dialog->move(area.center() - QPoint(width / 2, height / 2));
  }
}

}  // namespace kestrova
