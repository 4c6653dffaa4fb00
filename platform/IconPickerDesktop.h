#pragma once
// Our icon picker: a file chooser above a grid of the icons found in the chosen file.

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/IconPicker.h"

namespace kestrova {

class IconSource;

class IconPickerDialog : public QDialog {
  Q_OBJECT
 public:
  // A file with more icons than this shows the first ones only.
  static constexpr int kMaxIcons = 2000;

  explicit IconPickerDialog(QWidget* parent = nullptr);

  // Shows the icons of `file` with the one at `index` selected.
  void SetChoice(const std::string& file, int32_t index);
  // The file whose icons are shown, and the selected icon's index (nullopt when none).
  std::string ChosenFile() const { return m_loaded; }
  std::optional<int32_t> ChosenIndex() const;

  QLineEdit* FileBox;
  QPushButton* BrowseBtn;
  QListWidget* IconList;
  QLabel* Note;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BrowseBtnClick();
  // Lists the icons of the file named in FileBox.
  void LoadIcons();
  void Select(int32_t index);
  void UpdateOk();

  std::shared_ptr<IconSource> m_source;
  std::string m_loaded;
};

// Shows IconPickerDialog modally.
class DesktopIconPicker final : public IconPicker {
 public:
  bool Pick(QWidget* owner, std::string& file, int32_t& index) override;
};

}  // namespace kestrova
