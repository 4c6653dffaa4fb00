#pragma once
// What a failed SQLite or system call means for the user: its kind and its wording
// (internal to platform/).

#include <sqlite3.h>

#include <optional>
#include <string>

#include "store/RegistryEngine.h"

namespace kestrova::sqlite {

// A path or name as a message shows it: in double quotes.
std::string QuotedForMessage(const std::string& text);

// The kind and the few words of a failed system call (an errno value).
StoreErrorKind KindOfErrno(int e);
std::string ReasonOfErrno(int e);

// The kind and wording of a failed SQLite call, with what the system said underneath.
struct Failure {
  StoreErrorKind kind;
  std::string reason;
};
Failure FailureOf(sqlite3* db, int rc);

// Throws StoreOpenError with the message and kind.
[[noreturn]] void ThrowOpen(const std::string& message, StoreErrorKind kind);

// Throws StoreOpenError (kind Damaged): the file at path is no store of ours.
[[noreturn]] void NotAStore(const std::string& path);

// Throws StoreError for a failed call on the open store at path, worded by its kind.
[[noreturn]] void ThrowStoreFailure(sqlite3* db, const std::string& path, int rc);

}  // namespace kestrova::sqlite
