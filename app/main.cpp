// Kestrova: the program's start.

#include <QFont>
#include <QIcon>
#include <QTextStream>
#include <csignal>
#include <filesystem>
#include <iostream>

#include "app/Application.h"
#include "app/DefaultStore.h"
#include "app/Startup.h"
#include "kestrova/Version.h"
#include "platform/Boxes.h"
#include "platform/SqliteStore.h"

namespace {

constexpr const char* kUsage =
    "Usage: kestrova [FILE]\n"
    "Edits file associations. With FILE, shows the association of FILE's extension.\n"
    "The store: $KESTROVA_STORE, else $XDG_DATA_HOME/kestrova/registry.db.\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << "kestrova " KESTROVA_VERSION "\n";
      return 0;
    }
  }

  // A file-size limit then fails a write with an error the store reports, instead of
  // ending the program half-way through it.
  std::signal(SIGXFSZ, SIG_IGN);

  kestrova::KestrovaApplication app(argc, argv);
  // The windows are laid out for Tahoma 8; a semi-condensed stand-in keeps captions inside
  // their fixed boxes where Tahoma is missing.
  QFont font("Tahoma", 8);
  font.setStretch(QFont::SemiCondensed);
  app.setFont(font);
  app.setWindowIcon(QIcon(":/kestrova/icons/kestrova.svg"));

  const std::string storePath = kestrova::DefaultStorePath();
  try {
    kestrova::OpenDefaultStore(storePath);
  } catch (const std::exception& e) {
    // A damaged or foreign file is named and left alone, and a new store that could not be
    // filled is not left behind; either way the program cannot go on.
    std::cerr << "kestrova: " << e.what() << '\n';
    kestrova::TheBoxes().Message(nullptr, "Kestrova", QString::fromUtf8(e.what()),
                                 kestrova::Boxes::Icon::Error);
    return 1;
  }

  auto mainWindow = kestrova::CreateWindows();
  const QStringList args = QApplication::arguments();
  if (args.size() > 1) mainWindow->SetArgument(args.at(1));
  mainWindow->show();
  mainWindow->activateWindow();
  return app.exec();
}
