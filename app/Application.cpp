#include "app/Application.h"

#include "app/Errors.h"
#include "app/StoreChoice.h"
#include "kestrova/Version.h"
#include "platform/Boxes.h"
#include "store/RegistryEngine.h"

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
    QString text = QString::fromUtf8(e.what());
    // A write a dialog made while Wine runs in the open prefix failed for that reason; the
    // store's own words say what to do about it.
    if (!OpenedPrefix().empty()) {
      try {
        const auto engine = AcquireEngine();
        if (!engine->Writable()) {
          if (!text.endsWith('.')) text += '.';
          QString reason = QString::fromStdString(engine->ReadOnlyReason());
          if (!reason.isEmpty()) reason[0] = reason[0].toUpper();
          text += ' ' + reason;
        }
      } catch (const std::exception&) {
        // The original error is what the user needs to see.
      }
    }
    ShowUncaughtError(text);
  }
  return false;
}

}  // namespace kestrova
