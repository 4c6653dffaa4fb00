#pragma once
// The list index error and how the application shows an error no handler caught.

#include <QString>
#include <stdexcept>

class QWidget;

namespace kestrova {

// Raised when a command needs the selected row of a list and none is selected.
class EListError : public std::runtime_error {
 public:
  explicit EListError(int index)
      : std::runtime_error("List index out of bounds (" + std::to_string(index) + ")") {}
};

// The message box for an error that ended a handler: captioned with the application's
// title, an error icon and OK; a full stop is added when the last character sorts after ".".
void ShowUncaughtError(const QString& message, QWidget* parent = nullptr);

}  // namespace kestrova
