// The new extension wizard through the real windows: its outcomes and messages, and the
// file-type list that a worker thread fills, also during reopening, failure and shutdown.

#include <sqlite3.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <thread>

#include "app/Main.h"
#include "dialogs/NewType.h"
#include "dialogs/NewWiz.h"
#include "platform/SqliteStore.h"
#include "store/AssocLayout.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/dialogs/DialogDriver.h"

namespace kestrova::test {
namespace {

class NewWizTest : public MainWindowTest {
 protected:
  void TearDown() override {
    unsetenv("KESTROVA_STORE_READONLY");
    UseSqliteStore(m_store.Path());
    MainWindowTest::TearDown();
  }

  TForm3* Wizard() { return Form().AttachedDialogs().newExtensionWizard; }
  // Shown without the modal loop, so a test can look between the opening and the load's end.
  TForm3* Open(bool wait = true) {
    TForm3* w = Wizard();
    w->hide();
    w->show();
    if (wait) {
      EXPECT_TRUE(Loaded(w));
    }
    return w;
  }
  // Runs the event loop until the load's finish step has run.
  static bool Loaded(TForm3* w) { return RunUntilFinished(w->FileTypeLoader); }

  static std::vector<std::string> RootKeys() {
    AssocStore s;
    s.SetRoot(RootKey::ClassesRoot);
    std::vector<std::string> names;
    s.OpenPath(layout::RootPath, false);
    s.ListSubkeys(names);
    return names;
  }
  static void Fill(TForm3* w, const QString& ext, const QString& longExt, const QString& progId,
                   const QString& contentType) {
    w->FileExt->setText(ext);
    w->LongFileExt->setText(longExt);
    w->AssocFileTypes->setEditText(progId);
    w->ContentType->setEditText(contentType);
  }

