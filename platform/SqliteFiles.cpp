#include "platform/SqliteFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>

#include "platform/SqliteFailure.h"

namespace kestrova::sqlite {

std::string FolderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

off_t SizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

std::string UriOf(const std::string& path, const char* query) {
  std::error_code ec;
  std::string abs = std::filesystem::absolute(path, ec).string();
  if (ec) abs = path;
  std::string uri = "file:";
  static const char* hex = "0123456789ABCDEF";
  for (const char ch : abs) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '~') {
      uri += ch;
    } else {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 0xF];
    }
  }
  return uri + "?" + query;
}

void SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

void RemoveTemp(const std::string& temp) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((temp + suffix).c_str());
}

bool LogFilesWritable(const std::string& path, std::string& reason) {
  const std::string folder = FolderOf(path);
  if (::access(folder.c_str(), W_OK | X_OK) == 0) return true;
  const int e = errno;
  if (::access((path + "-wal").c_str(), W_OK) == 0 && ::access((path + "-shm").c_str(), W_OK) == 0)
    return true;
  reason =
      "its folder " + QuotedForMessage(folder) + " cannot be written (" + ReasonOfErrno(e) + ")";
  return false;
}

}  // namespace kestrova::sqlite
