#include "app/StoreChoice.h"

#include <filesystem>
#include <system_error>

#include "app/DefaultStore.h"
#include "platform/SqliteStore.h"
#include "platform/WinePrefixStore.h"
#include "store/RegistryEngine.h"

namespace kestrova {
namespace {

std::string& Prefix() {
  static std::string prefix;
  return prefix;
}

std::string Absolute(const std::string& dir) {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::absolute(dir, error);
  return error ? dir : path.lexically_normal().string();
}

// Opens the store that was open before a failed switch again.
void Reopen(const std::string& prefix) {
  if (prefix.empty()) {
    UseSqliteStore(DefaultStorePath());
  } else {
    UseWinePrefix(prefix);
  }
}

// The engine reads the files Wine saved meanwhile when a write begins; one that writes
// nothing makes it look now. While Wine runs there is nothing newer on disk to read.
void Reread(RegistryEngine& engine) {
  if (!engine.Writable()) return;
  try {
    EngineTransaction look(engine, true);
  } catch (const StoreError& e) {
    // Wine started meanwhile: the view stays as it was, and the status says so.
    if (e.Kind() != StoreErrorKind::ReadOnly) throw;
  }
}

}  // namespace

void RereadPrefix() {
  if (!Prefix().empty()) Reread(*AcquireEngine());
}

const std::string& OpenedPrefix() { return Prefix(); }

std::string OpenPrefixStore(const std::string& dir) {
  std::string path = Absolute(dir);
  // A trailing separator would show in the title and make the same prefix look like two.
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (std::string why = WhyNotWinePrefix(path); !why.empty()) return why;
  const std::string before = Prefix();
  try {
    UseWinePrefix(path);
    // Reads the registry now, so that a damaged file is reported here; opening the prefix
    // that is open already shows what its files hold now.
    Reread(*AcquireEngine());
  } catch (const StoreError& e) {
    Reopen(before);
    return e.what();
  }
  Prefix() = path;
  return {};
}

void OpenDefaultStoreAgain(const std::string& path) {
  try {
    OpenDefaultStore(path.empty() ? DefaultStorePath() : path);
  } catch (...) {
    Reopen(Prefix());
    throw;
  }
  Prefix().clear();
}

QString StoreTitle(const QString& program) {
  if (Prefix().empty()) return program;
  return program + " - Wine prefix " + QString::fromStdString(Prefix());
}

}  // namespace kestrova
