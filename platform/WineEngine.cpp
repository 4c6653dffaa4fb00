#include "platform/WineEngine.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/WineRegistryFile.h"
#include "platform/WineServerLock.h"
#include "store/RegistryRules.h"

namespace kestrova::wine {
namespace {

// The files in the order Wine loads them, and the engine's number for each.
enum FileIndex { kSystem = 0, kUser = 1, kUserDefault = 2, kFileCount = 3 };
// KeyRef ids carry the file (plus one) above the key's number; this one is HKEY_USERS,
// which no file holds.
constexpr int64_t kUsersFile = 4;
constexpr const char* kFileNames[kFileCount] = {"system.reg", "user.reg", "userdef.reg"};
constexpr const char* kDefaultSid = "S-1-5-21-0-0-0-1000";

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

StoreErrorKind KindOfErrno(int e) {
  switch (e) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return StoreErrorKind::Full;
    case EROFS:
      return StoreErrorKind::ReadOnly;
    case EACCES:
    case EPERM:
      return StoreErrorKind::Permission;
    default:
      return StoreErrorKind::Other;
  }
}

struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  bool operator==(const FileStamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

// The file's bytes, mapped; throws StoreOpenError naming it.
FileBytes MapWhole(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    throw StoreOpenError(
        "The Wine registry file " + Quoted(path) + " cannot be read: " + std::strerror(e) + ".",
        KindOfErrno(e));
  }
  try {
    FileBytes bytes = FileBytes::Map(fd, path);
    ::close(fd);
    return bytes;
  } catch (...) {
    ::close(fd);
    throw;
  }
}

// A temporary file beside `path`, holding the pieces, flushed and given the original's
// mode; its name and its bytes mapped again, or a StoreError (and no file left).
std::string WriteTemporary(const std::string& path, const std::vector<RegistryFile::Piece>& pieces,
                           FileBytes& written) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = dir + "/." + leaf + ".kestrova-XXXXXX";
  auto refuse = [&](int e) {
    throw StoreError("The Wine registry file " + Quoted(path) +
                         " could not be written: " + std::strerror(e) + "; nothing was changed.",
                     KindOfErrno(e));
  };
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) refuse(errno);
  auto fail = [&](int e) {
    ::close(fd);
    ::unlink(temp.c_str());
    refuse(e);
  };
  struct stat st {};
  const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  if (::fchmod(fd, mode) != 0) fail(errno);
  std::vector<iovec> iov;
  iov.reserve(std::min<std::size_t>(pieces.size(), IOV_MAX));
  std::size_t k = 0;
  while (k < pieces.size()) {
    iov.clear();
    for (std::size_t j = k; j < pieces.size() && iov.size() < IOV_MAX; ++j) {
      iov.push_back(iovec{const_cast<char*>(pieces[j].data), pieces[j].size});
    }
    std::size_t first = 0;
    while (first < iov.size()) {
      const ssize_t n = ::writev(fd, iov.data() + first, static_cast<int>(iov.size() - first));
      if (n < 0) {
        if (errno == EINTR) continue;
        fail(errno);
      }
      auto left = static_cast<std::size_t>(n);
      while (first < iov.size() && left >= iov[first].iov_len) left -= iov[first++].iov_len;
      if (first < iov.size()) {
        iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
        iov[first].iov_len -= left;
      }
    }
    k += iov.size();
  }
  if (::fsync(fd) != 0) fail(errno);
  try {
    written = FileBytes::Map(fd, temp);
  } catch (const StoreError&) {
    fail(EIO);
  }
  ::close(fd);
  return temp;
}

void SyncFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

std::string Shown(std::string_view name) { return ReplaceInvalidUtf8(name); }

}  // namespace

class PrefixRegistry {
 public:
  explicit PrefixRegistry(std::string dir) : m_dir(std::move(dir)) {
    for (int f = 0; f < kFileCount; ++f) {
      m_paths[f] = m_dir + "/" + kFileNames[f];
      Load(f);
    }
    const std::string& rel = m_files[kUser]->RelativeTo();
    const std::size_t cut = rel.rfind('\\');
    m_sid = cut == std::string::npos ? std::string() : rel.substr(cut + 1);
    if (m_sid.empty() || m_sid == "User") m_sid = kDefaultSid;
    PinRoots();
    std::string why;
    for (int f = 0; f < kFileCount && why.empty(); ++f) {
      if (::access(m_paths[f].c_str(), W_OK) != 0) {
        why =
            "the file " + Quoted(m_paths[f]) + " cannot be written (" + std::strerror(errno) + ")";
      }
    }
    if (why.empty() && ::access(m_dir.c_str(), W_OK) != 0) {
      why = "the folder " + Quoted(m_dir) + " cannot be written (" + std::strerror(errno) + ")";
    }
    m_fixedReason = why;
  }

