// Changing a file type's icon from the main window, and our icon picker dialog, with a
// scripted icon source, a scripted picker and scripted boxes.

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "app/Main.h"
#include "platform/IconPickerDesktop.h"
#include "platform/Notifier.h"
#include "store/IconLookup.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/RecordingIconPicker.h"
#include "tests/support/ScriptedIconSource.h"
#include "tests/support/TestDoubles.h"

namespace kestrova::test {
namespace {

constexpr QRgb kOld = 0xff2040c0;
constexpr QRgb kNew = 0xff30a030;
constexpr QRgb kShell = 0xffc0a020;
constexpr QRgb kRed = 0xffd02020;

std::shared_ptr<ScriptedIconSource>& Icons() {
  static std::shared_ptr<ScriptedIconSource> icons;
  return icons;
}
std::shared_ptr<IconSource> ScriptedIcons() { return Icons(); }

class IconChangeTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    Icons() = std::make_shared<ScriptedIconSource>();
    Icons()->SetIcon("/icons/old.ico", 3, ScriptedIconSource::Solid(kOld));
    Icons()->SetIcon("/opt/My Apps/view.dll", 0, ScriptedIconSource::Solid(kNew));
    Icons()->SetIcon("C:\\WINDOWS\\system32\\shell32.dll", -154, ScriptedIconSource::Solid(kShell));
    SetIconSourceFactory(&ScriptedIcons);
    m_picker = std::make_shared<RecordingIconPicker>();
    SetIconPicker(m_picker);
    m_notifier = std::make_shared<CountingNotifier>();
    SetNotifier(m_notifier);
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    SetIconPicker(nullptr);
    SetNotifier(nullptr);
    SetIconSourceFactory(nullptr);
    Icons().reset();
  }

  void WriteTextFile() {
    WriteText("\\.txt", "", "txtfile");
    WriteText("\\txtfile", "", "Text Document");
    WriteText("\\txtfile\\DefaultIcon", "", "/icons/old.ico,3");
  }
  void Answer(const std::string& file, int32_t index) {
    m_picker->answers.push_back(RecordingIconPicker::Choice{file, index});
  }
  static std::string DefaultIcon(const std::string& progId, ValueKind* kind = nullptr) {
    AssocStore s;
    s.SetRoot(RootKey::ClassesRoot);
    if (!s.OpenPath("\\" + progId + "\\DefaultIcon", false)) return "(no key)";
    if (kind) *kind = s.KindOfValue("");
    return s.GetText("");
  }
  // The colour in the middle of the icon box; 0 when it shows nothing.
  QRgb Shown() {
    const QPixmap pixmap = Form().Image1->pixmap();
    return pixmap.isNull() ? 0 : pixmap.toImage().pixel(pixmap.width() / 2, pixmap.height() / 2);
  }

  std::shared_ptr<RecordingIconPicker> m_picker;
  std::shared_ptr<CountingNotifier> m_notifier;
};

TEST_F(IconChangeTest, AChosenIconIsWrittenShownAndReadBack) {
  WriteTextFile();
  TForm1& f = Form();
  f.Ext->setText("txt");
  EXPECT_EQ(Shown(), kOld);

  Answer("/opt/My Apps/view.dll", 0);
  QTest::mouseClick(f.Image1, Qt::LeftButton);
  ASSERT_EQ(m_picker->requests.size(), 1u);
  EXPECT_EQ(m_picker->requests[0].file, "/icons/old.ico");  // starts at the current icon
  EXPECT_EQ(m_picker->requests[0].index, 3);
  EXPECT_EQ(m_picker->requests[0].owner, &f);
  ValueKind kind = ValueKind::Other;
  EXPECT_EQ(DefaultIcon("txtfile", &kind), "/opt/My Apps/view.dll,0");  // blanks, no quotes
  EXPECT_EQ(kind, ValueKind::Text);
  EXPECT_EQ(f.State.CurrentIconFile, "/opt/My Apps/view.dll");
  EXPECT_EQ(f.State.CurrentIconIndex, 0);
  EXPECT_EQ(Shown(), kNew);
  EXPECT_EQ(m_notifier->count, 1);

  // Loading the extension again shows what the store now holds, not the icon of the
  // earlier load.
  f.Ext->setText("txtx");
  f.Ext->setText("txt");
  EXPECT_EQ(f.State.CurrentIconFile, "/opt/My Apps/view.dll");
  EXPECT_EQ(Shown(), kNew);

  // A negative index (a resource identifier) keeps its sign and reads back the same.
  Answer("C:\\WINDOWS\\system32\\shell32.dll", -154);
  f.Image1Click();
  EXPECT_EQ(m_picker->requests.back().file, "/opt/My Apps/view.dll");
  EXPECT_EQ(DefaultIcon("txtfile"), "C:\\WINDOWS\\system32\\shell32.dll,-154");
  const IconLocation parsed = ParseDefaultIcon(DefaultIcon("txtfile"));
  EXPECT_EQ(parsed.file, "C:\\WINDOWS\\system32\\shell32.dll");
  EXPECT_EQ(parsed.index, -154);
  f.Ext->setText("");
  f.Ext->setText("txt");
  EXPECT_EQ(f.State.CurrentIconIndex, -154);
  EXPECT_EQ(Shown(), kShell);
  EXPECT_EQ(m_notifier->count, 2);

  // A file that gives no icon is written all the same and leaves the box empty.
  Answer("/nowhere/none.ico", 7);
  f.Image1Click();
  EXPECT_EQ(DefaultIcon("txtfile"), "/nowhere/none.ico,7");
  EXPECT_EQ(Shown(), 0u);
}

