// The Change Association dialog on a full-size store: how long the user waits for it to open
// (the opening itself, then the longest step of the user-interface thread while its list
// fills), and how long its drop-down takes to open on the complete list.

#include <benchmark/benchmark.h>

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "app/Main.h"
#include "app/Startup.h"
#include "bench/AppBenchMain.h"
#include "bench/StoreGenerator.h"
#include "dialogs/chgass.h"
#include "platform/SqliteStore.h"

namespace kestrova::bench {
namespace {

std::unique_ptr<TForm1> g_windows;

TFrmChgAss* Dialog() {
  if (!g_windows) {
    EnsureGeneratedStore(BenchStorePath());
    UseSqliteStore(BenchStorePath());
    g_windows = CreateWindows();
    g_windows->Ext->setText(QString::fromStdString(ExtensionName(0)));
  }
  return g_windows->AttachedDialogs().changeAssociationDialog;
}

struct Figures {
  qint64 opening = 0;  // ns from the opening command to the first pass of the event loop
  qint64 longest = 0;  // ns, the longest pass of the event loop until the list is complete
  qint64 complete = 0;
};

// A zero-interval timer fires once per pass of the event loop; the time between two of its
// ticks is how long the dialog could not answer the user.
Figures Open(TFrmChgAss* dialog) {
  dialog->hide();
  QCoreApplication::processEvents();
  Figures f;
  QElapsedTimer total;
  QElapsedTimer gap;
  bool first = true;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 step = gap.nsecsElapsed();
    gap.restart();
    if (first) {
      f.opening = step;
      first = false;
    } else {
      f.longest = std::max(f.longest, step);
    }
  });
  ticker.start(0);
  total.start();
  gap.start();
  dialog->show();
  while (first || dialog->ProgIDLoader->Running() > 0) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  f.longest = std::max(f.longest, gap.nsecsElapsed());
  f.complete = total.nsecsElapsed();
  return f;
}

void BM_ChgAssOpen(benchmark::State& state) {
  TFrmChgAss* dialog = Dialog();
  Figures worst;
  for (auto _ : state) {
    const Figures f = Open(dialog);
    state.SetIterationTime(static_cast<double>(std::max(f.opening, f.longest)) / 1e9);
    worst.opening = std::max(worst.opening, f.opening);
    worst.longest = std::max(worst.longest, f.longest);
    worst.complete = std::max(worst.complete, f.complete);
  }
  state.counters["listed"] = dialog->NewExtDesc->count();
  state.counters["worst_opening_ms"] = static_cast<double>(worst.opening) / 1e6;
  state.counters["worst_step_ms"] = static_cast<double>(worst.longest) / 1e6;
  state.counters["list_complete_ms"] = static_cast<double>(worst.complete) / 1e6;
}
BENCHMARK(BM_ChgAssOpen)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// From the click on the arrow until the list is on screen, then closed again.
void BM_ChgAssDropDown(benchmark::State& state) {
  TFrmChgAss* dialog = Dialog();
  Open(dialog);
  QComboBox* box = dialog->NewExtDesc;
  box->setCurrentIndex(box->count() / 2);  // the drop-down scrolls to the current name
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    box->showPopup();
    QCoreApplication::processEvents();
    state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
    if (!box->view()->isVisible()) state.SkipWithError("the drop-down did not open");
    box->hidePopup();
    QCoreApplication::processEvents();
  }
  state.counters["listed"] = box->count();
}
BENCHMARK(BM_ChgAssDropDown)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova::bench

int main(int argc, char** argv) {
  return kestrova::bench::RunWithApplication(argc, argv,
                                             [] { kestrova::bench::g_windows.reset(); });
}
