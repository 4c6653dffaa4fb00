#include "tools/RegFiles.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
#include <system_error>
#include <vector>

#include "store/RegistryRules.h"
#include "store/StoreFiles.h"
#include "tools/RegReader.h"
#include "tools/RegRoots.h"
#include "tools/RegWriter.h"

namespace kestrova {
namespace {

constexpr std::size_t kReadChunk = 1 << 20;

std::string Shorten(std::string_view text) { return Abbreviate(text, 80); }

// Applies what a .reg file asks for to the engine. The current key path is cached with the
// KeyRef of each of its levels, so that a value costs one write and a key line only resolves
// the levels in which it differs from the previous one.
class StoreImporter final : public RegSink {
 public:
  StoreImporter(RegistryEngine& engine, const std::string& file, bool strict, std::ostream& err)
      : m_engine(engine), m_file(file), m_strict(strict), m_err(err) {}

  uint64_t SkippedLines() const { return m_skipped; }
  uint64_t IncompleteValues() const { return m_incomplete; }
  bool WasRefused() const { return m_refused; }
  uint64_t CurrentLine() const { return m_opLine; }

  void OpenKey(RootKey root, std::string_view path, uint64_t line) override {
    m_opLine = line;
    if (!Writing()) return;
    if (!m_cacheValid || m_cacheRoot != root) {
      m_rootRef = m_engine.Root(root);
      m_cacheRoot = root;
      m_names.clear();
      m_refs.clear();
      m_cacheValid = true;
    }
    Split(path);
    std::size_t common = 0;
    while (common < m_parts.size() && common < m_names.size() &&
           SameName(m_names[common], m_parts[common])) {
      ++common;
    }
    m_names.resize(common);
    m_refs.resize(common);
    KeyRef key = common == 0 ? m_rootRef : m_refs[common - 1];
    for (std::size_t i = common; i < m_parts.size(); ++i) {
      key = m_engine.CreateChild(key, m_parts[i]);
      m_names.emplace_back(m_parts[i]);
      m_refs.push_back(key);
    }
    m_current = key;
  }

  void DeleteKey(RootKey root, std::string_view path, uint64_t line) override {
    m_opLine = line;
    if (!Writing()) return;
    m_cacheValid = false;  // the cached KeyRefs may lie in the deleted subtree
    Split(path);
    KeyRef parent = m_engine.Root(root);
    for (std::size_t i = 0; i + 1 < m_parts.size(); ++i) {
      auto child = m_engine.FindChild(parent, m_parts[i]);
      if (!child) return;  // deleting a missing key is no error
      parent = *child;
    }
    auto target = m_engine.FindChild(parent, m_parts.back());
    if (!target) return;
    if (IsStoreFrame(*target)) {
      Skipped(line, "HKEY_CLASSES_ROOT and the keys that hold it cannot be deleted");
      return;
    }
    m_engine.DeleteChild(parent, m_parts.back());
  }

  void SetValue(std::string_view name, uint32_t type, std::string_view data,
                uint64_t line) override {
    m_opLine = line;
    if (!Writing()) return;
    try {
      m_engine.SetValue(m_current, name, type, data);
    } catch (const StoreError& e) {
      // A value the registry cannot hold is one bad line, not a bad file.
      if (e.Kind() != StoreErrorKind::Limit) throw;
      Skipped(line, std::string("value skipped: ") + e.what());
    }
  }

  void DeleteValue(std::string_view name, uint64_t line) override {
    m_opLine = line;
    if (Writing()) m_engine.DeleteValue(m_current, name);
  }

  void ValueTooLarge(std::string_view name, uint64_t line) override {
    Skipped(line, "value \"" + Shorten(name) +
                      "\" skipped: its data is larger than the registry's limit of 1 MiB");
  }

  void Skipped(uint64_t line, std::string_view reason) override {
    ++m_skipped;
    m_err << m_file << ':' << line << ": " << reason << '\n';
  }

  void Warning(uint64_t line, std::string_view message) override {
    m_err << m_file << ':' << line << ": warning: " << message << '\n';
  }

  void Incomplete(uint64_t line, std::string_view message) override {
    ++m_incomplete;
    m_err << m_file << ':' << line << ": " << message << '\n';
  }

