// Hostile input at the store's doors: what a .reg file or a path can throw at it.

#include <gtest/gtest.h>

#include <sstream>

#include "platform/SqliteStore.h"
#include "store/AssocStore.h"
#include "tests/support/StoreValues.h"
#include "tests/support/TestStore.h"
#include "tools/RegeditCommand.h"

namespace kestrova {
namespace {

class HostileTest : public ::testing::Test {
 protected:
  // Imports `text` as a REGEDIT4 file; returns the exit status and fills `err`.
  int Import(const std::string& text, std::string& err, bool strict = false) {
    const std::string file = m_store.Dir() + "/in.reg";
    test::WriteFile(file, "REGEDIT4\r\n\r\n" + text);
    std::ostringstream out, errors;
    std::vector<std::string> args = {"/s", file};
    if (strict) args.insert(args.begin() + 1, "--strict");
    const int status = RunRegedit(args, out, errors);
    err = errors.str();
    return status;
  }
  std::string Export(const std::string& key) {
    const std::string file = m_store.Dir() + "/out.reg";
    std::ostringstream out, err;
    EXPECT_EQ(RunRegedit({"/e", file, key}, out, err), 0) << err.str();
    return test::ReadFile(file);
  }
  test::TestStore m_store;
};

TEST_F(HostileTest, LimitsRefuseTheWholeImportAndChangeNothing) {
  std::string err;
  ASSERT_EQ(Import("[HKEY_CLASSES_ROOT\\.keep]\r\n@=\"x\"\r\n", err), 0);

  std::string deep = "[HKEY_CLASSES_ROOT\\.deep";
  for (int i = 0; i < 600; ++i) deep += "\\k";
  EXPECT_EQ(Import("[HKEY_CLASSES_ROOT\\.a]\r\n@=\"1\"\r\n" + deep + "]\r\n@=\"x\"\r\n", err), 2);
  EXPECT_NE(err.find("512"), std::string::npos) << err;
  EXPECT_FALSE(test::HasKey("\\.a"));  // the earlier key of the same file was rolled back
  EXPECT_FALSE(test::HasKey("\\.deep"));

  EXPECT_EQ(Import("[HKEY_CLASSES_ROOT\\" + std::string(256, 'n') + "]\r\n", err), 2);
  EXPECT_EQ(Import("[HKEY_CLASSES_ROOT\\" + std::string(255, 'n') + "]\r\n", err), 0) << err;
  EXPECT_TRUE(test::HasKey("\\" + std::string(255, 'n')));

  // Data over 1 MiB.
  std::string hex = "\"big\"=hex:";
  for (int i = 0; i < 1024 * 1024 + 1; ++i) hex += i ? ",00" : "00";
  EXPECT_NE(Import("[HKEY_CLASSES_ROOT\\.big]\r\n" + hex + "\r\n", err), 0);
  AssocStore s;
  s.SetRoot(RootKey::ClassesRoot);
  if (s.OpenPath("\\.big", false)) {
    EXPECT_FALSE(s.HasValue("big"));
  }
  EXPECT_TRUE(test::HasKey("\\.keep"));
}

TEST_F(HostileTest, BadNamesAndPathsAreRefusedOrKeptByteForByte) {
  std::string err;
  // Empty components and a NUL in a string are malformed lines: skipped and reported.
  EXPECT_EQ(Import("[HKEY_CLASSES_ROOT\\a\\\\b]\r\n\"v\"=\"x\"\r\n"
                   "[HKEY_CLASSES_ROOT\\.ok]\r\n\"n\"=\"a\\0b\"\r\n",
                   err),
            1);
  EXPECT_NE(err.find("in.reg:3:"), std::string::npos) << err;
  EXPECT_NE(err.find("in.reg:6:"), std::string::npos) << err;
  EXPECT_FALSE(test::HasKey("\\a"));
  EXPECT_EQ(Import("[HKEY_CLASSES_ROOT\\a\\\\b]\r\n", err, true), 2);

  // Text arrives in the store as UTF-8 and leaves it as it came.
  const std::string cafe = "caf\xc3\xa9";
  ASSERT_EQ(
      Import("[HKEY_CLASSES_ROOT\\" + cafe + "]\r\n\"" + cafe + "\"=\"" + cafe + "\"\r\n", err), 0)
      << err;
  EXPECT_NE(Export("HKEY_CLASSES_ROOT\\" + cafe).find("\"" + cafe + "\"=\"" + cafe + "\""),
            std::string::npos);

  // Through the store's own paths: backslashes address deeper keys, never escape the root.
  AssocStore s;
  s.SetRoot(RootKey::ClassesRoot);
  EXPECT_TRUE(s.OpenPath("\\..\\..\\x", true));
  EXPECT_TRUE(test::HasKey("\\..\\..\\x"));
  s.SetRoot(RootKey::LocalMachine);
  EXPECT_FALSE(s.HasPath("\\x"));
  EXPECT_FALSE(s.OpenPath(std::string("\\a\0b", 4), true));
}

TEST_F(HostileTest, TruncatedAndLyingRegFiles) {
  std::string err;
  // A hex value cut off at the end of the file keeps what was read; a file cut in the
  // middle of a UTF-16 character is read up to it.
  EXPECT_LE(Import("[HKEY_CLASSES_ROOT\\.cut]\r\n\"h\"=hex:01,02,\\", err), 1);
  const std::string file = m_store.Dir() + "/v5.reg";
  std::string v5 = "\xff\xfe";
  for (char c : std::string(
           "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.v5]\r\n@=\"x\"\r\n")) {
    v5 += c;
    v5 += '\0';
  }
  test::WriteFile(file, v5 + "\x41");  // an odd byte at the end
  std::ostringstream out, errors;
  EXPECT_LE(RunRegedit({"/s", file}, out, errors), 1) << errors.str();
  EXPECT_TRUE(test::HasKey("\\.v5"));
  // A file that is no registry file at all imports nothing.
  EXPECT_EQ(Import("", err), 0);
  test::WriteFile(file, std::string(1000, '\0'));
  EXPECT_EQ(RunRegedit({"/s", file}, out, errors), 2);
}

}  // namespace
}  // namespace kestrova