TEST_F(IconChangeTest, CancellingChangesNothingAndNotifiesNoOne) {
  WriteTextFile();
  TForm1& f = Form();
  f.Ext->setText("txt");
  m_picker->answers.push_back(std::nullopt);
  f.Image1Click();
  EXPECT_EQ(m_picker->requests.size(), 1u);
  EXPECT_EQ(DefaultIcon("txtfile"), "/icons/old.ico,3");
  EXPECT_EQ(f.State.CurrentIconFile, "/icons/old.ico");
  EXPECT_EQ(f.State.CurrentIconIndex, 3);
  EXPECT_EQ(Shown(), kOld);
  EXPECT_EQ(m_notifier->count, 0);
}

TEST_F(IconChangeTest, MissingKeysAreCreatedAndExpandableTextBecomesText) {
  WriteText("\\.abc", "", "abcfile");  // the file type it names has no key
  WriteText("\\.xyz", "", "xyzfile");
  Raw("\\xyzfile\\DefaultIcon", "", RegType::ExpandSz, std::string("%SystemRoot%\\x.dll,1\0", 22));
  TForm1& f = Form();
  f.Ext->setText("abc");
  Answer("/opt/My Apps/view.dll", 0);
  f.Image1Click();
  EXPECT_EQ(DefaultIcon("abcfile"), "/opt/My Apps/view.dll,0");

  f.Ext->setText("xyz");
  EXPECT_EQ(m_picker->requests.size(), 1u);
  Answer("/icons/old.ico", 3);
  f.Image1Click();
  EXPECT_EQ(m_picker->requests.back().file, "%SystemRoot%\\x.dll");  // as stored, unexpanded
  EXPECT_EQ(m_picker->requests.back().index, 1);
  ValueKind kind = ValueKind::Other;
  EXPECT_EQ(DefaultIcon("xyzfile", &kind), "/icons/old.ico,3");
  EXPECT_EQ(kind, ValueKind::Text);
}

// With no file type on screen the change is refused before the picker opens: nothing
// lands under the root or in the file type loaded before, and the window keeps its state.
TEST_F(IconChangeTest, WithoutAFileTypeTheChangeIsRefusedAndTheWindowKeepsItsIcon) {
  WriteTextFile();
  TForm1& f = Form();
  const QString refused =
      "No file type is loaded. Load an extension that has a file type before changing the icon.";
  Answer("/opt/My Apps/view.dll", 0);
  f.Image1Click();
  EXPECT_EQ(m_boxes->Messages(), std::vector<QString>{refused});
  EXPECT_TRUE(m_picker->requests.empty());
  EXPECT_TRUE(f.State.CurrentIconFile.empty());
  EXPECT_EQ(DefaultIcon(""), "(no key)");
  EXPECT_EQ(m_notifier->count, 0);

  // An extension that does not exist empties the ProgID box but keeps the state; the
  // click is refused and the file type of the earlier load is untouched.
  f.Ext->setText("txt");
  f.Ext->setText("nope");
  QTest::mouseClick(f.Image1, Qt::LeftButton);
  EXPECT_EQ(m_boxes->Messages(), (std::vector<QString>{refused, refused}));
  EXPECT_TRUE(m_picker->requests.empty());
  EXPECT_EQ(DefaultIcon("txtfile"), "/icons/old.ico,3");
  EXPECT_EQ(f.State.CurrentIconFile, "/icons/old.ico");
  EXPECT_EQ(f.State.CurrentIconIndex, 3);
  EXPECT_FALSE(HasKey("\\DefaultIcon"));
}

