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
#include "app/StoreChoice.h"
#include "kestrova/Version.h"
#include "platform/Boxes.h"
#include "platform/SqliteStore.h"

namespace {

constexpr const char* kUsage =
    "Usage: kestrova [--prefix DIR] [FILE]\n"
    "Edits file associations. With FILE, shows the association of FILE's extension.\n"
    "The store: $KESTROVA_STORE, else $XDG_DATA_HOME/kestrova/registry.db.\n"
    "--prefix DIR works on the Wine prefix DIR (its system.reg) instead.\n";

}  // namespace

int main(int argc, char** argv) {
  std::string prefix;
  bool prefixGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--prefix" || arg.starts_with("--prefix=")) {
      if (arg == "--prefix" && i + 1 >= argc) {
        std::cerr << "kestrova: --prefix needs a folder\n" << kUsage;
        return 2;
      }
      prefix = arg == "--prefix" ? argv[++i] : arg.substr(std::string("--prefix=").size());
      prefixGiven = true;
      continue;
    }
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

  if (prefixGiven) {
    // Nothing is created in a folder that is not a prefix; the default store is not opened
    // (nor made) either.
    const std::string why = kestrova::OpenPrefixStore(prefix);
    if (!why.empty()) {
      std::cerr << "kestrova: " << why << '\n';
      kestrova::TheBoxes().Message(nullptr, "Kestrova", QString::fromStdString(why),
                                   kestrova::Boxes::Icon::Error);
      return 1;
    }
  } else {
    try {
      kestrova::OpenDefaultStore(kestrova::DefaultStorePath());
    } catch (const std::exception& e) {
      // A damaged or foreign file is named and left alone, and a new store that could not be
      // filled is not left behind; either way the program cannot go on.
      std::cerr << "kestrova: " << e.what() << '\n';
      kestrova::TheBoxes().Message(nullptr, "Kestrova", QString::fromUtf8(e.what()),
                                   kestrova::Boxes::Icon::Error);
      return 1;
    }
  }

  auto mainWindow = kestrova::CreateWindows();
  // Qt has taken its own options out; --prefix and its folder are not a file to show.
  QStringList args = QApplication::arguments();
  args.removeFirst();
  for (qsizetype i = 0; i < args.size(); ++i) {
    if (args[i] == "--prefix") {
      args.remove(i, std::min<qsizetype>(2, args.size() - i));
      break;
    }
    if (args[i].startsWith("--prefix=")) {
      args.remove(i);
      break;
    }
  }
  if (!args.isEmpty()) mainWindow->SetArgument(args.front());
  mainWindow->show();
  mainWindow->activateWindow();
  return app.exec();
}
