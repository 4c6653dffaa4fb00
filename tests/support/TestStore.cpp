#include "tests/support/TestStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/SqliteStore.h"

namespace kestrova::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrova-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(m_path, ec);
}

TestStore::TestStore() {
  static TempDir root;  // one folder for the whole test program
  static int counter = 0;
  m_dir = root.Path() + "/store" + std::to_string(++counter);
  m_path = m_dir + "/registry.db";
  std::filesystem::create_directories(m_dir);
  UseSqliteStore(m_path);
}

TestStore::~TestStore() {
  ReleaseSqliteStoreForThread(m_path);
  std::error_code ec;
  std::filesystem::remove_all(m_dir, ec);
}

std::shared_ptr<RegistryEngine> TestStore::Engine() const { return SqliteStoreForThread(m_path); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::optional<StoreErrorKind> ErrorKindOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const StoreError& e) {
    return e.Kind();
  }
  return std::nullopt;
}

}  // namespace kestrova::test
