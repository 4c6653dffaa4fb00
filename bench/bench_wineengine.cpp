// The Wine prefix engine on a full-size prefix: opening it and loading one extension, and
// saving one changed value. The prefix is generated in Wine's own format (no Wine needed)
// in a temporary folder: a system.reg of 300,000 keys, about 35 MB.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/WinePrefixStore.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova::bench {
namespace {

constexpr int kExtensions = 60000;
constexpr int kFileTypes = 36000;  // five keys each
constexpr int kClsids = 15000;     // two keys each

void Key(std::string& out, const std::string& path, unsigned long long time) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "] %llu\n#time=%llx\n", time / 10000000ULL - 11644473600ULL, time);
  out += "\n[";
  out += path;
  out += buf;
}

std::string Ext(int i) { return "ext" + std::to_string(i * 7 % 99991); }
std::string Type(int i) { return (i % 9 == 0 ? "App_" : "App.") + std::to_string(i) + ".Doc"; }

// The file Wine would write for such a registry: blocks in its order (sorted, depth first).
std::string GenerateSystemReg() {
  std::string out = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n";
  out += "#arch=win64\n";
  unsigned long long t = 133000000000000000ULL;
  std::vector<std::string> exts;
  for (int i = 0; i < kExtensions; ++i) exts.push_back(Ext(i));
  std::vector<std::pair<std::string, int>> sorted;
  for (int i = 0; i < kExtensions; ++i) sorted.emplace_back(exts[i], i);
  std::sort(sorted.begin(), sorted.end());
  for (const auto& [name, i] : sorted) {
    Key(out, "Software\\\\Classes\\\\." + name, t += 7919);
    out += "@=\"" + Type(i % kFileTypes) + "\"\n\"Content Type\"=\"application/x-" + name + "\"\n";
  }
  std::vector<std::pair<std::string, int>> types;
  for (int i = 0; i < kFileTypes; ++i) types.emplace_back(Type(i), i);
  // Wine's order puts '_' before letters and digits after '.'; close enough to sort by
  // lower case, which these names share.
  std::sort(types.begin(), types.end());
  for (const auto& [name, i] : types) {
    const std::string base = "Software\\\\Classes\\\\" + name;
    Key(out, base, t += 7919);
    out +=
        "@=\"Document of application " + std::to_string(i) + "\"\n\"EditFlags\"=dword:00010000\n";
    Key(out, base + "\\\\DefaultIcon", t += 7919);
    out += "@=\"C:\\\\Apps\\\\" + std::to_string(i) + "\\\\app.exe,1\"\n";
    Key(out, base + "\\\\shell\\\\edit\\\\command", t += 7919);
    out += "@=\"\\\"C:\\\\Apps\\\\" + std::to_string(i) + "\\\\app.exe\\\" /edit \\\"%1\\\"\"\n";
    Key(out, base + "\\\\shell\\\\open", t += 7919);
    out +=
        "\"FriendlyAppName\"=hex(2):41,00,70,00,70,00,6c,00,69,00,63,00,61,00,74,00,69,00,\\\n"
        "  6f,00,6e,00,00,00\n";
    Key(out, base + "\\\\shell\\\\open\\\\command", t += 7919);
    out += "@=\"\\\"C:\\\\Apps\\\\" + std::to_string(i) + "\\\\app.exe\\\" \\\"%1\\\"\"\n";
  }
  std::vector<std::string> clsids;
  for (int i = 0; i < kClsids; ++i) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "{%08x-1234-5678-9abc-%012x}", i * 2654435761u, i);
    clsids.emplace_back(buf);
  }
  std::sort(clsids.begin(), clsids.end());
  for (const std::string& c : clsids) {
    Key(out, "Software\\\\Classes\\\\CLSID\\\\" + c, t += 7919);
    out += "@=\"Generated component " + c + "\"\n";
    Key(out, "Software\\\\Classes\\\\CLSID\\\\" + c + "\\\\InprocServer32", t += 7919);
    out += "@=\"C:\\\\windows\\\\system32\\\\component.dll\"\n\"ThreadingModel\"=\"Both\"\n";
  }
  // Machine keys beyond the classes, as a real prefix has them.
  for (int i = 0; i < 30000; ++i) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "Software\\\\Vendor%03d\\\\Product\\\\Setting%05d", i / 500, i);
    Key(out, buf, t += 7919);
    out += "\"Value\"=dword:0000002a\n\"Path\"=str(2):\"%ProgramFiles%\\\\Vendor\\\\x\"\n";
  }
  return out;
}