// Our picker dialog itself.
class IconPickerTest : public IconChangeTest {
 protected:
  void SetUp() override {
    IconChangeTest::SetUp();
    for (int i = 0; i < 3; ++i) Icons()->SetIcon("lib.dll", i, ScriptedIconSource::Solid(kRed));
    Icons()->SetIcon("lib.dll", -7, ScriptedIconSource::Solid(kShell));
  }
  static std::vector<int> Listed(const IconPickerDialog& d) {
    std::vector<int> indexes;
    for (int row = 0; row < d.IconList->count(); ++row) {
      indexes.push_back(d.IconList->item(row)->data(Qt::UserRole).toInt());
    }
    return indexes;
  }
};

TEST_F(IconPickerTest, ListsTheFilesIconsAndStartsAtTheCurrentOne) {
  IconPickerDialog d;
  d.SetChoice("lib.dll", 1);
  EXPECT_EQ(Listed(d), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(d.ChosenIndex(), 1);
  EXPECT_TRUE(d.OKBtn->isEnabled());
  d.IconList->setCurrentRow(2);
  EXPECT_EQ(d.ChosenFile(), "lib.dll");
  EXPECT_EQ(d.ChosenIndex(), 2);

  // A resource identifier is offered first, so the current icon can be kept.
  d.SetChoice("lib.dll", -7);
  EXPECT_EQ(Listed(d), (std::vector<int>{-7, 0, 1, 2}));
  EXPECT_EQ(d.ChosenIndex(), -7);
  // An index the file does not have starts at its first icon.
  d.SetChoice("lib.dll", 9);
  EXPECT_EQ(d.ChosenIndex(), 0);

  // A file without icons says so and offers nothing to confirm; no file says nothing.
  d.SetChoice("/icons/plain.txt", 0);
  EXPECT_EQ(d.IconList->count(), 0);
  EXPECT_FALSE(d.Note->isHidden());
  EXPECT_FALSE(d.OKBtn->isEnabled());
  d.SetChoice("", 0);
  EXPECT_TRUE(d.Note->isHidden());
  EXPECT_FALSE(d.ChosenIndex().has_value());
}

TEST_F(IconPickerTest, BrowsingOrTypingAFileShowsItsIcons) {
  TempDir dir;
  IconPickerDialog d;
  d.SetChoice(dir.File("old.ico"), 3);
  d.show();
  m_boxes->openAnswers.push_back("lib.dll");
  d.BrowseBtn->click();
  // The chooser starts in the current file's folder.
  EXPECT_EQ(m_boxes->lastOpenRequest.initialDir, QString::fromStdString(dir.Path()));
  EXPECT_EQ(d.FileBox->text(), "lib.dll");
  EXPECT_EQ(Listed(d), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(d.ChosenIndex(), 0);
  d.BrowseBtn->click();  // cancelled: nothing changes
  EXPECT_EQ(d.ChosenFile(), "lib.dll");

  // A typed name is not confirmed with the icon of the file shown before; Enter shows
  // its icons and keeps the dialog open.
  d.FileBox->selectAll();
  QTest::keyClicks(d.FileBox, "/opt/My Apps/view.dll");
  EXPECT_FALSE(d.OKBtn->isEnabled());
  QTest::keyClick(d.FileBox, Qt::Key_Return);
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.ChosenFile(), "/opt/My Apps/view.dll");
  EXPECT_EQ(Listed(d), std::vector<int>{0});
  EXPECT_TRUE(d.OKBtn->isEnabled());
  QTest::keyClick(d.FileBox, Qt::Key_Return);  // now it confirms
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(d.result(), QDialog::Accepted);
}

TEST_F(IconPickerTest, TheDesktopPickerAnswersThroughTheDialog) {
  SetIconPicker(nullptr);
  auto answer = [](bool ok) {
    QTimer::singleShot(0, [ok] {
      QWidget* modal = QApplication::activeModalWidget();
      auto* d = qobject_cast<IconPickerDialog*>(modal);
      if (!d) {
        ADD_FAILURE() << "the picker is not shown";
        if (modal) modal->close();
        return;
      }
      EXPECT_EQ(d->ChosenIndex(), 1);
      d->IconList->setCurrentRow(2);
      (ok ? d->OKBtn : d->CancelBtn)->click();
    });
  };
  std::string file = "lib.dll";
  int32_t index = 1;
  answer(false);
  EXPECT_FALSE(TheIconPicker().Pick(nullptr, file, index));
  EXPECT_EQ(index, 1);
  answer(true);
  EXPECT_TRUE(TheIconPicker().Pick(nullptr, file, index));
  EXPECT_EQ(file, "lib.dll");
  EXPECT_EQ(index, 2);
}

}  // namespace
}  // namespace kestrova::test
