#pragma once
// Whether a Wine prefix's wineserver runs, from the server's own lock file, and holding that
// lock while we write the prefix's registry files so that no server starts meanwhile.

#include <sys/types.h>
#include <string>

namespace kestrova {

// The folder where the prefix's wineserver keeps its `lock` and `socket`:
// ${TMPDIR:-/tmp}/<name from $prefix/wineserver>/server-<dev>-<ino> (Debian's Wine), else
// /tmp/.wine-<uid>/server-<dev>-<ino>. Empty when the prefix cannot be reached.
std::string WineServerDir(const std::string& prefix);

// The PID of the wineserver holding the prefix's lock; 0 when none runs (no folder, no lock
// file, or the lock is free). Creates nothing and changes nothing.
pid_t WineServerPid(const std::string& prefix);

// The message for writes refused while a server runs: what runs and what to do.
std::string WineServerRunningMessage(const std::string& prefix, pid_t pid);

// Holds the server's lock (an open-file-description lock, which the server's own record
// lock conflicts with, and which no other descriptor of this process can drop) for its
// lifetime. When the lock file does not exist no server runs and nothing is held: nothing
// is created in the server's folder.
class WineServerLock {
 public:
  explicit WineServerLock(const std::string& prefix);
  ~WineServerLock();
  WineServerLock(const WineServerLock&) = delete;
  WineServerLock& operator=(const WineServerLock&) = delete;

  // The PID of a server that holds the lock (nothing is held then); 0 when none.
  pid_t RunningServer() const { return m_server; }
  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
  pid_t m_server = 0;
  std::string m_dir;
};

}  // namespace kestrova
