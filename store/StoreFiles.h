#pragma once
// The files of the stores this process has open. Closing any descriptor of a file drops
// every POSIX lock the process holds on it, so nothing but the store engine may open the
// store's database, its -wal, -shm or -journal while a connection is open: file readers
// and writers ask here first.

#include <string>

namespace kestrova {

// Called by the engine for each store it opens and closes (counted, any thread).
void RegisterOpenStore(const std::string& storePath);
void UnregisterOpenStore(const std::string& storePath);

// True when path (followed through links, compared by device and inode, or by name when it
// does not exist yet) is the database, -wal, -shm or -journal of storePath.
bool IsFileOfStore(const std::string& path, const std::string& storePath);

// True when path is a file of any store this process has open.
bool IsOpenStoreFile(const std::string& path);

}  // namespace kestrova
