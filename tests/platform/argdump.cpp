// A program for the opener's tests: writes the arguments it received, one per line, to the
// file named by ARGDUMP_OUT (and its working folder to ARGDUMP_CWD), after sleeping
// ARGDUMP_SLEEP_MS milliseconds, and exits with ARGDUMP_EXIT.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

// Written under another name and renamed, so a test that polls never reads half a file.
void WriteWhole(const char* path, const std::string& text) {
  const std::string partial = std::string(path) + ".partial";
  {
    std::ofstream out(partial, std::ios::binary);
    out << text;
  }
  std::rename(partial.c_str(), path);
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* ms = std::getenv("ARGDUMP_SLEEP_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(ms)));
  }
  if (const char* cwdFile = std::getenv("ARGDUMP_CWD")) {
    WriteWhole(cwdFile, std::filesystem::current_path().string() + "\n");
  }
  if (const char* out = std::getenv("ARGDUMP_OUT")) {
    std::string text;
    for (int i = 1; i < argc; ++i) text += std::string(argv[i]) + "\n";
    WriteWhole(out, text);
  }
  const char* code = std::getenv("ARGDUMP_EXIT");
  return code ? std::atoi(code) : 0;
}
