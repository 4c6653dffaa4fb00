// The new extension wizard's file-type list on a full-size store: the time until the list is
// complete, and the longest step of the user-interface thread while it fills.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

#include "app/Main.h"
#include "app/Startup.h"
#include "bench/AppBenchMain.h"
#include "bench/StoreGenerator.h"
#include "dialogs/NewWiz.h"
#include "platform/SqliteStore.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova::bench {
namespace {

// The generated store lists 25,001 of its 50,001 root keys as file types; this copy adds
// plain file types until the wizard's list itself holds 50,000 names.
std::string WideBenchStorePath() { return BenchStorePath() + ".wizard-50k.db"; }
constexpr int kWideListed = 50000;

void EnsureWideStore() {
  const std::string path = WideBenchStorePath();
  if (std::filesystem::exists(path)) return;
  EnsureGeneratedStore(BenchStorePath());
  const std::string partial = path + ".partial";
  std::filesystem::remove(partial);
  std::filesystem::copy_file(BenchStorePath(), partial);
  if (std::filesystem::exists(BenchStorePath() + "-wal")) {
    std::filesystem::copy_file(BenchStorePath() + "-wal", partial + "-wal",
                               std::filesystem::copy_options::overwrite_existing);
  }
  {
    auto engine = OpenSqliteStore(partial);
    const KeyRef root = engine->Root(RootKey::ClassesRoot);
    std::vector<std::string> names;
    engine->ListChildren(root, names);
    const auto listed = std::count_if(
        names.begin(), names.end(), [](const std::string& n) { return layout::IsFileTypeName(n); });
    EngineTransaction tx(*engine, true);
    for (auto i = listed; i < kWideListed; ++i) {
      engine->CreateChild(root, "Wizard.Extra." + std::to_string(i));
    }
    tx.Commit();
  }
  std::filesystem::rename(partial, path);
  std::filesystem::remove(partial + "-wal");
  std::filesystem::remove(partial + "-shm");
}

struct Figures {
  double seconds = 0;      // from the opening to the finish step
  double longestStep = 0;  // the longest pass of the event loop meanwhile, in seconds
  int listed = 0;
};

// Opens the wizard and runs the event loop until its load has finished. A zero-interval timer
// fires once per pass of the loop; the longest time between two of its ticks (or the opening,
// or the end) is the longest the dialog could not answer the user.
Figures Load(TForm3* wizard) {
  wizard->hide();
  QCoreApplication::processEvents();
  QElapsedTimer total;
  QElapsedTimer gap;
  qint64 longest = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
  ticker.start(0);
  total.start();
  gap.start();
  wizard->show();
  while (wizard->FileTypeLoader->Running() > 0) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  Figures f;
  f.seconds = static_cast<double>(total.nsecsElapsed()) / 1e9;
  f.longestStep = static_cast<double>(std::max(longest, gap.elapsed())) / 1e3;
  f.listed = wizard->AssocFileTypes->count();
  return f;
}

// One set of windows per store, made before the application object goes.
std::map<std::string, std::unique_ptr<TForm1>> g_windows;

// Loaded once, so that every measured opening is a reopening: the list of the last load is
// emptied first, as at a user's second opening.
TForm3* Wizard(const std::string& path) {
  UseSqliteStore(path);
  auto& form = g_windows[path];
  if (!form) {
    form = CreateWindows();
    Load(form->AttachedDialogs().newExtensionWizard);
  }
  return form->AttachedDialogs().newExtensionWizard;
}

void Run(benchmark::State& state, const std::string& path, bool longestStep) {
  TForm3* wizard = Wizard(path);
  double worst = 0;
  int listed = 0;
  for (auto _ : state) {
    const Figures f = Load(wizard);
    state.SetIterationTime(longestStep ? f.longestStep : f.seconds);
    worst = std::max(worst, f.longestStep);
    listed = f.listed;
  }
  if (wizard->StatusText() != "File Types Loaded.") state.SkipWithError("the load did not finish");
  state.counters["listed"] = listed;
  state.counters["worst_step_ms"] = worst * 1e3;
}

void BM_WizardFileTypeList(benchmark::State& state) {
  EnsureGeneratedStore(BenchStorePath());
  Run(state, BenchStorePath(), false);
}
BENCHMARK(BM_WizardFileTypeList)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_WizardLongestUiStep(benchmark::State& state) {
  EnsureGeneratedStore(BenchStorePath());
  Run(state, BenchStorePath(), true);
}
BENCHMARK(BM_WizardLongestUiStep)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_WizardFileTypeList50k(benchmark::State& state) {
  EnsureWideStore();
  Run(state, WideBenchStorePath(), false);
}
BENCHMARK(BM_WizardFileTypeList50k)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_WizardLongestUiStep50k(benchmark::State& state) {
  EnsureWideStore();
  Run(state, WideBenchStorePath(), true);
}
BENCHMARK(BM_WizardLongestUiStep50k)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova::bench

int main(int argc, char** argv) {
  return kestrova::bench::RunWithApplication(argc, argv,
                                             [] { kestrova::bench::g_windows.clear(); });
}
