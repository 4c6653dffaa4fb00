// kestrova-regedit: the store's own registry editor.

#include <iostream>
#include <string>
#include <vector>

#include "platform/SqliteStore.h"
#include "tools/RegeditCommand.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    kestrova::UseSqliteStore(kestrova::DefaultStorePath());
    return kestrova::RunRegedit(args, std::cout, std::cerr);
  } catch (const kestrova::StoreOpenError& e) {
    std::cerr << "kestrova-regedit: " << e.what() << '\n';
    return 2;
  }
}