  const std::string& Dir() const { return m_dir; }
  const std::string& Sid() const { return m_sid; }
  RegistryFile& File(int f) { return *m_files[f]; }
  std::recursive_mutex& Mutex() { return m_mutex; }

  // Why nothing may be written now; empty when writes may go ahead.
  std::string ReadOnlyReason() const {
    if (!m_fixedReason.empty()) return m_fixedReason;
    const pid_t pid = WineServerPid(m_dir);
    return pid != 0 ? WineServerRunningMessage(m_dir, pid) : std::string();
  }

  uint32_t ClassesRoot() const { return m_classes; }
  uint32_t CurrentConfig() const { return m_config; }

  // Reads again every file that changed on disk since it was read (Wine ran and saved),
  // keeping the ids of keys that are still there.
  void ReloadChanged() {
    for (int f = 0; f < kFileCount; ++f) {
      const auto now = StampOf(m_paths[f]);
      if (now && m_stamps[f] && *now == *m_stamps[f]) continue;
      std::unique_ptr<RegistryFile> fresh;
      try {
        fresh = std::make_unique<RegistryFile>(MapWhole(m_paths[f]), m_paths[f]);
      } catch (const StoreOpenError& e) {
        throw StoreError(std::string(e.what()), e.Kind());
      }
      fresh->AdoptIds(*m_files[f]);
      m_files[f] = std::move(fresh);
      m_stamps[f] = now;
    }
    PinRoots();
  }

  // Writes every changed file: all temporary files first, then the renames, so that a full
  // disk leaves every file as it was. Throws StoreError.
  void Save() {
    std::array<FileBytes, kFileCount> texts;
    std::array<std::string, kFileCount> temps;
    try {
      for (int f = 0; f < kFileCount; ++f) {
        if (!m_files[f]->Changed()) continue;
        temps[f] = WriteTemporary(m_paths[f], m_files[f]->SerializePieces(), texts[f]);
      }
    } catch (...) {
      for (const std::string& t : temps) {
        if (!t.empty()) ::unlink(t.c_str());
      }
      throw;
    }
    for (int f = 0; f < kFileCount; ++f) {
      if (temps[f].empty()) continue;
      if (::rename(temps[f].c_str(), m_paths[f].c_str()) != 0) {
        const int e = errno;
        for (int g = f; g < kFileCount; ++g) {
          if (!temps[g].empty()) ::unlink(temps[g].c_str());
        }
        throw StoreError("The Wine registry file " + Quoted(m_paths[f]) +
                             " could not be replaced: " + std::strerror(e) + ".",
                         KindOfErrno(e));
      }
      SyncFolder(m_paths[f]);
      m_files[f]->Saved(std::move(texts[f]));
      m_stamps[f] = StampOf(m_paths[f]);
    }
  }

 private:
  void Load(int f) {
    m_stamps[f] = StampOf(m_paths[f]);
    m_files[f] = std::make_unique<RegistryFile>(MapWhole(m_paths[f]), m_paths[f]);
  }

  void PinRoots() {
    RegistryFile& sys = *m_files[kSystem];
    m_classes = sys.Pin(sys.Pin(sys.Root(), "Software"), "Classes");
    uint32_t n = sys.Root();
    for (const char* part : {"System", "CurrentControlSet", "Hardware Profiles", "Current"})
      n = sys.Pin(n, part);
    m_config = n;
  }

  std::string m_dir;
  std::array<std::string, kFileCount> m_paths;
  std::array<std::unique_ptr<RegistryFile>, kFileCount> m_files;
  std::array<std::optional<FileStamp>, kFileCount> m_stamps;
  std::string m_sid;
  std::string m_fixedReason;
  uint32_t m_classes = 0, m_config = 0;
  std::recursive_mutex m_mutex;
};

namespace {

class WineEngine final : public RegistryEngine {
 public:
  explicit WineEngine(std::shared_ptr<PrefixRegistry> registry) : m_reg(std::move(registry)) {}
  ~WineEngine() override {
    while (m_depth > 0) Rollback();
  }

  const std::string& Location() const override { return m_reg->Dir(); }
  bool Writable() const override { return m_reg->ReadOnlyReason().empty(); }
  std::string ReadOnlyReason() const override { return m_reg->ReadOnlyReason(); }