  void Refused(uint64_t line, std::string_view reason) override {
    m_refused = true;
    m_err << m_file << ':' << line << ": " << reason << '\n';
  }

 private:
  // With --strict the first reported line refuses the file: nothing more is written, and
  // the rest is only read to report its lines too.
  bool Writing() const { return !m_refused && !(m_strict && m_skipped + m_incomplete > 0); }

  void Split(std::string_view path) {
    m_parts.clear();
    while (!path.empty()) {
      std::size_t slash = path.find('\\');
      m_parts.push_back(path.substr(0, slash));
      if (slash == std::string_view::npos) break;
      path.remove_prefix(slash + 1);
    }
  }

  static bool SameName(const std::string& cached, std::string_view name) {
    return cached == name || FoldName(cached) == FoldName(name);
  }

  // HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes; neither it nor the key that
  // holds it may go.
  bool IsStoreFrame(KeyRef key) {
    const KeyRef classes = m_engine.Root(RootKey::ClassesRoot);
    if (key.id == classes.id) return true;
    auto software = m_engine.FindChild(m_engine.Root(RootKey::LocalMachine), "SOFTWARE");
    return software && software->id == key.id;
  }

  RegistryEngine& m_engine;
  const std::string& m_file;
  const bool m_strict;
  std::ostream& m_err;
  uint64_t m_skipped = 0;
  uint64_t m_incomplete = 0;
  bool m_refused = false;
  uint64_t m_opLine = 0;

  bool m_cacheValid = false;
  RootKey m_cacheRoot = RootKey::ClassesRoot;
  KeyRef m_rootRef;
  std::vector<std::string> m_names;
  std::vector<KeyRef> m_refs;
  std::vector<std::string_view> m_parts;
  KeyRef m_current;
};

class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  int Close() {
    int rc = 0;
    if (m_fd >= 0) rc = ::close(m_fd);
    m_fd = -1;
    return rc;
  }

