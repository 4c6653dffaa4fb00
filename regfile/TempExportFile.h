#pragma once
// The temporary file an export writes beside its target before renaming it into place.

#include <string>

namespace kestrova {

// While alive, SIGTERM, SIGINT and SIGHUP remove the temporary file (with async-signal-safe
// calls only) and then end the process as the signal would have; a file-size limit makes the
// write fail, to be reported, instead of killing the process. One export at a time.
class TempExportFile {
 public:
  TempExportFile();
  ~TempExportFile();
  TempExportFile(const TempExportFile&) = delete;
  TempExportFile& operator=(const TempExportFile&) = delete;

  // Creates a new file in the folder of `path`, with the usual permissions (umask applies),
  // and returns its descriptor, or -1 with errno set. Its name (in tempPath) is short, so
  // that any target name that fits the folder leaves room for it.
  int Create(const std::string& path, std::string& tempPath);
  // The file was renamed into place or removed: the handlers leave it alone.
  void Disarm();
};

}  // namespace kestrova
