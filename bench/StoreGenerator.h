#pragma once
// Writes a realistic full-size association store for the benchmarks.

#include <string>

namespace kestrova::bench {

struct GeneratedStore {
  int rootKeys = 0;
  int keys = 0;
  int values = 0;
};

// 25,000 extensions, 25,000 file types of 18 keys each with icons, flags, four actions and
// DDE, and a MIME database of 25,000 content types: 50,001 root keys, 500,003 keys and
// 1,000,000 values under HKEY_CLASSES_ROOT.
GeneratedStore GenerateStore(const std::string& path, int fileTypes = 25000);

// The name of the i-th extension (without its dot) and file type of a generated store.
std::string ExtensionName(int i);
std::string FileTypeName(int i);

// Where the benchmarks keep the generated store: $KESTROVA_BENCH_STORE, else bench-store.db.
std::string BenchStorePath();

// Opens the generated store at path, writing it first when it is missing.
void EnsureGeneratedStore(const std::string& path);

}  // namespace kestrova::bench
