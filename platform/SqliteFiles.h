#pragma once
// The store's file and SQLite's -wal and -shm beside it, as the file system sees them
// (internal to platform/).

#include <sys/types.h>

#include <string>

namespace kestrova::sqlite {

// The folder holding path ("." for a bare name).
std::string FolderOf(const std::string& path);

// True when something (even a dangling link) lies at path.
bool Exists(const std::string& path);

// The size of the file at path; 0 when there is none.
off_t SizeOf(const std::string& path);

// A file URI for path with the given query, so that SQLite can be told to open it without
// locks or journals.
std::string UriOf(const std::string& path, const char* query);

// Flushes the file or folder at path to the disk; nothing when it cannot be opened.
void SyncPath(const std::string& path, int flags);

// Removes a temporary store and whatever SQLite left beside it.
void RemoveTemp(const std::string& temp);

// True when SQLite can keep its -wal and -shm beside the store: the folder is writable,
// or both files exist and are writable. Otherwise `reason` says why not.
bool LogFilesWritable(const std::string& path, std::string& reason);

}  // namespace kestrova::sqlite
