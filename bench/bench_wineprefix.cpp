// Kestrova on a Wine prefix with a big registry (300,000 keys, about 35 MB of system.reg):
// start-up to the main window with an extension loaded, a save, and beside them what Wine's
// own `reg query` of one key takes on the same prefix with no server running.
//
// The prefix is made once (wineboot, then a generated .reg file imported with Wine's
// regedit; several minutes) and kept in $KESTROVA_BENCH_WINE_DIR, else in
// <temp>/kestrova-bench-wine. Without Wine every benchmark is skipped with the reason.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/Main.h"
#include "app/Startup.h"
#include "app/StoreChoice.h"
#include "bench/AppBenchMain.h"
#include "platform/Opener.h"
#include "platform/WinePrefixStore.h"

namespace kestrova::bench {
namespace {

constexpr int kTypes = 50000;  // six keys each: 300,000 keys
constexpr char kLoadedExt[] = "b025000";

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string BenchDir() {
  const char* dir = std::getenv("KESTROVA_BENCH_WINE_DIR");
  return dir && *dir ? dir : (QDir::tempPath() + "/kestrova-bench-wine").toStdString();
}
std::string PrefixDir() { return BenchDir() + "/prefix"; }

// Runs a shell command line with the prefix's environment; true when it exits with 0.
bool InPrefix(const std::string& command) {
  const std::string line = "env WINEPREFIX=" + Quoted(PrefixDir()) +
                           " HOME=" + Quoted(BenchDir() + "/home") +
                           " WINEDEBUG=-all DISPLAY= WINEDLLOVERRIDES='mscoree,mshtml=' " +
                           command + " >/dev/null 2>&1 </dev/null";
  const int status = std::system(line.c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void StopServer() {
  InPrefix("wineserver -k");
  InPrefix("wineserver -w");
}

// The .reg file of kTypes extensions, each with a file type, an icon, and an open action.
void WriteBigReg(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "REGEDIT4\r\n\r\n";
  char ext[16], type[24];
  for (int i = 0; i < kTypes; ++i) {
    std::snprintf(ext, sizeof ext, ".b%06d", i);
    std::snprintf(type, sizeof type, "Bench.Type%06d", i);
    const std::string t = type, n = std::to_string(i), exe = std::to_string(i % 100);
    out << "[HKEY_CLASSES_ROOT\\" << ext << "]\r\n@=\"" << t << "\"\r\n\"Content Type\"="
        << "\"application/x-bench-" << n << "\"\r\n\r\n"
        << "[HKEY_CLASSES_ROOT\\" << t << "]\r\n@=\"Bench document type " << n
        << "\"\r\n\"EditFlags\"=dword:00010000\r\n\r\n"
        << "[HKEY_CLASSES_ROOT\\" << t << "\\DefaultIcon]\r\n@=\"C:\\\\Program Files\\\\Bench\\\\"
        << "bench" << exe << ".exe," << i % 7 << "\"\r\n\r\n"
        << "[HKEY_CLASSES_ROOT\\" << t << "\\shell]\r\n@=\"open\"\r\n\r\n"
        << "[HKEY_CLASSES_ROOT\\" << t << "\\shell\\open]\r\n@=\"&Open with Bench " << n
        << "\"\r\n\r\n"
        << "[HKEY_CLASSES_ROOT\\" << t << "\\shell\\open\\command]\r\n@=\"\\\"C:\\\\Program "
        << "Files\\\\Bench\\\\bench" << exe << ".exe\\\" /open \\\"%1\\\"\"\r\n\r\n";
  }
}

// Why the benchmarks cannot run, or the empty text once the big prefix is there.
const std::string& Prepare() {
  static const std::string why = []() -> std::string {
    if (std::system("command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1") !=
        0) {
      return "wine is not installed (Debian: apt-get install wine wine64)";
    }
    const std::string ready = BenchDir() + "/prefix-ready";
    if (std::filesystem::exists(ready)) return {};
    std::error_code ignored;
    std::filesystem::remove_all(PrefixDir(), ignored);
    std::filesystem::create_directories(BenchDir() + "/home");
    if (!InPrefix("wineboot -i")) return "wineboot -i failed";
    WriteBigReg(PrefixDir() + "/drive_c/big.reg");
    if (!InPrefix("wine regedit /s 'C:\\big.reg'")) return "wine regedit /s failed";
    StopServer();
    std::filesystem::remove(PrefixDir() + "/drive_c/big.reg", ignored);
    std::ofstream(ready) << "made\n";
    return {};
  }();
  StopServer();
  return why;
}

// The registry editor's backup without the process: the file the window checks for.
class BackupWritingOpener final : public Opener {
 public:
  OpenResult Open(QWidget*, const QString& command, const QString& parameters,
                  const QString&) override {
    if (command == "Regedit.exe" && parameters.startsWith("/e \"")) {
      QSaveFile file(parameters.mid(4, parameters.indexOf('"', 4) - 4));
      if (file.open(QIODevice::WriteOnly)) {
        file.write("REGEDIT4\r\n");
        file.commit();
      }
    }
    return {OpenCode::Succeeded, nullptr};
  }
};

std::shared_ptr<RegistryEngine>& FreshEngine() {
  static std::shared_ptr<RegistryEngine> engine;
  return engine;
}

// From opening the prefix to the main window shown with an extension loaded, as
// `kestrova --prefix DIR FILE` starts. The program keeps the registry it read for the rest
// of its run, so each round reads the files anew with an engine of its own.
void BM_WinePrefixStartUp(benchmark::State& state) {
  if (const std::string& why = Prepare(); !why.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  bool loaded = true;
  for (auto _ : state) {
    if (const std::string why = WhyNotWinePrefix(PrefixDir()); !why.empty()) {
      state.SkipWithError(why.c_str());
      return;
    }
    FreshEngine() = OpenWinePrefix(PrefixDir());
    SetEngineFactory([] { return FreshEngine(); });
    auto form = CreateWindows();
    form->SetArgument(QString("C:/doc.") + kLoadedExt);
    form->show();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    state.PauseTiming();
    loaded = loaded && form->ExtDesc->text() == "Bench.Type025000";
    form.reset();
    FreshEngine().reset();
    state.ResumeTiming();
  }
  if (!loaded) state.SkipWithError("the extension was not loaded");
}
BENCHMARK(BM_WinePrefixStartUp)->Unit(benchmark::kMillisecond)->Iterations(5);

// Saving a file type's properties in the window: the prefix's system.reg written anew.
void BM_WinePrefixSave(benchmark::State& state) {
  if (const std::string& why = Prepare(); !why.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  setenv("KESTROVA_BACKUP_DIR", (BenchDir() + "/backups").c_str(), 1);
  SetOpener(std::make_shared<BackupWritingOpener>());
  if (const std::string failed = OpenPrefixStore(PrefixDir()); !failed.empty()) {
    state.SkipWithError(failed.c_str());
    return;
  }
  auto form = CreateWindows();
  form->Ext->setText(kLoadedExt);
  int n = 0;
  for (auto _ : state) {
    form->ExtType->setText(QString("Bench document, saved %1").arg(++n));
    form->SaveTypeBtnClick();
  }
  if (form->StatusText() != "File Type Properties Saved.") {
    state.SkipWithError(form->StatusText().toUtf8().constData());
  }
  form.reset();
  SetOpener(nullptr);
  std::error_code ignored;
  std::filesystem::remove_all(BenchDir() + "/backups", ignored);
}
BENCHMARK(BM_WinePrefixSave)->Unit(benchmark::kMillisecond)->Iterations(10);

// The peer: Wine's own reg query of one key, its server started for it (reading the same
// files) and the server's end not counted.
void BM_WineRegQueryPeer(benchmark::State& state) {
  if (const std::string& why = Prepare(); !why.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  for (auto _ : state) {
    if (!InPrefix(std::string("wine reg query 'HKCR\\.") + kLoadedExt + "'")) {
      state.SkipWithError("wine reg query failed");
      return;
    }
    state.PauseTiming();
    StopServer();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_WineRegQueryPeer)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace kestrova::bench

int main(int argc, char** argv) { return kestrova::bench::RunWithApplication(argc, argv); }