  void WriteTypes() {
    WriteText("\\.txt", "", "txtfile");
    WriteText("\\txtfile", "", "Text Document");
    WriteText("\\*\\shell\\Velmora\\command", "", "kestrova %1");
    WriteText("\\Zeta.Doc", "", "Zeta");
    WriteText("\\alpha.doc", "", "Alpha");
    WriteText("\\Application.Component.Version", "", "Vendor Program Name");
    WriteText("\\MIME\\Database\\Content Type\\text/plain", "Extension", ".txt");
    WriteText("\\MIME\\Database\\Content Type\\image/png", "Extension", ".png");
  }
  // Root keys in store order, less "*" and ".txt".
  const QStringList m_types{"alpha.doc", "Application.Component.Version", "MIME", "txtfile",
                            "Zeta.Doc"};
};

TEST_F(NewWizTest, TheFirstLoadEnablesOKAndCancelAndEveryOpeningListsEachNameOnce) {
  WriteTypes();
  TForm3* w = Open(false);
  // The opening step is done; none of the worker's changes has run yet.
  EXPECT_EQ(w->StatusText(), "Loading File Types...");
  EXPECT_FALSE(w->Button1->isEnabled());
  EXPECT_FALSE(w->Button2->isEnabled());
  EXPECT_TRUE(w->ProgressBar1->isVisible());
  EXPECT_EQ(ComboItems(w->ContentType), (QStringList{"image/png", "text/plain"}));
  ASSERT_TRUE(Loaded(w));
  EXPECT_EQ(ComboItems(w->AssocFileTypes), m_types);
  EXPECT_EQ(w->AssocFileTypes->currentText(), "");  // filling the list picks nothing
  EXPECT_EQ(w->StatusText(), "File Types Loaded.");
  EXPECT_TRUE(w->Button1->isEnabled());
  EXPECT_TRUE(w->Button2->isEnabled());
  EXPECT_FALSE(w->ProgressBar1->isVisible());
  EXPECT_EQ(w->ProgressBar1->maximum(), 7);  // every root key, "*" and ".txt" included
  EXPECT_EQ(w->ProgressBar1->value(), 0);

  // Reopened: the texts typed last time stay but the ProgID's, the content types are read
  // again, each name is listed once, and the bar stays hidden.
  Fill(w, "abc", "abc-long", "txtfile", "text/x-mine");
  w->Button2->click();
  EXPECT_FALSE(w->isVisible());
  WriteText("\\MIME\\Database\\Content Type\\audio/ogg", "Extension", ".ogg");
  Open(false);
  EXPECT_FALSE(w->ProgressBar1->isVisible());
  ASSERT_TRUE(Loaded(w));
  EXPECT_EQ(ComboItems(w->AssocFileTypes), m_types);
  EXPECT_EQ(w->AssocFileTypes->currentText(), "");
  EXPECT_EQ(w->FileExt->text(), "abc");
  EXPECT_EQ(w->LongFileExt->text(), "abc-long");
  EXPECT_EQ(ComboItems(w->ContentType), (QStringList{"audio/ogg", "image/png", "text/plain"}));
  EXPECT_EQ(w->ContentType->currentText(), "text/x-mine");
}

TEST_F(NewWizTest, ReopeningDuringALoadStartsNoSecondLoadAndClosingTheProgramStopsIt) {
  WriteTypes();
  TForm3* w = Open(false);
  // The first load's changes wait for the event loop, so it is still in progress here.
  Open(false);
  Open(false);
  EXPECT_EQ(w->FileTypeLoader->Running(), 1);
  ASSERT_TRUE(Loaded(w));
  EXPECT_EQ(ComboItems(w->AssocFileTypes), m_types);

  // Closed before the load ended, it goes on filling the hidden dialog.
  Open(false);
  w->Button2->click();
  ASSERT_TRUE(Loaded(w));
  EXPECT_EQ(ComboItems(w->AssocFileTypes), m_types);

  // The windows go during a load; the worker stops with them, and new ones load as usual.
  Open(false);
  m_form.reset();
  EXPECT_EQ(ComboItems(Open()->AssocFileTypes), m_types);
}

TEST_F(NewWizTest, OKFromTheMenuCreatesTheExtensionClosesAndShowsIt) {
  WriteTypes();
  WriteText("\\abcfile", "", "ABC Document");
  const auto before = RootKeys().size();
  TForm1& f = Form();
  TForm3* w = Wizard();
  QTimer::singleShot(0, w, [&] {
    if (!Loaded(w)) {
      w->reject();
      return;
    }
    Fill(w, "abc", "", "abcfile", "text/plain");
    w->Button1->click();
  });
  f.New1->trigger();
  EXPECT_EQ(w->result(), QDialog::Accepted);
  EXPECT_EQ(ReadValue("\\.abc", ""), "abcfile");
  EXPECT_EQ(ReadValue("\\.abc", "Content Type"), "text/plain");
  EXPECT_EQ(RootKeys().size(), before + 1);
  EXPECT_EQ(f.Ext->text(), "abc");
  EXPECT_EQ(f.ExtType->text(), "ABC Document");
  EXPECT_TRUE(m_boxes->Messages().empty());
}

TEST_F(NewWizTest, ApplyCreatesBothExtensionsStaysOpenAndReloadsTheExtensionOnScreen) {
  TForm1& f = Form();
  // The main window already shows the extension: setting the same text would load nothing,
  // and a save there would then remove the new content type.
  f.Ext->setText(".abc");
  TForm3* w = Open();
  Fill(w, ".abc", "abc-long", "", "text/plain");  // a leading dot is kept as typed
  w->Button3->click();
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->StatusText(), "Saved.");
  EXPECT_EQ(ReadValue("\\..abc", ""), "");  // empty texts are written all the same
  EXPECT_EQ(ReadValue("\\..abc", "Content Type"), "text/plain");
  EXPECT_EQ(ReadValue("\\.abc-long", ""), "");
  EXPECT_EQ(ReadValue("\\.abc-long", "Content Type"), "text/plain");
  EXPECT_EQ(f.ContentType->currentText(), "text/plain");

  // Again: refused, and "Saved." stays from before.
  w->AssocFileTypes->setEditText("other");
  w->Button3->click();
  EXPECT_EQ(m_boxes->Messages(), std::vector<QString>{"File Extension Already Exists."});
  EXPECT_EQ(m_boxes->shown[0].caption, "Kestrova");
  EXPECT_EQ(w->StatusText(), "Saved.");
  EXPECT_EQ(ReadValue("\\..abc", ""), "");
}

TEST_F(NewWizTest, RefusalsCreateNothingAndStillSwitchTheMainWindow) {
  WriteText("\\.txt", "", "txtfile");
  WriteText("\\.abc-long", "", "longfile");
  TForm1& f = Form();
  TForm3* w = Open();
  const auto keys = RootKeys();

  f.Ext->setText("txt");
  Fill(w, "", "new-long", "x", "y");
  w->Button1->click();
  EXPECT_EQ(f.Ext->text(), "");  // which clears the main window
  EXPECT_EQ(f.ExtDesc->text(), "");

  // The long one is neither tested nor created.
  Fill(w, "txt", "abc-long", "x", "y");
  w->Button1->click();
  EXPECT_EQ(f.ExtDesc->text(), "txtfile");

  // Both are tested first: an existing long one leaves the new short one uncreated.
  Fill(w, "abc", "abc-long", "x", "y");
  w->Button3->click();
  EXPECT_EQ(f.Ext->text(), "abc");

  EXPECT_EQ(m_boxes->Messages(),
            (std::vector<QString>{"No File Extension Specified.", "File Extension Already Exists.",
                                  "Long File Extension Already Exists."}));
  EXPECT_EQ(RootKeys(), keys);
  EXPECT_EQ(ReadValue("\\.abc-long", ""), "longfile");
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->StatusText(), "File Types Loaded.");
}