 private:
  int m_fd;
};

std::string ErrnoText(int error) { return std::generic_category().message(error); }

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category());
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Reads until `buffer` is full or the file ends.
std::size_t ReadFull(int fd, std::vector<char>& buffer) {
  std::size_t got = 0;
  while (got < buffer.size()) {
    const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category());
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

const char* KindOfFile(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// A new file in the folder of `path`, created with the usual permissions (umask applies).
// Its name is short, so that any target name that fits the folder leaves room for it.
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

// The temporary file of the export under way, for the signal handlers: a terminated export
// removes it (with async-signal-safe calls only) and then dies of the same signal.
constexpr int kCleanupSignals[] = {SIGTERM, SIGINT, SIGHUP};
char g_tempPath[8192];
volatile std::sig_atomic_t g_tempArmed = 0;
struct sigaction g_previous[std::size(kCleanupSignals)];
bool g_installed[std::size(kCleanupSignals)];

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

// Holds the handlers while an export writes its temporary file. A file-size limit makes the
// write fail (and the export report it) instead of killing the process.
class TempFileGuard {
 public:
  TempFileGuard() {
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
    m_fileSize = ::sigaction(SIGXFSZ, &ignore, &m_previousFileSize) == 0;
  }
  ~TempFileGuard() {
    Disarm();
    for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i) {
      if (g_installed[i]) ::sigaction(kCleanupSignals[i], &g_previous[i], nullptr);
    }
    if (m_fileSize) ::sigaction(SIGXFSZ, &m_previousFileSize, nullptr);
  }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;

  // Creates the temporary file with the signals held back, so that no signal can come
  // between its creation and the handlers knowing its name.
  int Create(const std::string& path, std::string& tempPath) {
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
  void Disarm() { g_tempArmed = 0; }

 private:
  struct sigaction m_previousFileSize {};
  bool m_fileSize = false;
};

struct KeyArgument {
  RootKey root = RootKey::ClassesRoot;
  std::vector<std::string_view> path;
};

// "ROOT\path": a full root name or HKCR/HKCU in any case; trailing backslashes are ignored,
// as registry editors ignore them.
bool ParseKeyArgument(std::string_view text, KeyArgument& key, bool& emptyName) {
  emptyName = false;
  std::size_t slash = text.find('\\');
  std::string_view rootName = text.substr(0, slash);
  if (EqualsAsciiNoCase(rootName, "HKCR")) {
    key.root = RootKey::ClassesRoot;
  } else if (EqualsAsciiNoCase(rootName, "HKCU")) {
    key.root = RootKey::CurrentUser;
  } else if (auto root = RegRootFromName(rootName)) {
    key.root = *root;
  } else {
    return false;
  }
  if (slash == std::string_view::npos) return true;
  std::string_view path = text.substr(slash + 1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  while (!path.empty()) {
    slash = path.find('\\');
    std::string_view name = path.substr(0, slash);
    if (name.empty()) emptyName = true;
    key.path.push_back(name);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return true;
}

}  // namespace

int ImportRegFile(RegistryEngine& engine, const std::string& path, const ImportOptions& options,
                  std::ostream& err) {
  // O_NONBLOCK: opening a pipe must not wait for a writer; only regular files are read.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) {
    err << "kestrova-regedit: cannot read " << path << ": " << ErrnoText(errno)
        << "; nothing was imported.\n";
    return kExitFailed;
  }
  if (!S_ISREG(st.st_mode)) {
    err << "kestrova-regedit: cannot read " << path << ": it is " << KindOfFile(st.st_mode)
        << ", not a registry file; nothing was imported.\n";
    return kExitFailed;
  }
  StoreImporter importer(engine, path, options.strict, err);
  std::vector<char> buffer(kReadChunk);
  try {
    // The first bytes tell whether this is a registry file at all; nothing more is read
    // from one that is not.
    std::size_t got = ReadFull(fd.Get(), buffer);
    std::string_view head(buffer.data(), got);
    const RegHeader header = SniffRegHeader(head, got < buffer.size());
    if (header.format == RegFormat::Unrecognised) {
      err << "kestrova-regedit: " << path
          << " is not a registry file: its first line is not \"REGEDIT4\", \"Windows Registry "
             "Editor Version 5.00\" or \"REGEDIT\"; nothing was imported.\n";
      return kExitFailed;
    }
    // 8-bit text is UTF-8 only when all of it is: decided before anything is read as text.
    ByteText byteText = ByteText::Utf8;
    if (!header.utf16) {
      ByteTextScan scan;
      scan.Feed(head.starts_with("\xEF\xBB\xBF") ? head.substr(3) : head);
      bool end = got < buffer.size();
      while (!scan.Done() && !end) {
        got = ReadFull(fd.Get(), buffer);
        end = got < buffer.size();
        scan.Feed(std::string_view(buffer.data(), got));
      }
      if (end) scan.Finish();
      byteText = scan.Result();
      if (byteText == ByteText::Windows1252) {
        err << path << ": read as Windows-1252 (not valid UTF-8 at line " << scan.InvalidLine()
            << ")\n";
      } else if (scan.SawNonAscii()) {
        err << path << ": read as UTF-8\n";
      }
      if (::lseek(fd.Get(), 0, SEEK_SET) != 0)
        throw std::system_error(errno, std::generic_category());
      got = ReadFull(fd.Get(), buffer);
    }

    RegParser parser(importer, byteText);
    EngineTransaction transaction(engine, true);
    for (;;) {
      parser.Feed(std::string_view(buffer.data(), got));
      if (got < buffer.size() || parser.Stopped()) break;
      got = ReadFull(fd.Get(), buffer);
    }
    parser.Finish();
    if (importer.WasRefused()) {
      err << "kestrova-regedit: " << path
          << " is not a registry file after all; nothing was imported.\n";
      return kExitFailed;
    }
    if (options.strict && importer.SkippedLines() + importer.IncompleteValues() > 0) {
      err << "kestrova-regedit: " << path
          << ": refused (--strict): " << importer.SkippedLines() + importer.IncompleteValues()
          << " malformed line(s); nothing was imported.\n";
      return kExitFailed;
    }
    transaction.Commit();
  } catch (const std::system_error& e) {
    err << "kestrova-regedit: cannot read " << path << ": " << ErrnoText(e.code().value())
        << "; nothing was imported.\n";
    return kExitFailed;
  } catch (const StoreError& e) {
    err << "kestrova-regedit: " << path;
    if (importer.CurrentLine() > 0) err << ':' << importer.CurrentLine();
    err << ": " << e.what() << " Nothing was imported.\n";
    return kExitFailed;
  }
  if (importer.SkippedLines() + importer.IncompleteValues() > 0) {
    err << "kestrova-regedit: " << path << " imported; " << importer.SkippedLines()
        << " line(s) skipped";
    if (importer.IncompleteValues() > 0)
      err << ", " << importer.IncompleteValues() << " value(s) cut short by the end of the file";
    err << ".\n";
    return kExitSkipped;
  }
  return kExitOk;
}

int ExportRegFile(RegistryEngine& engine, const std::string& path,
                  const std::optional<std::string>& key, std::ostream& err) {
  KeyArgument argument;
  bool emptyName = false;
  if (key && !ParseKeyArgument(*key, argument, emptyName)) {
    err << "kestrova-regedit: " << *key
        << ": unknown root key (use HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, "
           "HKEY_USERS, HKEY_CURRENT_CONFIG, HKCR or HKCU); no file was written.\n";
    return kExitFailed;
  }
  // The store's own files are never a target: renaming over them would replace the store.
  if (IsFileOfStore(path, engine.Location()) || IsOpenStoreFile(path)) {
    err << "kestrova-regedit: " << path
        << " is a file of the open store (its database, -wal, -shm or -journal); an export "
           "never writes over it. No file was written.\n";
    return kExitFailed;
  }
  // An existing file keeps its permissions; anything but a regular file is left alone.
  struct stat existing {};
  const bool replacing = ::stat(path.c_str(), &existing) == 0;
  if (replacing && !S_ISREG(existing.st_mode)) {
    err << "kestrova-regedit: cannot write " << path << ": it is " << KindOfFile(existing.st_mode)
        << "; no file was written.\n";
    return kExitFailed;
  }
  std::string tempPath;
  try {
    // One read transaction: the file is a consistent snapshot even while others write.
    EngineTransaction transaction(engine, false);
    KeyRef top;
    std::string topName;
    if (key) {
      top = engine.Root(argument.root);
      topName = RegRootName(argument.root);
      std::vector<ChildKey> children;
      for (std::string_view name : argument.path) {
        auto child = emptyName ? std::nullopt : engine.FindChild(top, name);
        if (!child) {
          err << "kestrova-regedit: " << *key << ": no such key; no file was written.\n";
          return kExitFailed;
        }
        // The header names the key in the case it is stored with, not as typed, so that the
        // file recreates it exactly.
        engine.Children(top, children);
        std::string_view stored = name;
        for (const ChildKey& c : children) {
          if (c.ref.id == child->id) stored = c.name;
        }
        topName += '\\';
        topName += stored;
        top = *child;
      }
    }

    TempFileGuard guard;
    Fd fd(guard.Create(path, tempPath));
    if (fd.Get() < 0) {
      err << "kestrova-regedit: cannot write " << path << ": " << ErrnoText(errno)
          << "; no file was written.\n";
      tempPath.clear();
      return kExitFailed;
    }
    if (replacing && ::fchmod(fd.Get(), existing.st_mode & 07777) != 0)
      throw std::system_error(errno, std::generic_category());
    RegExporter exporter(engine, [&](std::string_view bytes) { WriteAll(fd.Get(), bytes); });
    exporter.Begin();
    if (key) {
      exporter.Tree(top, topName);
    } else {
      // HKEY_CLASSES_ROOT lies inside HKEY_LOCAL_MACHINE, so these four hold everything.
      for (RootKey root :
           {RootKey::LocalMachine, RootKey::CurrentUser, RootKey::Users, RootKey::CurrentConfig}) {
        exporter.Tree(engine.Root(root), RegRootName(root));
      }
    }
    exporter.End();
    if (::fsync(fd.Get()) != 0 || fd.Close() != 0)
      throw std::system_error(errno, std::generic_category());
    if (::rename(tempPath.c_str(), path.c_str()) != 0)
      throw std::system_error(errno, std::generic_category());
    guard.Disarm();
    tempPath.clear();
    transaction.Commit();
  } catch (const std::system_error& e) {
    if (!tempPath.empty()) ::unlink(tempPath.c_str());
    err << "kestrova-regedit: cannot write " << path << ": " << ErrnoText(e.code().value())
        << "; no file was written.\n";
    return kExitFailed;
  } catch (const StoreError& e) {
    if (!tempPath.empty()) ::unlink(tempPath.c_str());
    err << "kestrova-regedit: " << e.what() << " No file was written.\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace kestrova
