#pragma once
// The few POSIX file calls the import and export of a path make, with their errors as the
// messages name them.

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// Closes the descriptor at destruction.
class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  int Close();

 private:
  int m_fd;
};

// The error's text as the C library says it.
std::string ErrnoText(int error);

// Writes all of `bytes`; throws std::system_error.
void WriteAll(int fd, std::string_view bytes);

// Reads until `buffer` is full or the file ends; throws std::system_error.
std::size_t ReadFull(int fd, std::vector<char>& buffer);

// "a folder", "a pipe", ...: what a file that is not a regular one is, for messages.
const char* KindOfFile(mode_t mode);

}  // namespace kestrova
