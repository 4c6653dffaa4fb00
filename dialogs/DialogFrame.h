#pragma once
// The frame every dialog shares: caption, fixed client size, centred, no maximise.

#include <QDialog>
#include <QLabel>
#include <QRect>
#include <QString>

namespace kestrova {

void SetUpFixedDialog(QDialog* dialog, const QString& objectName, const QString& caption, int width,
                      int height);

// Places `box` at `geometry` in `parent` with its label 16 pixels above it (labelWidth wide,
// the box's width when 0). The label is the box's buddy and names it for screen readers, so
// "Extension:" is what an accessibility tool reads for the box.
QLabel* AttachLabel(QWidget* parent, QWidget* box, const char* name, const QString& label,
                    const QRect& geometry, int labelWidth = 0);

template <typename Box>
Box* Labelled(QWidget* parent, Box* box, const char* name, const QString& label,
              const QRect& geometry, int labelWidth = 0) {
  AttachLabel(parent, box, name, label, geometry, labelWidth);
  return box;
}

}  // namespace kestrova