  KeyRef Root(RootKey root) override {
    std::lock_guard lock(m_reg->Mutex());
    switch (root) {
      case RootKey::ClassesRoot:
        return Ref(kSystem, m_reg->ClassesRoot(), 2);
      case RootKey::CurrentUser:
        return Ref(kUser, 0, 0);
      case RootKey::LocalMachine:
        return Ref(kSystem, 0, 0);
      case RootKey::Users:
        return KeyRef{kUsersFile << 32, 0};
      case RootKey::CurrentConfig:
        return Ref(kSystem, m_reg->CurrentConfig(), 4);
    }
    return {};
  }

  std::optional<KeyRef> FindChild(KeyRef parent, std::string_view name) override {
    std::lock_guard lock(m_reg->Mutex());
    if (!parent || !IsValidKeyName(name)) return std::nullopt;
    if (IsUsers(parent)) return UsersChild(name);
    const auto [f, node] = Split(parent);
    RegistryFile& file = m_reg->File(f);
    if (!Valid(file, node)) return std::nullopt;
    const uint32_t child = file.FindChild(node, name);
    if (child == RegistryFile::kNone) return std::nullopt;
    return Ref(f, child, parent.depth + 1);
  }

  KeyRef CreateChild(KeyRef parent, std::string_view name) override {
    Write tx(*this);
    if (!IsValidKeyName(name)) {
      throw StoreError("The key name \"" + Shown(name) +
                           "\" is not valid: a key name has 1 to 255 characters, no backslash and "
                           "no line break.",
                       StoreErrorKind::Limit);
    }
    RequireText(name, "The key name \"" + Shown(name) + "\"");
    if (IsUsers(parent)) {
      if (auto found = UsersChild(name)) {
        tx.Commit();
        return *found;
      }
      throw StoreError("HKEY_USERS of a Wine prefix holds only .Default and " + m_reg->Sid() +
                           "; the key \"" + Shown(name) + "\" cannot be made there.",
                       StoreErrorKind::ReadOnly);
    }
    if (parent.depth + 1 > kMaxKeyDepth) {
      throw StoreError("The key \"" + Shown(name) + "\" would lie deeper than " +
                           std::to_string(kMaxKeyDepth) + " levels.",
                       StoreErrorKind::Limit);
    }
    const auto [f, node] = Split(parent);
    RegistryFile& file = m_reg->File(f);
    if (!Valid(file, node)) {
      throw StoreError("The key \"" + Shown(name) +
                           "\" could not be created: its parent key was deleted meanwhile.",
                       StoreErrorKind::Gone);
    }
    uint32_t child = file.FindChild(node, name);
    if (child == RegistryFile::kNone) {
      RefuseLink(file, node);
      child = file.CreateChild(node, name);
    }
    tx.Commit();
    return Ref(f, child, parent.depth + 1);
  }

  bool KeyExists(KeyRef key) override {
    std::lock_guard lock(m_reg->Mutex());
    if (!key) return false;
    if (IsUsers(key)) return true;
    const auto [f, node] = Split(key);
    return Valid(m_reg->File(f), node);
  }

  void ListChildren(KeyRef parent, std::vector<std::string>& names) override {
    std::lock_guard lock(m_reg->Mutex());
    names.clear();
    if (!parent) return;
    if (IsUsers(parent)) {
      names = {".Default", m_reg->Sid()};
      return;
    }
    const auto [f, node] = Split(parent);
    RegistryFile& file = m_reg->File(f);
    if (!Valid(file, node)) return;
    const std::vector<uint32_t>& kids = file.Children(node);
    names.reserve(kids.size());
    for (const uint32_t c : kids) names.emplace_back(file.Name(c));
  }

  void Children(KeyRef parent, std::vector<ChildKey>& children) override {
    std::lock_guard lock(m_reg->Mutex());
    children.clear();
    if (!parent) return;
    if (IsUsers(parent)) {
      children.push_back({".Default", Ref(kUserDefault, 0, 1)});
      children.push_back({m_reg->Sid(), Ref(kUser, 0, 1)});
      return;
    }
    const auto [f, node] = Split(parent);
    RegistryFile& file = m_reg->File(f);
    if (!Valid(file, node)) return;
    const std::vector<uint32_t>& kids = file.Children(node);
    children.reserve(kids.size());
    for (const uint32_t c : kids) {
      children.push_back({std::string(file.Name(c)), Ref(f, c, parent.depth + 1)});
    }
  }

