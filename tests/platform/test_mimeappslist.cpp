// mimeapps.list edited line by line: what we set changes, every other byte stays.

#include "platform/MimeAppsList.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>

#include "tests/support/TestStore.h"

namespace kestrova::test {
namespace {

const QByteArray kUserFile =
    "# my own notes, keep them\n"
    "[Default Applications]\n"
    "text/html=firefox.desktop\n"
    "  # indented comment\n"
    "image/png=eog.desktop;\n"
    "\n"
    "[X-Vendor Group]\n"
    "text/plain=not-a-default.desktop\n"
    "[Added Associations]\n"
    "text/plain=gedit.desktop;\n";

TEST(MimeAppsList, SettingOneEntryLeavesEveryOtherByte) {
  MimeAppsList list(kUserFile);
  list.Set("Default Applications", "text/plain", "kestrova-txtfile.desktop");
  QByteArray expected = kUserFile;
  expected.replace("image/png=eog.desktop;\n",
                   "image/png=eog.desktop;\ntext/plain=kestrova-txtfile.desktop\n");
  EXPECT_EQ(list.Text(), expected);
  // The same key in another group is not this group's entry.
  EXPECT_EQ(list.Get("X-Vendor Group", "text/plain"), "not-a-default.desktop");
  // Replaced in place, not moved.
  list.Set("Default Applications", "text/html", "chromium.desktop");
  expected.replace("text/html=firefox.desktop", "text/html=chromium.desktop");
  EXPECT_EQ(list.Text(), expected);
  // Removing restores the original bytes.
  list.Remove("Default Applications", "text/plain");
  list.Set("Default Applications", "text/html", "firefox.desktop");
  EXPECT_EQ(list.Text(), kUserFile);
}

TEST(MimeAppsList, MissingGroupsAreAddedAtTheEndAndLastLinesKeepTheirNewline) {
  MimeAppsList list("[Added Associations]\ntext/plain=gedit.desktop;");
  list.Set("Added Associations", "text/x-c", "a.desktop;");
  EXPECT_EQ(list.Text(), "[Added Associations]\ntext/plain=gedit.desktop;\ntext/x-c=a.desktop;\n");
  list.Set("Default Applications", "text/x-c", "a.desktop");
  EXPECT_EQ(list.Text(),
            "[Added Associations]\ntext/plain=gedit.desktop;\ntext/x-c=a.desktop;\n\n"
            "[Default Applications]\ntext/x-c=a.desktop\n");
  MimeAppsList empty;
  empty.Set("Default Applications", "a/b", "c.desktop");
  EXPECT_EQ(empty.Text(), "[Default Applications]\na/b=c.desktop\n");
  EXPECT_FALSE(empty.Get("Default Applications", "a/c"));
}

TEST(MimeAppsList, AtomicWritesKeepTheFilesModeAndMakeNewOnesPrivate) {
  TempDir dir;
  const QString path = QString::fromStdString(dir.File("cfg/mimeapps.list"));
  QString reason;
  ASSERT_TRUE(WriteFileAtomically(path, "a\n", reason)) << reason.toStdString();
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ::chmod(QFile::encodeName(path).constData(), 0644);
  ASSERT_TRUE(WriteFileAtomically(path, "b\n", reason));
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  QByteArray text;
  ASSERT_TRUE(ReadWholeFile(path, text, reason));
  EXPECT_EQ(text, "b\n");
  ASSERT_TRUE(ReadWholeFile(path + ".absent", text, reason));
  EXPECT_TRUE(text.isEmpty());
}

}  // namespace
}  // namespace kestrova::test
