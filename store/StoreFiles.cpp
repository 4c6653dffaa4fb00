#include "store/StoreFiles.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <mutex>

namespace kestrova {
namespace {

std::mutex g_mutex;
std::map<std::string, int> g_open;

constexpr const char* kSuffixes[] = {"", "-wal", "-shm", "-journal"};

std::string Normal(const std::string& path) {
  std::error_code ec;
  auto abs = std::filesystem::weakly_canonical(std::filesystem::path(path), ec);
  return ec ? path : abs.string();
}

}  // namespace

void RegisterOpenStore(const std::string& storePath) {
  std::lock_guard lock(g_mutex);
  ++g_open[storePath];
}

void UnregisterOpenStore(const std::string& storePath) {
  std::lock_guard lock(g_mutex);
  auto it = g_open.find(storePath);
  if (it != g_open.end() && --it->second <= 0) g_open.erase(it);
}

bool IsFileOfStore(const std::string& path, const std::string& storePath) {
  if (path.empty() || storePath.empty()) return false;
  struct stat target {};
  // stat() opens nothing, so asking is itself safe.
  const bool exists = ::stat(path.c_str(), &target) == 0;
  const std::string normal = exists ? std::string() : Normal(path);
  for (const char* suffix : kSuffixes) {
    const std::string file = storePath + suffix;
    struct stat st {};
    if (exists) {
      if (::stat(file.c_str(), &st) == 0 && st.st_dev == target.st_dev &&
          st.st_ino == target.st_ino) {
        return true;
      }
    } else if (Normal(file) == normal) {
      return true;
    }
  }
  return false;
}

bool IsOpenStoreFile(const std::string& path) {
  std::map<std::string, int> open;
  {
    std::lock_guard lock(g_mutex);
    open = g_open;
  }
  for (const auto& [store, count] : open) {
    if (IsFileOfStore(path, store)) return true;
  }
  return false;
}

}  // namespace kestrova