  bool DeleteChild(KeyRef parent, std::string_view name) override {
    Write tx(*this);
    if (IsUsers(parent)) {
      if (!UsersChild(name)) return false;
      throw StoreError("The key \"" + Shown(name) + "\" is a root of the store.",
                       StoreErrorKind::Limit);
    }
    const auto [f, node] = Split(parent);
    RegistryFile& file = m_reg->File(f);
    if (!Valid(file, node) || !IsValidKeyName(name)) return false;
    const uint32_t child = file.FindChild(node, name);
    if (child == RegistryFile::kNone) return false;
    if (file.Pinned(child)) {
      throw StoreError("The key \"" + Shown(name) + "\" is a root of the store.",
                       StoreErrorKind::Limit);
    }
    RefuseLink(file, child);
    file.DeleteChild(node, child);
    tx.Commit();
    return true;
  }

  std::optional<ValueInfo> QueryValue(KeyRef key, std::string_view name) override {
    std::lock_guard lock(m_reg->Mutex());
    const RegistryFile::Value* v = Find(key, name);
    if (!v) return std::nullopt;
    return ValueInfo{v->type, static_cast<int64_t>(v->data.size())};
  }

  std::optional<RegValue> GetValue(KeyRef key, std::string_view name) override {
    std::lock_guard lock(m_reg->Mutex());
    const RegistryFile::Value* v = Find(key, name);
    if (!v) return std::nullopt;
    return RegValue{v->name, v->type, v->data};
  }

  void ListValues(KeyRef key, std::vector<RegValue>& values) override {
    std::lock_guard lock(m_reg->Mutex());
    values.clear();
    if (!key || IsUsers(key)) return;
    const auto [f, node] = Split(key);
    RegistryFile& file = m_reg->File(f);
    if (!Valid(file, node)) return;
    for (const RegistryFile::Value& v : file.Values(node)) {
      values.push_back({v.name, v.type, v.data});
    }
  }

  void SetValue(KeyRef key, std::string_view name, uint32_t type, std::string_view data) override {
    Write tx(*this);
    if (!IsValidValueName(name)) {
      throw StoreError("The value name is not valid: it has more than 16,383 characters or a NUL.",
                       StoreErrorKind::Limit);
    }
    RequireText(name, "The value name \"" + Shown(name) + "\"");
    if (IsTextType(type)) RequireText(data, "The data of the value \"" + Shown(name) + "\"");
    if (data.size() + 1 > kMaxValueData / 2 && RegistryDataSize(type, data) > kMaxValueData) {
      throw StoreError("The data of the value \"" + Shown(name) + "\" is larger than 1 MiB.",
                       StoreErrorKind::Limit);
    }
    if (IsUsers(key)) {
      throw StoreError("HKEY_USERS of a Wine prefix holds no values.", StoreErrorKind::ReadOnly);
    }
    const auto [f, node] = Split(key);
    RegistryFile& file = m_reg->File(f);
    if (!Valid(file, node)) {
      throw StoreError("The key of the value \"" + Shown(name) + "\" was deleted meanwhile.",
                       StoreErrorKind::Gone);
    }
    RefuseLink(file, node);
    file.SetValue(node, name, type, data);
    tx.Commit();
  }

  bool DeleteValue(KeyRef key, std::string_view name) override {
    Write tx(*this);
    if (!key || IsUsers(key) || !IsValidValueName(name)) return false;
    const auto [f, node] = Split(key);
    RegistryFile& file = m_reg->File(f);
    if (!Valid(file, node)) return false;
    bool present = false;
    for (const RegistryFile::Value& v : file.Values(node)) {
      if (CompareFolded(v.name, name) == 0) present = true;
    }
    if (!present) return false;
    RefuseLink(file, node);
    const bool done = file.DeleteValue(node, name);
    tx.Commit();
    return done;
  }

  void Begin(bool write) override {
    if (m_depth == 0) {
      m_reg->Mutex().lock();
      try {
        if (write) StartWriting();
      } catch (...) {
        m_reg->Mutex().unlock();
        throw;
      }
      m_write = write;
    } else if (write && !m_write) {
      // A write inside a read transaction: the files are checked now.
      StartWriting();
      m_write = true;
    }
    std::array<std::size_t, kFileCount> marks{};
    for (int f = 0; f < kFileCount; ++f) marks[f] = m_reg->File(f).UndoMark();
    m_marks.push_back(marks);
    ++m_depth;
  }

  void Commit() override {
    if (m_depth == 0) return;
    if (m_depth > 1) {
      m_marks.pop_back();
      --m_depth;
      return;
    }
    try {
      if (m_write) m_reg->Save();
    } catch (...) {
      UndoTo(m_marks.front());
      End();
      throw;
    }
    for (int f = 0; f < kFileCount; ++f) m_reg->File(f).ForgetUndo();
    End();
  }

