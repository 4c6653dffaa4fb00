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

QLabel* AttachLabel(QWidget* parent, QWidget* box, const char* name, const QString& label,
                    const QRect& geometry, int labelWidth) {
  box->setParent(parent);
  box->setObjectName(name);
  box->setGeometry(geometry);
  auto* caption = new QLabel(label, parent);
  caption->setObjectName(QString(name) + "Label");
  caption->setGeometry(geometry.left(), geometry.top() - 16,
                       labelWidth ? labelWidth : geometry.width(), 14);
  caption->setBuddy(box);
  box->setAccessibleName(QString(label).remove('&').remove(':').trimmed());
  return caption;
}

}  // namespace kestrova
