#include "regfile/TempExportFile.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>
#include <random>

namespace kestrova {
namespace {

int CreateTempBeside(const std::string& path, std::string& tempPath) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = folder + ".~";
    for (int i = 0; i < 6; ++i) tempPath += kLetters[random() % (sizeof kLetters - 1)];
    tempPath += ".tmp";
    const int fd =
        ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// The temporary file of the export under way, for the signal handlers.
constexpr int kCleanupSignals[] = {SIGTERM, SIGINT, SIGHUP};
char g_tempPath[8192];
volatile std::sig_atomic_t g_tempArmed = 0;
struct sigaction g_previous[std::size(kCleanupSignals)];
bool g_installed[std::size(kCleanupSignals)];
struct sigaction g_previousFileSize {};
bool g_fileSize = false;

extern "C" void RemoveTempAndRaise(int signal) {
  if (g_tempArmed) {
    g_tempArmed = 0;
    ::unlink(g_tempPath);
  }
  for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i) {
    if (kCleanupSignals[i] == signal) ::sigaction(signal, &g_previous[i], nullptr);
  }
  ::raise(signal);
}

}  // namespace

TempExportFile::TempExportFile() {
  struct sigaction action {};
  action.sa_handler = RemoveTempAndRaise;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i) {
    g_installed[i] = false;
    if (::sigaction(kCleanupSignals[i], nullptr, &g_previous[i]) != 0) continue;
    // A signal ignored (as nohup ignores SIGHUP) stays ignored.
    if (g_previous[i].sa_handler == SIG_IGN) continue;
    g_installed[i] = ::sigaction(kCleanupSignals[i], &action, nullptr) == 0;
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  g_fileSize = ::sigaction(SIGXFSZ, &ignore, &g_previousFileSize) == 0;
}

TempExportFile::~TempExportFile() {
  Disarm();
  for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i) {
    if (g_installed[i]) ::sigaction(kCleanupSignals[i], &g_previous[i], nullptr);
  }
  if (g_fileSize) ::sigaction(SIGXFSZ, &g_previousFileSize, nullptr);
}

// The signals are held back meanwhile, so that no signal can come between the file's
// creation and the handlers knowing its name.
int TempExportFile::Create(const std::string& path, std::string& tempPath) {
  sigset_t held, previous;
  sigemptyset(&held);
  for (int signal : kCleanupSignals) sigaddset(&held, signal);
  ::pthread_sigmask(SIG_BLOCK, &held, &previous);
  const int fd = CreateTempBeside(path, tempPath);
  const int error = errno;
  if (fd >= 0 && tempPath.size() < sizeof g_tempPath) {
    std::memcpy(g_tempPath, tempPath.c_str(), tempPath.size() + 1);
    g_tempArmed = 1;
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = error;
  return fd;
}

void TempExportFile::Disarm() { g_tempArmed = 0; }

}  // namespace kestrova
