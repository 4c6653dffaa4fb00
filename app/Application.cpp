#include "app/Application.h"

#include "app/Errors.h"
#include "kestrova/Version.h"
#include "platform/Boxes.h"

namespace kestrova {

void ShowUncaughtError(const QString& message, QWidget* parent) {
  QString text = message;
  if (!text.isEmpty() && text.back() > QChar('.')) text += '.';
  const QString title = QApplication::applicationDisplayName().isEmpty()
                            ? QStringLiteral("Kestrova")
                            : QApplication::applicationDisplayName();
  TheBoxes().Message(parent ? parent : QApplication::activeWindow(), title, text,
                     Boxes::Icon::Error);
}

KestrovaApplication::KestrovaApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // No display name: the platform would append it to every window's title.
  setApplicationName("Kestrova");
  setApplicationVersion(KESTROVA_VERSION);
}

bool KestrovaApplication::notify(QObject* receiver, QEvent* event) {
  // A handler's error ends the handler, not the program: what it wrote stays.
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowUncaughtError(QString::fromUtf8(e.what()));
  }
  return false;
}

}  // namespace kestrova
