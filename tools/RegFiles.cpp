#include "tools/RegFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>
#include <vector>

#include "store/RegistryRules.h"
#include "tools/RegReader.h"
#include "tools/RegRoots.h"
#include "tools/RegWriter.h"

namespace kestrova {
namespace {

constexpr std::size_t kReadChunk = 1 << 20;

std::string Shorten(std::string_view text) {
  constexpr std::size_t kShown = 80;
  if (text.size() <= kShown) return std::string(text);
  return std::string(text.substr(0, kShown)) + "...";
}

// Applies what a .reg file asks for to the engine. The current key path is cached with the
// KeyRef of each of its levels, so that a value costs one write and a key line only resolves
// the levels in which it differs from the previous one.
class StoreImporter final : public RegSink {
 public:
  StoreImporter(RegistryEngine& engine, const std::string& file, bool strict, std::ostream& err)
      : m_engine(engine), m_file(file), m_strict(strict), m_err(err) {}

  uint64_t SkippedLines() const { return m_skipped; }
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
    if (Writing()) m_engine.SetValue(m_current, name, type, data);
  }

  void DeleteValue(std::string_view name, uint64_t line) override {
    m_opLine = line;
    if (Writing()) m_engine.DeleteValue(m_current, name);
  }

  void ValueTooLarge(std::string_view name, uint64_t line) override {
    m_opLine = line;
    throw StoreError("The data of the value \"" + Shorten(name) +
                     "\" is larger than the registry's limit of 1 MiB.");
  }

  void Skipped(uint64_t line, std::string_view reason) override {
    ++m_skipped;
    m_err << m_file << ':' << line << ": " << reason << '\n';
  }

  void Warning(uint64_t line, std::string_view message) override {
    m_err << m_file << ':' << line << ": warning: " << message << '\n';
  }

 private:
  // With --strict the first skipped line refuses the file: nothing more is written, and the
  // rest is only read to report its lines too.
  bool Writing() const { return !(m_strict && m_skipped > 0); }

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

// A new file beside `path`, created with the usual permissions (umask applies).
int CreateTempBeside(const std::string& path, std::string& tempPath) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath =
        path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(random() % 1000000);
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

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
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    err << "kestrova-regedit: cannot read " << path << ": " << ErrnoText(errno) << '\n';
    return kExitFailed;
  }
  StoreImporter importer(engine, path, options.strict, err);
  RegParser parser(importer);
  try {
    EngineTransaction transaction(engine, true);
    std::vector<char> buffer(kReadChunk);
    for (;;) {
      const ssize_t n = ::read(fd.Get(), buffer.data(), buffer.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        err << "kestrova-regedit: cannot read " << path << ": " << ErrnoText(errno)
            << "; nothing was imported.\n";
        return kExitFailed;
      }
      if (n == 0) break;
      parser.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      if (parser.HeaderRead() && parser.Format() == RegFormat::Unrecognised) break;
    }
    parser.Finish();
    if (parser.Format() == RegFormat::Unrecognised) {
      err << "kestrova-regedit: " << path
          << " is not a registry file: its first line is not \"REGEDIT4\", \"Windows Registry "
             "Editor Version 5.00\" or \"REGEDIT\"; nothing was imported.\n";
      return kExitFailed;
    }
    if (options.strict && importer.SkippedLines() > 0) {
      err << "kestrova-regedit: " << path << ": refused (--strict): " << importer.SkippedLines()
          << " malformed line(s); nothing was imported.\n";
      return kExitFailed;
    }
    transaction.Commit();
  } catch (const StoreError& e) {
    err << "kestrova-regedit: " << path;
    if (importer.CurrentLine() > 0) err << ':' << importer.CurrentLine();
    err << ": " << e.what() << " Nothing was imported.\n";
    return kExitFailed;
  }
  if (importer.SkippedLines() > 0) {
    err << "kestrova-regedit: " << path << " imported; " << importer.SkippedLines()
        << " line(s) skipped.\n";
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

    Fd fd(CreateTempBeside(path, tempPath));
    if (fd.Get() < 0) {
      err << "kestrova-regedit: cannot write " << path << ": " << ErrnoText(errno)
          << "; no file was written.\n";
      return kExitFailed;
    }
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
