#pragma once
// The store's schema: its tables and frame, how a file is recognised as a store, how a new
// store is created, and the upgrade of a store of the first schema (internal to platform/).

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova::sqlite {

// 1: names folded by code point into UTF-8 (merged ı/I/i and the like). 2: names folded
// by UTF-16 code unit as the registry does; a writable open upgrades a store of 1.
constexpr int kSchemaVersion = 2;
constexpr int kFoldByCodeUnit = 2;
constexpr const char* kFormatTag = "kestrova-store";
// A file no larger than one page holds nothing but the (empty) schema page.
constexpr off_t kOnePage = 4096;

// The four trees of the store, with fixed ids; HKEY_CLASSES_ROOT lies inside the first.
constexpr int64_t kLocalMachineId = 1;
constexpr int64_t kCurrentUserId = 2;
constexpr int64_t kUsersId = 3;
constexpr int64_t kCurrentConfigId = 4;
constexpr int64_t kClassesRootId = 6;
// The trees, SOFTWARE and SOFTWARE\Classes: the store's frame, never deleted.
constexpr int64_t kLastFrameId = 6;

// Names as the first schema folded them: whole code points, into UTF-8.
std::string FoldByCodePoint(std::string_view name);

// What the file at a store's path turned out to be, read without locks, journals or
// recovery, so that nothing is written to a file that may not be ours.
struct Probe {
  enum class Kind { Store, Empty } kind = Kind::Store;
  int64_t schema = 0;
};

// Reads the format and schema from a connection that may be immutable or read-only;
// nullopt when the file holds no tables at all. Throws StoreOpenError when the file is not
// a store or cannot be read.
std::optional<Probe> ReadFormat(sqlite3* db, const std::string& path);

// Probes the file at path, of the given size, without changing it.
Probe ProbeStore(const std::string& path, off_t size);

// Builds a whole store in a temporary file beside path and moves it into place, so that
// a failure (a full disk, a file-size limit, a crash) never leaves half a store behind.
// `replacing` is the incomplete file found at path, or null when there is none.
void CreateStore(const std::string& path, const struct stat* replacing);

// Folds every name of a store of the first schema anew, in one transaction on db, the
// open store at path; returns the schema the store has afterwards.
int64_t RefoldNames(sqlite3* db, const std::string& path);

}  // namespace kestrova::sqlite
