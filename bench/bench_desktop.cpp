// Applying one change to the desktop, as the main window does after a save: the part on
// the window's thread (reading the store, planning, the small file edits). The databases'
// rebuild runs on a worker and is not timed.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>

#include "app/Main.h"
#include "bench/AppBenchMain.h"
#include "platform/SqliteStore.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova::bench {
namespace {

void BM_DesktopApplyOneChange(benchmark::State& state) {
  QTemporaryDir home;
  const QByteArray dir = QFile::encodeName(home.path());
  setenv("XDG_DATA_HOME", (dir + "/data").constData(), 1);
  setenv("XDG_CONFIG_HOME", (dir + "/config").constData(), 1);
  setenv("KESTROVA_BACKUP_DIR", (dir + "/backups").constData(), 1);
  UseSqliteStore((dir + "/registry.db").toStdString());
  {
    AssocStore s;
    s.SetRoot(RootKey::ClassesRoot);
    s.OpenPath(layout::ExtKey("benchkbq"), true);
    s.PutText(layout::DefaultValueName, "Bench.kbq");
    s.OpenPath(layout::NewVerbCommandKey("Bench.kbq", "open"), true);
    s.PutText(layout::DefaultValueName, "\"/opt/Bench Tool/kbq\" \"%1\"");
    s.OpenPath(layout::ProgIdKey("Bench.kbq"), true);
    s.PutText(layout::DefaultValueName, "Bench document");
  }
  TForm1 form;
  int round = 0;
  for (auto _ : state) {
    {
      AssocStore s;
      s.SetRoot(RootKey::ClassesRoot);
      s.OpenPath(layout::ExtKey("benchkbq"), false);
      s.PutText(layout::ContentTypeName, "application/x-bench" + std::to_string(round++ % 2));
    }
    const auto start = std::chrono::steady_clock::now();
    form.AssociationsChanged({"benchkbq"}, {});
    const auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    QCoreApplication::processEvents();
  }
  while (form.DesktopRebuildsRunning() > 0) QCoreApplication::processEvents();
}
BENCHMARK(BM_DesktopApplyOneChange)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova::bench

int main(int argc, char** argv) { return kestrova::bench::RunWithApplication(argc, argv); }
