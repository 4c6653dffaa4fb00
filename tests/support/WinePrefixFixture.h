#pragma once
// A real Wine prefix, made once per test program with `wineboot -i`, and the Wine commands
// the tests run in it. Wine is started with no display and without the Mono and Gecko
// installers, and never sees the user's home: its HOME is a folder of the prefix's own.
//
// Wine reads the registry files when its server starts and writes them when it ends, so a
// test stops the server (StopServer) before Kestrova reads or writes the files.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

namespace kestrova::test {

// The text between single quotes for the shell.
inline std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Why the Wine tests cannot run here, or the empty text when wine, wineboot and
// wineserver are all on PATH.
inline std::string WhyNoWine() {
  for (const char* tool : {"wine", "wineboot", "wineserver"}) {
    const std::string probe = std::string("command -v ") + tool + " >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) {
      return std::string(tool) +
             " is not installed (Debian: apt-get install wine wine64); the Wine checks are "
             "skipped";
    }
  }
  return {};
}

struct WineRun {
  int status = -1;     // the exit status, -1 when it did not end normally
  std::string output;  // standard output and standard error, with CRs removed
};

class WinePrefix {
 public:
  // The program's one prefix, made at the first call (about 15 to 60 seconds); null when
  // Wine is missing or wineboot failed, with the reason in Why().
  static WinePrefix* Shared() {
    static WinePrefix* prefix = [] {
      auto* made = new WinePrefix;
      made->Make();
      return made;
    }();
    return prefix->m_why.empty() ? prefix : nullptr;
  }
  static const std::string& Why() {
    Shared();
    return Instance().m_why;
  }

  const std::string& Dir() const { return m_dir; }
  // The prefix's C: drive as a Unix folder.
  std::string DriveC() const { return m_dir + "/drive_c"; }

  // Runs a program (wine, wineserver, or any other) with the prefix's environment.
  WineRun Run(const std::string& program, std::initializer_list<std::string> args) const {
    std::string command = Environment() + ' ' + ShellQuoted(program);
    for (const std::string& a : args) command += ' ' + ShellQuoted(a);
    const std::string out = m_root + "/run-output.txt";
    command += " >" + ShellQuoted(out) + " 2>&1 </dev/null";
    const int raw = std::system(command.c_str());
    WineRun run;
    run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(out, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    for (const char c : text.str()) {
      if (c != '\r') run.output += c;
    }
    return run;
  }
  WineRun Wine(std::initializer_list<std::string> args) const { return Run("wine", args); }

  // Stops the prefix's server, which writes the registry files first, and waits for it.
  void StopServer() const {
    Run("wineserver", {"-k"});
    Run("wineserver", {"-w"});
  }
  // Starts a server that stays until StopServer, as a running Wine program keeps it.
  void StartServer() const { Run("wineserver", {"-p"}); }

  ~WinePrefix() = default;

 private:
  WinePrefix() = default;

  static WinePrefix& Instance() {
    Shared();
    return *s_instance;
  }

  std::string Environment() const {
    return "env WINEPREFIX=" + ShellQuoted(m_dir) + " HOME=" + ShellQuoted(m_home) +
           " WINEDEBUG=-all DISPLAY= WAYLAND_DISPLAY= WINEDLLOVERRIDES='mscoree,mshtml='";
  }

  void Make() {
    s_instance = this;
    m_why = WhyNoWine();
    if (!m_why.empty()) return;
    std::string base = (std::filesystem::temp_directory_path() / "kestrova-wine-XXXXXX").string();
    if (!::mkdtemp(base.data())) {
      m_why = "no temporary folder for the prefix";
      return;
    }
    m_root = base;
    m_dir = base + "/prefix";
    m_home = base + "/home";
    std::filesystem::create_directories(m_home);
    const WineRun boot = Run("wineboot", {"-i"});
    StopServer();
    if (!std::filesystem::exists(m_dir + "/system.reg")) {
      m_why =
          "wineboot -i made no prefix (status " + std::to_string(boot.status) + "): " + boot.output;
      std::error_code ignored;
      std::filesystem::remove_all(m_root, ignored);
      return;
    }
    std::atexit([] {
      if (!s_instance || s_instance->m_root.empty()) return;
      s_instance->StopServer();
      std::error_code ignored;
      std::filesystem::remove_all(s_instance->m_root, ignored);
    });
  }

  static inline WinePrefix* s_instance = nullptr;
  std::string m_why;
  std::string m_root;
  std::string m_dir;
  std::string m_home;
};

// A prefix's registry files as a fresh 64-bit prefix starts them, with only the keys a test
// gives (`systemKeys`: blocks as system.reg holds them), for tests that need no Wine.
inline void MakeFakePrefix(const std::string& dir, const std::string& systemKeys = {}) {
  std::filesystem::create_directories(dir + "/drive_c");
  const auto write = [&dir](const char* file, const char* root, const std::string& keys) {
    std::ofstream(dir + "/" + file, std::ios::binary)
        << "WINE REGISTRY Version 2\n;; All keys relative to " << root << "\n\n#arch=win64\n"
        << keys;
  };
  write("system.reg", "REGISTRY\\\\Machine", systemKeys);
  write("user.reg", "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000", "");
  write("userdef.reg", "REGISTRY\\\\User\\\\.Default", "");
}

// Skips the test, with the reason shown, when there is no Wine prefix to run it on.
#define KESTROVA_NEEDS_WINE(prefix)                                              \
  ::kestrova::test::WinePrefix* prefix = ::kestrova::test::WinePrefix::Shared(); \
  if (!prefix) GTEST_SKIP() << ::kestrova::test::WinePrefix::Why()

}  // namespace kestrova::test
