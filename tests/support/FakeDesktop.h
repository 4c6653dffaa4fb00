#pragma once
// A small desktop of our own for the import's tests: a MIME package compiled with
// update-mime-database, desktop entries indexed with update-desktop-database, and a default
// in the user's mimeapps.list. Install() points XDG_DATA_DIRS at it; it must run before
// anything in the process reads the MIME database or GIO's application lists, which both
// keep what they read first.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/TestStore.h"

namespace kestrova::test {

// The package: a document type with two extensions (one also claimed, at a lower weight, by
// the note type), a note type, and a build-file type with only a literal name and a
// wildcard, so no extension of its own.
inline constexpr char kFakeMimePackage[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/x-kestrova-doc">
    <comment>Kestrova test document</comment>
    <comment xml:lang="de">Kestrova-Testdokument</comment>
    <icon name="kestrova-doc-icon"/>
    <glob pattern="*.kdoc"/>
    <glob pattern="*.kdoc.gz"/>
    <glob pattern="*.KDX"/>
  </mime-type>
  <mime-type type="application/x-kestrova-note">
    <comment>Kestrova test note</comment>
    <glob pattern="*.knote"/>
    <glob pattern="*.kdoc" weight="20"/>
  </mime-type>
  <mime-type type="text/x-kestrova-build">
    <comment>Kestrova build file</comment>
    <sub-class-of type="text/plain"/>
    <glob pattern="Kbuildfile"/>
    <glob pattern="*.kb*"/>
  </mime-type>
</mime-info>
)";

class FakeDesktop {
 public:
  // Builds the desktop in `dir` and points this process's XDG_DATA_DIRS at it, with the
  // user's config (mimeapps.list) in XDG_CONFIG_HOME.
  static void Install(const std::string& dir) {
    namespace fs = std::filesystem;
    fs::create_directories(dir + "/mime/packages");
    fs::create_directories(dir + "/applications");
    WriteFile(dir + "/mime/packages/kestrova-test.xml", kFakeMimePackage);
    Entry(dir, "kdocviewer.desktop",
          "Name=Doc Viewer\nExec=/bin/true --view %f\nIcon=viewer-icon\n"
          "MimeType=application/x-kestrova-doc;application/x-kestrova-note;\n");
    Entry(dir, "kdoceditor.desktop",
          "Name=Doc Editor\nExec=\"/bin/echo\" \"two words\" %U\n"
          "MimeType=application/x-kestrova-doc;\n");
    Entry(dir, "hidden.desktop",
          "Name=Hidden Tool\nHidden=true\nExec=/bin/true %f\n"
          "MimeType=application/x-kestrova-doc;\n");
    Entry(dir, "quiet.desktop",
          "Name=Quiet Tool\nNoDisplay=true\nExec=cat %f\nMimeType=application/x-kestrova-note;\n");
    Entry(dir, "bad.desktop",
          "Name=Bad Tool\nExec=/bin/true --x=%F\nMimeType=application/x-kestrova-note;\n");
    Run("PKGSYSTEM_ENABLE_FSYNC=0 update-mime-database '" + dir + "/mime'");
    Run("update-desktop-database -q '" + dir + "/applications'");

    const char* config = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(config, nullptr);
    fs::create_directories(config);
    WriteFile(std::string(config) + "/mimeapps.list",
              "[Default Applications]\napplication/x-kestrova-doc=kdoceditor.desktop\n");
    setenv("XDG_DATA_DIRS", dir.c_str(), 1);
  }

 private:
  static void Entry(const std::string& dir, const std::string& id, const std::string& keys) {
    WriteFile(dir + "/applications/" + id, "[Desktop Entry]\nType=Application\n" + keys);
  }

  static void Run(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
  }
};

}  // namespace kestrova::test