std::string g_dir;
std::string ExtensionPath() { return layout::ExtKey(Ext(1234)); }

void Prepare() {
  if (!g_dir.empty()) return;
  // $KESTROVA_BENCH_WINE_DIR keeps the generated prefix there (for profiling); made when
  // it has no system.reg.
  if (const char* keep = std::getenv("KESTROVA_BENCH_WINE_DIR"); keep && *keep) {
    g_dir = keep;
    if (std::filesystem::exists(g_dir + "/system.reg")) return;
    std::filesystem::create_directories(g_dir);
  } else {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kestrova-bench-wine-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    g_dir = pattern;
    std::atexit([] { std::filesystem::remove_all(g_dir); });
  }
  std::ofstream(g_dir + "/system.reg", std::ios::binary) << GenerateSystemReg();
  const std::string user =
      "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
      "\n#arch=win64\n\n[Software\\\\Wine] "
      "1700000000\n#time=1da0000000000000\n\"Version\"=\"win10\"\n";
  std::ofstream(g_dir + "/user.reg", std::ios::binary) << user;
  const std::string userdef =
      "WINE REGISTRY Version 2\n;; All keys relative to "
      "REGISTRY\\\\User\\\\.Default\n\n#arch=win64\n"
      "\n[Control Panel\\\\Desktop] 1700000000\n#time=1da0000000000000\n\"Wallpaper\"=\"\"\n";
  std::ofstream(g_dir + "/userdef.reg", std::ios::binary) << userdef;
}

// What the program does at start on a prefix: open it, list the classes root, and load one
// extension with its file type and the file type's actions.
void BM_WineOpenAndLoad(benchmark::State& state) {
  Prepare();
  std::vector<std::string> list;
  for (auto _ : state) {
    auto engine = OpenWinePrefix(g_dir);
    AssocStore store(engine);
    store.SetRoot(RootKey::ClassesRoot);
    store.OpenPath(layout::RootPath, false);
    store.ListSubkeys(list);
    store.OpenPath(ExtensionPath(), false);
    const std::string type = store.GetText(layout::DefaultValueName);
    benchmark::DoNotOptimize(store.GetText(layout::ContentTypeName));
    store.OpenPath(layout::ProgIdKey(type), false);
    benchmark::DoNotOptimize(store.GetText(layout::DefaultValueName));
    store.OpenPath(layout::ShellKey(type), false);
    std::vector<std::string> verbs;
    store.ListSubkeys(verbs);
    for (const std::string& verb : verbs) {
      store.OpenPath(layout::VerbCommandKey(type, verb), false);
      benchmark::DoNotOptimize(store.GetText(""));
    }
    if (verbs.size() != 2) state.SkipWithError("the extension's file type was not found");
  }
  state.counters["root_keys"] = static_cast<double>(list.size());
  state.counters["file_MB"] =
      static_cast<double>(std::filesystem::file_size(g_dir + "/system.reg")) / 1e6;
}
BENCHMARK(BM_WineOpenAndLoad)->Unit(benchmark::kMillisecond);

// One value changed and saved: system.reg written to a temporary file, flushed, renamed.
void BM_WineSave(benchmark::State& state) {
  Prepare();
  auto engine = OpenWinePrefix(g_dir);
  AssocStore store(engine);
  store.SetRoot(RootKey::ClassesRoot);
  store.OpenPath(ExtensionPath(), false);
  int n = 0;
  for (auto _ : state)
    store.PutText(layout::ContentTypeName, "application/x-changed-" + std::to_string(++n));
}
BENCHMARK(BM_WineSave)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova::bench

BENCHMARK_MAIN();
