#pragma once
// A fresh store in a temporary directory, installed as the engine behind AssocStore.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "store/RegistryEngine.h"

namespace kestrova::test {

class TestStore {
 public:
  TestStore();
  ~TestStore();
  TestStore(const TestStore&) = delete;
  TestStore& operator=(const TestStore&) = delete;

  const std::string& Dir() const { return m_dir; }
  const std::string& Path() const { return m_path; }
  // A connection of this thread to the store, as AssocStore gets it.
  std::shared_ptr<RegistryEngine> Engine() const;

 private:
  std::string m_dir;
  std::string m_path;
};

// A fresh temporary directory, removed with its contents at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// The kind of the StoreError that f throws; nullopt when it throws none.
std::optional<StoreErrorKind> ErrorKindOf(const std::function<void()>& f);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace kestrova::test