  void Rollback() override {
    if (m_depth == 0) return;
    UndoTo(m_marks.back());
    if (m_depth > 1) {
      m_marks.pop_back();
      --m_depth;
      return;
    }
    for (int f = 0; f < kFileCount; ++f) m_reg->File(f).ForgetUndo();
    End();
  }

 private:
  // A write on its own is a transaction of its own.
  class Write {
   public:
    explicit Write(WineEngine& e) : m_e(e) { m_e.Begin(true); }
    ~Write() {
      if (!m_done) m_e.Rollback();
    }
    Write(const Write&) = delete;
    Write& operator=(const Write&) = delete;
    void Commit() {
      m_done = true;
      m_e.Commit();
    }

   private:
    WineEngine& m_e;
    bool m_done = false;
  };

  void StartWriting() {
    const std::string fixed = m_reg->ReadOnlyReason();
    // The server's lock is held until the transaction ends: no server starts and reads
    // half-written files meanwhile.
    m_lock = std::make_unique<WineServerLock>(m_reg->Dir());
    std::string why = fixed;
    if (m_lock->RunningServer() != 0)
      why = WineServerRunningMessage(m_reg->Dir(), m_lock->RunningServer());
    if (!why.empty()) {
      m_lock.reset();
      throw StoreError("The Wine prefix " + Quoted(m_reg->Dir()) + " is read-only: " + why +
                           ". Nothing was changed.",
                       StoreErrorKind::ReadOnly);
    }
    try {
      m_reg->ReloadChanged();
    } catch (...) {
      m_lock.reset();
      throw;
    }
  }

  void End() {
    m_marks.clear();
    m_depth = 0;
    m_write = false;
    m_lock.reset();
    m_reg->Mutex().unlock();
  }

  void UndoTo(const std::array<std::size_t, kFileCount>& marks) {
    for (int f = 0; f < kFileCount; ++f) m_reg->File(f).UndoTo(marks[f]);
  }

  static KeyRef Ref(int f, uint32_t node, int depth) {
    return KeyRef{(static_cast<int64_t>(f + 1) << 32) | node, depth};
  }
  static bool IsUsers(KeyRef k) { return (k.id >> 32) == kUsersFile; }
  static std::pair<int, uint32_t> Split(KeyRef k) {
    int f = static_cast<int>((k.id >> 32) - 1);
    if (f < 0 || f >= kFileCount) f = kSystem;
    return {f, static_cast<uint32_t>(k.id & 0xFFFFFFFF)};
  }
  static bool Valid(RegistryFile& file, uint32_t node) {
    return node < file.NodeCount() && file.Alive(node);
  }

  std::optional<KeyRef> UsersChild(std::string_view name) {
    if (CompareFolded(name, ".Default") == 0) return Ref(kUserDefault, 0, 1);
    if (CompareFolded(name, m_reg->Sid()) == 0) return Ref(kUser, 0, 1);
    return std::nullopt;
  }

  const RegistryFile::Value* Find(KeyRef key, std::string_view name) {
    if (!key || IsUsers(key) || !IsValidValueName(name)) return nullptr;
    const auto [f, node] = Split(key);
    RegistryFile& file = m_reg->File(f);
    if (!Valid(file, node)) return nullptr;
    for (const RegistryFile::Value& v : file.Values(node)) {
      if (CompareFolded(v.name, name) == 0) return &v;
    }
    return nullptr;
  }

  static void RefuseLink(RegistryFile& file, uint32_t node) {
    if (!file.IsLink(node)) return;
    throw StoreError("The key \"" + Shown(file.Name(node)) +
                         "\" is a link Wine keeps to another key; it is not changed here.",
                     StoreErrorKind::ReadOnly);
  }

  static void RequireText(std::string_view text, const std::string& what) {
    if (!IsValidUtf8(text)) {
      throw StoreError(what + " is not valid Unicode text (UTF-8); nothing was written.",
                       StoreErrorKind::InvalidText);
    }
  }

  std::shared_ptr<PrefixRegistry> m_reg;
  int m_depth = 0;
  bool m_write = false;
  std::vector<std::array<std::size_t, kFileCount>> m_marks;
  std::unique_ptr<WineServerLock> m_lock;
};

}  // namespace

std::shared_ptr<PrefixRegistry> LoadPrefixRegistry(const std::string& dir) {
  return std::make_shared<PrefixRegistry>(dir);
}

std::shared_ptr<RegistryEngine> MakeEngine(std::shared_ptr<PrefixRegistry> registry) {
  return std::make_shared<WineEngine>(std::move(registry));
}

}  // namespace kestrova::wine
