#include "regfile/RegExporter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QIODevice>
#include <cerrno>
#include <system_error>
#include <vector>

#include "regfile/PosixFile.h"
#include "regfile/RegKeyName.h"
#include "regfile/RegRoots.h"
#include "regfile/RegTreeWriter.h"
#include "regfile/TempExportFile.h"
#include "store/StoreFiles.h"

namespace kestrova {
namespace {

// A write to a device that failed; `reason` says why.
struct DeviceError {
  std::string reason;
};

RegExportReport Failure(RegExportError error, std::string message) {
  RegExportReport report;
  report.error = error;
  report.errorString = std::move(message);
  return report;
}

RegExportReport StoreFailure(const StoreError& e) {
  RegExportReport report =
      Failure(RegExportError::StoreFailure, std::string(e.what()) + " No file was written.");
  report.storeError = e.Kind();
  return report;
}

std::optional<RegExportReport> CheckRoot(const std::optional<std::string>& key,
                                         std::optional<RegKeyName>& name) {
  if (!key) return std::nullopt;
  name = ParseRegKeyName(*key);
  if (name) return std::nullopt;
  return Failure(RegExportError::UnknownRoot,
                 *key +
                     ": unknown root key (use HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, "
                     "HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG, HKCR or HKCU); no file "
                     "was written.");
}

// The key to write and its full name; nothing when it is not in the store. The name is the
// key's as stored, not as typed, so that the file recreates it exactly.
std::optional<std::pair<KeyRef, std::string>> FindKey(RegistryEngine& engine,
                                                      const RegKeyName& name) {
  if (name.emptyName) return std::nullopt;
  KeyRef top = engine.Root(name.root);
  std::string topName(RegRootName(name.root));
  std::vector<ChildKey> children;
  for (std::string_view part : name.path) {
    auto child = engine.FindChild(top, part);
    if (!child) return std::nullopt;
    engine.Children(top, children);
    std::string_view stored = part;
    for (const ChildKey& c : children) {
      if (c.ref.id == child->id) stored = c.name;
    }
    topName += '\\';
    topName += stored;
    top = *child;
  }
  return std::make_pair(top, topName);
}

// Writes the key (or the whole store) inside the caller's read transaction; `open` is called
// once the key is found, before the first byte is written, and returns the sink or a failure.
template <typename Open>
RegExportReport Write(RegistryEngine& engine, const std::optional<std::string>& key,
                      const std::optional<RegKeyName>& name, Open open) {
  std::optional<std::pair<KeyRef, std::string>> top;
  if (name) {
    top = FindKey(engine, *name);
    if (!top) {
      return Failure(RegExportError::NoSuchKey, *key + ": no such key; no file was written.");
    }
  }
  RegTreeWriter::Sink sink;
  if (std::optional<RegExportReport> failed = open(sink)) return *failed;
  RegTreeWriter writer(engine, std::move(sink));
  writer.Begin();
  if (top) {
    writer.Tree(top->first, top->second);
  } else {
    // HKEY_CLASSES_ROOT lies inside HKEY_LOCAL_MACHINE, so these four hold everything.
    for (RootKey root :
         {RootKey::LocalMachine, RootKey::CurrentUser, RootKey::Users, RootKey::CurrentConfig}) {
      writer.Tree(engine.Root(root), RegRootName(root));
    }
  }
  writer.End();
  RegExportReport report;
  report.keysWritten = writer.KeysWritten();
  report.valuesWritten = writer.ValuesWritten();
  return report;
}

}  // namespace

RegExporter::RegExporter(RegistryEngine& engine) : m_engine(engine) {}

RegExportReport RegExporter::Export(QIODevice* device, const std::optional<std::string>& key,
                                    const std::string& targetName) {
  std::optional<RegKeyName> name;
  if (auto failed = CheckRoot(key, name)) return *failed;
  const auto cannotWrite = [&](const QString& reason) {
    return Failure(
        RegExportError::CannotWrite,
        "cannot write " + targetName + ": " +
            (reason.isEmpty() ? std::string("it is not open for writing") : reason.toStdString()) +
            "; the export is incomplete.");
  };
  if (!device || !device->isWritable()) return cannotWrite({});
  try {
    EngineTransaction transaction(m_engine, false);
    RegExportReport report = Write(m_engine, key, name, [&](RegTreeWriter::Sink& sink) {
      sink = [device](std::string_view bytes) {
        while (!bytes.empty()) {
          const qint64 n = device->write(bytes.data(), static_cast<qint64>(bytes.size()));
          if (n <= 0) throw DeviceError{device->errorString().toStdString()};
          bytes.remove_prefix(static_cast<std::size_t>(n));
        }
      };
      return std::optional<RegExportReport>();
    });
    if (!report.Failed()) transaction.Commit();
    return report;
  } catch (const DeviceError& e) {
    return cannotWrite(QString::fromStdString(e.reason));
  } catch (const StoreError& e) {
    return StoreFailure(e);
  }
}

RegExportReport RegExporter::ExportFile(const std::string& path,
                                        const std::optional<std::string>& key) {
  std::optional<RegKeyName> name;
  if (auto failed = CheckRoot(key, name)) return *failed;
  // The store's own files are never a target: renaming over them would replace the store.
  if (IsFileOfStore(path, m_engine.Location()) || IsOpenStoreFile(path)) {
    return Failure(RegExportError::StoreFile,
                   path +
                       " is a file of the open store (its database, -wal, -shm or -journal); an "
                       "export never writes over it. No file was written.");
  }
  const auto cannotWrite = [&](const std::string& reason) {
    return Failure(RegExportError::CannotWrite,
                   "cannot write " + path + ": " + reason + "; no file was written.");
  };
  // An existing file keeps its permissions; anything but a regular file is left alone.
  struct stat existing {};
  const bool replacing = ::stat(path.c_str(), &existing) == 0;
  if (replacing && !S_ISREG(existing.st_mode))
    return cannotWrite(std::string("it is ") + KindOfFile(existing.st_mode));

  std::string tempPath;
  try {
    EngineTransaction transaction(m_engine, false);
    TempExportFile temp;
    std::optional<Fd> fd;
    RegExportReport report = Write(m_engine, key, name, [&](RegTreeWriter::Sink& sink) {
      fd.emplace(temp.Create(path, tempPath));
      if (fd->Get() < 0) {
        const int error = errno;
        tempPath.clear();
        return std::optional<RegExportReport>(cannotWrite(ErrnoText(error)));
      }
      if (replacing && ::fchmod(fd->Get(), existing.st_mode & 07777) != 0)
        throw std::system_error(errno, std::generic_category());
      sink = [&fd](std::string_view bytes) { WriteAll(fd->Get(), bytes); };
      return std::optional<RegExportReport>();
    });
    if (report.Failed()) return report;
    if (::fsync(fd->Get()) != 0 || fd->Close() != 0)
      throw std::system_error(errno, std::generic_category());
    if (::rename(tempPath.c_str(), path.c_str()) != 0)
      throw std::system_error(errno, std::generic_category());
    temp.Disarm();
    tempPath.clear();
    transaction.Commit();
    return report;
  } catch (const std::system_error& e) {
    if (!tempPath.empty()) ::unlink(tempPath.c_str());
    return cannotWrite(ErrnoText(e.code().value()));
  } catch (const StoreError& e) {
    if (!tempPath.empty()) ::unlink(tempPath.c_str());
    return StoreFailure(e);
  }
}

}  // namespace kestrova
