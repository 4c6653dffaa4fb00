// kestrova-regedit --prefix: every command on a Wine prefix's registry files, a folder that
// is not a prefix refused with nothing made in it (nor the default store), and the desktop
// import kept to Kestrova's own store. The prefix here is hand-made.

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>
#include <filesystem>
#include <fstream>

#include "tests/support/TestStore.h"
#include "tests/support/WinePrefixFixture.h"

namespace kestrova::test {
namespace {

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

Ran Regedit(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(KESTROVA_REGEDIT_PATH), args);
  Ran ran;
  if (!p.waitForFinished(60000)) return ran;
  ran.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  ran.out = p.readAllStandardOutput().toStdString();
  ran.err = p.readAllStandardError().toStdString();
  return ran;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const char kDefaultStore[] = "KESTROVA_STORE";

// Each command refuses a folder that is not a prefix with the reason, exit status 2, and
// makes nothing: not in the folder, not the default store.
TEST(RegeditOnAPrefix, AFolderThatIsNoPrefixIsRefusedAndNothingIsMade) {
  TempDir dir;
  const std::string empty = dir.File("empty");
  std::filesystem::create_directories(empty);
  const std::string missing = dir.File("missing");
  const std::string reg = dir.File("in.reg");
  std::ofstream(reg) << "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.kbx]\r\n@=\"X\"\r\n";
  for (const std::string& folder : {empty, missing}) {
    for (const QStringList& command :
         {QStringList{"/s", Q(reg)}, QStringList{"/e", Q(dir.File("out.reg"))},
          QStringList{"--check"}, QStringList{"--import-desktop"}}) {
      const Ran ran = Regedit(QStringList{"--prefix", Q(folder)} + command);
      EXPECT_EQ(ran.status, 2) << command.join(' ').toStdString();
      EXPECT_NE(ran.err.find("kestrova-regedit: "), std::string::npos) << ran.err;
      EXPECT_GT(ran.err.size(), std::string("kestrova-regedit: \n").size());
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(empty));
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.reg")));
  EXPECT_FALSE(std::filesystem::exists(std::getenv(kDefaultStore)));

  const Ran bare = Regedit({"/s", Q(reg), "--prefix"});
  EXPECT_EQ(bare.status, 2);
  EXPECT_NE(bare.err.find("--prefix needs a folder"), std::string::npos) << bare.err;
}

// /s writes into the prefix's system.reg (HKEY_CLASSES_ROOT is its Software\Classes), /e
// reads it back, --check refuses it; --prefix may stand anywhere, also as --prefix=DIR.
TEST(RegeditOnAPrefix, ImportAndExportWorkOnThePrefixAndTheCheckRefusesIt) {
  TempDir dir;
  const std::string prefix = dir.File("prefix");
  MakeFakePrefix(prefix);
  const std::string reg = dir.File("in.reg");
  std::ofstream(reg) << "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.kbx]\r\n@=\"Kbx.File\"\r\n\r\n"
                        "[HKEY_CLASSES_ROOT\\Kbx.File\\shell\\open\\command]\r\n"
                        "@=\"/nonexistent/kbx-viewer \\\"%1\\\"\"\r\n";
  const Ran imported = Regedit({"--prefix", Q(prefix), "/s", Q(reg)});
  ASSERT_EQ(imported.status, 0) << imported.err;
  const std::string system = Slurp(prefix + "/system.reg");
  EXPECT_NE(system.find("[Software\\\\Classes\\\\.kbx]"), std::string::npos) << system;
  EXPECT_NE(system.find("@=\"Kbx.File\""), std::string::npos) << system;

  const std::string out = dir.File("out.reg");
  const Ran exported = Regedit({"/e", Q(out), "HKCR\\Kbx.File", "--prefix=" + Q(prefix)});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_NE(Slurp(out).find("@=\"/nonexistent/kbx-viewer \\\"%1\\\"\""), std::string::npos)
      << Slurp(out);

  // The check would call every Windows program missing, and its mend remove the actions.
  const std::string before = Slurp(prefix + "/system.reg");
  for (const QStringList& check :
       {QStringList{"--check"}, QStringList{"--check", "--fix", "missing-program"}}) {
    const Ran ran = Regedit(QStringList{"--prefix", Q(prefix)} + check);
    EXPECT_EQ(ran.status, 2) << ran.out;
    EXPECT_NE(ran.err.find("does not look at a Wine prefix"), std::string::npos) << ran.err;
  }
  EXPECT_EQ(Slurp(prefix + "/system.reg"), before);
  EXPECT_FALSE(std::filesystem::exists(std::getenv(kDefaultStore)));
}

}  // namespace
}  // namespace kestrova::test