// The store refuses the key: its values go nowhere else (the root is current), the main
// window still switches, and the error goes on to the event loop.
TEST_F(NewWizTest, AKeyThatCannotBeMadeWritesNothing) {
  TForm3* w = Open();
  ReleaseSqliteStoreForThread(m_store.Path());
  setenv("KESTROVA_STORE_READONLY", "1", 1);
  Fill(w, "abc", "", "abcfile", "text/plain");
  try {
    w->Button1Click();
    ADD_FAILURE() << "no error";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to create key \\.abc");
  }
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(Form().Ext->text(), "abc");
  unsetenv("KESTROVA_STORE_READONLY");
  ReleaseSqliteStoreForThread(m_store.Path());
  EXPECT_EQ(ReadValue("\\.abc", ""), "(no key)");
  EXPECT_EQ(ReadValue(layout::RootPath, layout::DefaultValueName), "(no value)");
  EXPECT_EQ(ReadValue(layout::RootPath, layout::ContentTypeName), "(no value)");
}

// A name the store cannot hold is refused before anything is written, whichever of the two
// it is; the longest name the store holds is still taken.
TEST_F(NewWizTest, AnExtensionThatIsNotAKeyNameIsRefusedBeforeAnythingIsWritten) {
  const QString badShort =
      "File Extension Not Valid: at most 254 characters, and no backslash or line break.";
  const QString badLong =
      "Long File Extension Not Valid: at most 254 characters, and no backslash or line break.";
  WriteText("\\.a", "", "afile");  // ".a\\b" would otherwise land below it
  TForm3* w = Open();
  const auto keys = RootKeys();
  const struct {
    QString shortExt, longExt, message;
  } refused[] = {
      {"abc", QString(300, 'x'), badLong}, {"abc", "a\\b", badLong}, {"abc", "new\nline", badLong},
      {QString(255, 'y'), "", badShort},  // with its dot, one character too many
      {"a\\b", "abc-long", badShort},
  };
  for (const auto& r : refused) {
    m_boxes->shown.clear();
    Fill(w, r.shortExt, r.longExt, "abcfile", "text/plain");
    w->Button3->click();
    EXPECT_EQ(m_boxes->Messages(), std::vector<QString>{r.message}) << r.shortExt.toStdString();
    EXPECT_EQ(RootKeys(), keys);
    EXPECT_EQ(ReadValue("\\.a", ""), "afile");
  }
  EXPECT_EQ(ReadValue("\\.a\\b", ""), "(no key)");
  EXPECT_NE(w->StatusText(), "Saved.");

  m_boxes->shown.clear();
  const QString longest(254, 'z');
  Fill(w, "abc", longest, "abcfile", "text/plain");
  w->Button3->click();
  EXPECT_TRUE(m_boxes->shown.empty());
  EXPECT_EQ(ReadValue("\\.abc", ""), "abcfile");
  EXPECT_EQ(ReadValue("\\." + longest.toStdString(), ""), "abcfile");
}

