// kestrova-regedit: the store's own registry editor.

#include <iostream>
#include <string>
#include <vector>

#include "platform/SqliteStore.h"
#include "tools/RegeditCommand.h"
#if KESTROVA_REGEDIT_WINDOW
#include "tools/RegeditWindow.h"
#endif

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
#if KESTROVA_REGEDIT_WINDOW
  // Only the window needs a display; /e and /s never create the application object.
  if (args.empty()) return kestrova::RunRegeditWindow(argc, argv);
#endif
  try {
    kestrova::UseSqliteStore(kestrova::DefaultStorePath());
    return kestrova::RunRegedit(args, std::cout, std::cerr);
  } catch (const kestrova::StoreOpenError& e) {
    std::cerr << "kestrova-regedit: " << e.what() << '\n';
    return 2;
  }
}
