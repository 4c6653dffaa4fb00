#pragma once
// The icon picker seam, and PickIconDialog: choose a file and one of the icons in it.

#include <QImage>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <memory>
#include <string>

class QWidget;

namespace kestrova {

class IconPicker {
 public:
  virtual ~IconPicker() = default;
  // Shows the picker starting at `file` and `index`. On a confirmed choice writes the
  // chosen file and index back and returns true; a cancel leaves both as they were.
  virtual bool Pick(QWidget* owner, std::string& file, int32_t& index) = 0;
};

// The one place that picks: our own picker dialog unless tests installed theirs; nullptr
// restores ours.
void SetIconPicker(std::shared_ptr<IconPicker> picker);
IconPicker& TheIconPicker();

// The main window's IconDlg: a file and an index in, the user's choice out, and the large
// icon that the choice names.
class PickIconDialog : public QObject {
  Q_OBJECT
 public:
  // `owner` is the window the picker is shown over; the object is its child.
  explicit PickIconDialog(QWidget* owner);

  std::string FileName;
  int32_t IconIndex = 0;

  // Shows the picker at FileName and IconIndex; true when the user confirmed a choice,
  // which FileName and IconIndex then hold.
  bool Execute();
  // The large icon of FileName at IconIndex, extracted into the dialog's own image; a null
  // image when the file gives none there.
  const QImage& IconOf();

 private:
  QPointer<QWidget> m_owner;
  QImage m_icon;
};

}  // namespace kestrova
