#pragma once
// The frame every dialog shares: caption, fixed client size, centred, no maximise.

#include <QDialog>
#include <QString>

namespace kestrova {

void SetUpFixedDialog(QDialog* dialog, const QString& objectName, const QString& caption, int width,
                      int height);

}  // namespace kestrova