// The store refuses the second key after the first was made: the first goes with it.
TEST_F(NewWizTest, BothExtensionsAreWrittenOrNeither) {
  TForm3* w = Open();
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(m_store.Path().c_str(), &db), SQLITE_OK);
    const char* refuse =
        "CREATE TRIGGER refuse BEFORE INSERT ON keys WHEN CAST(NEW.name AS TEXT) = '.refused' "
        "BEGIN SELECT RAISE(ABORT, 'refused'); END;";
    EXPECT_EQ(sqlite3_exec(db, refuse, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  const auto keys = RootKeys();
  Fill(w, "abc", "refused", "abcfile", "text/plain");
  try {
    w->Button3Click();
    ADD_FAILURE() << "no error";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to create key \\.refused");
  }
  EXPECT_EQ(RootKeys(), keys);
  EXPECT_EQ(Form().Ext->text(), "abc");
  EXPECT_NE(w->StatusText(), "Saved.");
}

TEST_F(NewWizTest, NewProgIDListsTheFileTypesAgain) {
  WriteTypes();
  TForm3* w = Open();
  w->AssocFileTypes->setEditText("typed");
  TFrmNewFileType* newType = Form().AttachedDialogs().newFileTypeDialog;
  QTimer::singleShot(0, newType, [&] {
    WriteText("\\Brand.New", "", "Brand New");  // as the dialog would have created it
    newType->reject();
  });
  w->NewProgIDBtn->click();
  EXPECT_EQ(w->AssocFileTypes->currentText(), "");
  EXPECT_TRUE(w->ProgressBar1->isVisible());
  EXPECT_EQ(w->StatusText(), "Loading File Types...");
  ASSERT_TRUE(Loaded(w));
  EXPECT_EQ(ComboItems(w->AssocFileTypes),
            (QStringList{"alpha.doc", "Application.Component.Version", "Brand.New", "MIME",
                         "txtfile", "Zeta.Doc"}));
}

// Tens of thousands of names arrive in order, each once, in batches: the dialog never waits
// for the whole list, and typing meanwhile is kept.
TEST_F(NewWizTest, ALongListArrivesInOrderWithoutFreezingTheDialog) {
  constexpr int kNames = 30000;
  {
    auto engine = m_store.Engine();
    EngineTransaction tx(*engine, true);
    const KeyRef root = engine->Root(RootKey::ClassesRoot);
    for (int i = 0; i < kNames; ++i) {
      engine->CreateChild(root, "Type." + std::to_string(100000 + i));
      if (i % 3 == 0) engine->CreateChild(root, ".e" + std::to_string(100000 + i));
    }
    tx.Commit();
  }
  TForm3* w = Open(false);
  // Each batch is one insertion, counted on the model rather than on event-loop passes,
  // which depend on the machine's load. The user types as the second batch comes in.
  int growths = 0;
  const QMetaObject::Connection grew =
      QObject::connect(w->AssocFileTypes->model(), &QAbstractItemModel::rowsInserted, w, [&] {
        if (++growths == 2) w->AssocFileTypes->lineEdit()->setText("mine");
      });
  qint64 longest = 0;  // the longest pass of the event loop while the list fills
  QElapsedTimer gap;
  gap.start();
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
  ticker.start(0);
  const bool loaded = Loaded(w);
  ticker.stop();
  QObject::disconnect(grew);
  ASSERT_TRUE(loaded);
  EXPECT_GE(growths, 3);
  EXPECT_LT(longest, 1000);  // generous for a busy or sanitized run; the benchmark measures
  ASSERT_EQ(w->AssocFileTypes->count(), kNames);
  for (int i = 0; i < kNames; ++i) {
    ASSERT_EQ(w->AssocFileTypes->itemText(i), "Type." + QString::number(100000 + i));
  }
  EXPECT_EQ(w->AssocFileTypes->currentText(), "mine");
  EXPECT_EQ(w->ProgressBar1->maximum(), kNames + kNames / 3);
}

std::string g_storePath;
std::thread::id g_uiThread;

// Only the user-interface thread reaches the store; the worker's open fails.
std::shared_ptr<RegistryEngine> UiThreadOnly() {
  if (std::this_thread::get_id() != g_uiThread) throw StoreOpenError("no store for this thread");
  return SqliteStoreForThread(g_storePath);
}

TEST_F(NewWizTest, AFailingWorkerEndsSilentlyAndTheNextRequestIsAccepted) {
  WriteTypes();
  g_storePath = m_store.Path();
  g_uiThread = std::this_thread::get_id();
  SetEngineFactory(&UiThreadOnly);
  TForm3* w = Open();
  EXPECT_TRUE(m_boxes->shown.empty());
  EXPECT_FALSE(w->ProgressBar1->isVisible());
  EXPECT_EQ(w->StatusText(), "Loading File Types...");
  EXPECT_FALSE(w->Button1->isEnabled());  // only a finished load enables them

  UseSqliteStore(m_store.Path());
  Open();
  EXPECT_EQ(ComboItems(w->AssocFileTypes), m_types);
  EXPECT_TRUE(w->Button1->isEnabled());
}

}  // namespace
}  // namespace kestrova::test
