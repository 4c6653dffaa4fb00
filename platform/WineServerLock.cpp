#include "platform/WineServerLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>

namespace kestrova {
namespace {

// The name Debian's Wine keeps in $prefix/wineserver (made by mkdtemp("wine-XXXXXX")).
std::string DebianBaseName(const std::string& prefix) {
  std::ifstream in(prefix + "/wineserver", std::ios::binary);
  if (!in) return {};
  std::string name;
  std::getline(in, name);
  while (!name.empty() && (name.back() == '\r' || name.back() == ' ' || name.back() == '\0'))
    name.pop_back();
  if (name.empty() || name.size() > 255 || name.find('/') != std::string::npos || name == "." ||
      name == "..")
    return {};
  return name;
}

struct flock WholeFirstByte(short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  fl.l_pid = 0;
  return fl;
}

// The server folders whose lock this process holds: a query from another thread must not
// take our own lock for a running server.
std::mutex g_heldMutex;
std::map<std::string, int> g_held;

bool HeldHere(const std::string& dir) {
  std::lock_guard lock(g_heldMutex);
  return g_held.count(dir) != 0;
}

}  // namespace

std::string WineServerDir(const std::string& prefix) {
  struct stat st {};
  if (::stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  char leaf[64];
  std::snprintf(leaf, sizeof leaf, "/server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  const std::string name = DebianBaseName(prefix);
  if (!name.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = (tmp && *tmp) ? tmp : "/tmp";
    return base + "/" + name + leaf;
  }
  return "/tmp/.wine-" + std::to_string(::getuid()) + leaf;
}

pid_t WineServerPid(const std::string& prefix) {
  const std::string dir = WineServerDir(prefix);
  if (dir.empty() || HeldHere(dir)) return 0;
  const int fd = ::open((dir + "/lock").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  struct flock fl = WholeFirstByte(F_WRLCK);
  // An open-file-description query: closing this descriptor afterwards cannot drop a lock
  // this process holds on the same file.
  pid_t pid = 0;
  if (::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK)
    pid = fl.l_pid > 0 ? fl.l_pid : -1;
  ::close(fd);
  return pid;
}

std::string WineServerRunningMessage(const std::string& prefix, pid_t pid) {
  std::string who = "a Wine program is running in this prefix";
  if (pid > 0) who += " (its wineserver has process " + std::to_string(pid) + ")";
  return who + "; close the prefix's programs or run `WINEPREFIX=" + prefix +
         " wineserver -k`, then try again";
}

WineServerLock::WineServerLock(const std::string& prefix) {
  const std::string dir = WineServerDir(prefix);
  if (dir.empty()) return;
  const int fd = ::open((dir + "/lock").c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    // Without write access the lock can still be asked about.
    m_server = WineServerPid(prefix);
    return;
  }
  struct flock fl = WholeFirstByte(F_WRLCK);
  if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) {
    m_fd = fd;
    m_dir = dir;
    std::lock_guard lock(g_heldMutex);
    ++g_held[dir];
    return;
  }
  struct flock q = WholeFirstByte(F_WRLCK);
  if (::fcntl(fd, F_OFD_GETLK, &q) == 0 && q.l_type != F_UNLCK) {
    m_server = q.l_pid > 0 ? q.l_pid : -1;
  } else {
    m_server = -1;
  }
  ::close(fd);
}

WineServerLock::~WineServerLock() {
  if (m_fd < 0) return;
  {
    std::lock_guard lock(g_heldMutex);
    if (--g_held[m_dir] <= 0) g_held.erase(m_dir);
  }
  ::close(m_fd);
}

}  // namespace kestrova
