// The main window's speed on a full-size store: loading an extension and start-up.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>

#include "app/DefaultStore.h"
#include "app/Startup.h"
#include "bench/AppBenchMain.h"
#include "bench/StoreGenerator.h"
#include "platform/SqliteStore.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova::bench {
namespace {

// Two extensions whose file types have four actions and an .ico icon, so that every load
// of one after the other looks the icon up again.
void AddIconTypes() {
  const QString dir = QDir::tempPath() + "/kestrova-bench";
  QDir().mkpath(dir);
  const QString ico = dir + "/bench.ico";
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter(&image).fillRect(4, 4, 24, 24, Qt::darkCyan);
  image.save(ico, "ICO");
  AssocStore s;
  s.SetRoot(RootKey::ClassesRoot);
  for (const std::string ext : {"benchico1", "benchico2"}) {
    const std::string progId = "Bench." + ext;
    s.OpenPath(layout::ExtKey(ext), true);
    s.PutText(layout::DefaultValueName, progId);
    s.PutText(layout::ContentTypeName, "application/x-" + ext);
    s.OpenPath(layout::ProgIdKey(progId), true);
    s.PutText(layout::DefaultValueName, "Bench document");
    s.PutDword(layout::EditFlagsName, 0x10000);
    s.OpenPath(layout::DefaultIconKey(progId), true);
    s.PutText(layout::DefaultValueName, ico.toStdString() + ",0");
    s.OpenPath(layout::ShellKey(progId), true);
    s.PutText(layout::DefaultValueName, "print");
    for (const std::string verb : {"open", "edit", "print", "preview"}) {
      s.OpenPath(layout::VerbKey(progId, verb), true);
      s.PutText(layout::DefaultValueName, "&" + verb);
      s.OpenPath(layout::NewVerbCommandKey(progId, verb), true);
      s.PutText(layout::DefaultValueName, "\"/usr/bin/" + verb + "\" \"%1\"");
    }
  }
}

void Prepare() {
  static bool done = false;
  if (done) return;
  EnsureGeneratedStore(BenchStorePath());
  UseSqliteStore(BenchStorePath());
  AddIconTypes();
  done = true;
}

void BM_LoadExtension(benchmark::State& state) {
  Prepare();
  auto form = CreateWindows();
  int n = 0;
  for (auto _ : state) {
    // Each change of the text clears the window and loads the other extension.
    form->Ext->setText(++n % 2 ? "benchico1" : "benchico2");
  }
  if (form->ExtDesc->text().isEmpty() || form->Image1->pixmap().isNull() ||
      form->ListBox1->topLevelItemCount() != 4) {
    state.SkipWithError("the extension did not load completely");
  }
}
BENCHMARK(BM_LoadExtension);

// From opening the store to the main window shown: the connection is opened anew each time.
void BM_StartUp(benchmark::State& state) {
  Prepare();
  for (auto _ : state) {
    ReleaseSqliteStoreForThread(BenchStorePath());
    OpenDefaultStore(BenchStorePath());
    auto form = CreateWindows();
    form->show();
    QCoreApplication::processEvents();
    state.PauseTiming();
    form.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StartUp)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova::bench

int main(int argc, char** argv) { return kestrova::bench::RunWithApplication(argc, argv); }
