// The desktop import on a generated desktop of about 1,000 MIME types and 300 applications:
// reading the databases, and reading plus importing into a new store.

#include <benchmark/benchmark.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/DesktopDatabases.h"
#include "platform/SqliteStore.h"
#include "store/DesktopImport.h"

namespace kestrova::bench {
namespace {

constexpr int kTypes = 1000;
constexpr int kApps = 300;

std::string g_root;
double g_firstReadMs = 0;

void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// The figures count only if the reader gives what GIO gives, type by type.
void CheckAgainstGio(const DesktopSnapshot& snapshot) {
  int differ = 0;
  for (const DesktopMimeType& type : snapshot.mimeTypes) {
    if (type.extensions.empty()) continue;
    std::vector<std::string> all;
    GList* apps = g_app_info_get_all_for_type(type.name.c_str());
    for (GList* item = apps; item; item = item->next)
      all.emplace_back(g_app_info_get_id(G_APP_INFO(item->data)));
    g_list_free_full(apps, g_object_unref);
    std::string def;
    if (GAppInfo* info = g_app_info_get_default_for_type(type.name.c_str(), FALSE)) {
      if (!g_desktop_app_info_get_is_hidden(G_DESKTOP_APP_INFO(info)))
        def = g_app_info_get_id(info);
      g_object_unref(info);
    }
    differ += all != type.applications || def != type.defaultApplication;
  }
  if (differ) {
    std::fprintf(stderr, "the reader differs from GIO for %d types\n", differ);
    std::exit(1);
  }
}

// A desktop as a distribution has it: each type with a comment and one or two extensions,
// each application taking a dozen types, a default for every tenth type.
void GenerateDesktop() {
  namespace fs = std::filesystem;
  g_root =
      (fs::temp_directory_path() / ("kestrova-bench-desktop-" + std::to_string(getpid()))).string();
  fs::remove_all(g_root);
  fs::create_directories(g_root + "/data/mime/packages");
  fs::create_directories(g_root + "/data/applications");
  fs::create_directories(g_root + "/home");
  fs::create_directories(g_root + "/config");
  std::string xml =
      "<?xml version=\"1.0\"?>\n<mime-info "
      "xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
  for (int i = 0; i < kTypes; ++i) {
    const std::string n = std::to_string(i);
    xml += "<mime-type type=\"application/x-bench-" + n + "\"><comment>Bench document " + n +
           "</comment><glob pattern=\"*.bn" + n + "\"/>" +
           (i % 2 ? "<glob pattern=\"*.bx" + n + "\"/>" : std::string()) + "</mime-type>\n";
  }
  Write(g_root + "/data/mime/packages/bench.xml", xml + "</mime-info>\n");
  for (int a = 0; a < kApps; ++a) {
    std::string types;
    for (int k = 0; k < 12; ++k)
      types += "application/x-bench-" + std::to_string((a * 37 + k * 83) % kTypes) + ";";
    Write(g_root + "/data/applications/bench-app-" + std::to_string(a) + ".desktop",
          "[Desktop Entry]\nType=Application\nName=Bench App " + std::to_string(a) +
              "\nExec=/bin/true --open %U\nMimeType=" + types + "\n");
  }
  std::string defaults = "[Default Applications]\n";
  for (int i = 0; i < kTypes; i += 10)
    defaults += "application/x-bench-" + std::to_string(i) + "=bench-app-" +
                std::to_string(i % kApps) + ".desktop\n";
  Write(g_root + "/config/mimeapps.list", defaults);
  const std::string quiet = " >/dev/null 2>&1";
  if (std::system(
          ("PKGSYSTEM_ENABLE_FSYNC=0 update-mime-database '" + g_root + "/data/mime'" + quiet)
              .c_str()) != 0 ||
      std::system(
          ("update-desktop-database -q '" + g_root + "/data/applications'" + quiet).c_str()) != 0) {
    std::fprintf(stderr, "cannot index the generated desktop\n");
    std::exit(1);
  }
  setenv("XDG_DATA_DIRS", (g_root + "/data").c_str(), 1);
  setenv("XDG_DATA_HOME", (g_root + "/home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (g_root + "/config").c_str(), 1);
  // GIO and the MIME database load once per process: that first read, measured alone.
  const auto start = std::chrono::steady_clock::now();
  const DesktopSnapshot first = ReadDesktopDatabases();
  g_firstReadMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  benchmark::DoNotOptimize(first.mimeTypes.data());
  CheckAgainstGio(first);
}

void BM_DesktopRead(benchmark::State& state) {
  std::size_t types = 0, apps = 0;
  for (auto _ : state) {
    const DesktopSnapshot desktop = ReadDesktopDatabases();
    types = desktop.mimeTypes.size();
    apps = desktop.applications.size();
  }
  state.counters["types"] = static_cast<double>(types);
  state.counters["apps"] = static_cast<double>(apps);
  state.counters["first_read_ms"] = g_firstReadMs;
}
BENCHMARK(BM_DesktopRead)->Unit(benchmark::kMillisecond);

// Writing a snapshot read beforehand into a new store: the import's own share.
void BM_DesktopWrite(benchmark::State& state) {
  const DesktopSnapshot desktop = ReadDesktopDatabases();
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string path = g_root + "/write" + std::to_string(n++) + ".db";
    state.ResumeTiming();
    auto engine = OpenSqliteStore(path);
    benchmark::DoNotOptimize(ImportDesktop(*engine, desktop).written);
    state.PauseTiming();
    engine.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DesktopWrite)->Unit(benchmark::kMillisecond);

// Reading the desktop and importing it into a new store, as a first start does.
void BM_DesktopImportNewStore(benchmark::State& state) {
  int n = 0;
  int written = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string path = g_root + "/store" + std::to_string(n++) + ".db";
    state.ResumeTiming();
    const DesktopSnapshot desktop = ReadDesktopDatabases();
    auto engine = OpenSqliteStore(path);
    written = ImportDesktop(*engine, desktop).written;
    state.PauseTiming();
    engine.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    state.ResumeTiming();
  }
  state.counters["keys"] = written;
}
BENCHMARK(BM_DesktopImportNewStore)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova::bench

int main(int argc, char** argv) {
  kestrova::bench::GenerateDesktop();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(kestrova::bench::g_root);
  return 0;
}
