#include "bench/StoreGenerator.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <unordered_map>

#include "platform/SqliteStore.h"
#include "store/AssocLayout.h"

namespace kestrova::bench {
namespace {

std::string Dword(uint32_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
}

std::string Sz(std::string_view text) { return std::string(text) + '\0'; }

class Writer {
 public:
  explicit Writer(RegistryEngine& engine)
      : m_engine(engine), m_root(engine.Root(RootKey::ClassesRoot)) {}
  // The key at an absolute path of the layout, made level by level; the levels made for
  // the current file type are remembered so each is created once.
  KeyRef Path(const std::string& path) {
    if (auto it = m_made.find(path); it != m_made.end()) return it->second;
    const auto cut = path.rfind('\\');
    const KeyRef parent = cut == 0 ? m_root : Path(path.substr(0, cut));
    const KeyRef key = Key(parent, std::string_view(path).substr(cut + 1));
    m_made.emplace(path, key);
    return key;
  }
  KeyRef Key(KeyRef parent, std::string_view name) {
    ++m_keys;
    return m_engine.CreateChild(parent, name);
  }
  void Forget() { m_made.clear(); }
  void Text(KeyRef key, std::string_view name, std::string_view text) {
    Set(key, name, RegType::Sz, Sz(text));
  }
  void Set(KeyRef key, std::string_view name, uint32_t type, const std::string& data) {
    ++m_values;
    m_engine.SetValue(key, name, type, data);
  }
  int m_keys = 0;
  int m_values = 0;

 private:
  RegistryEngine& m_engine;
  KeyRef m_root;
  std::unordered_map<std::string, KeyRef> m_made;
};

}  // namespace

std::string ExtensionName(int i) { return "e" + std::to_string(i); }
std::string FileTypeName(int i) {
  return "Vendor" + std::to_string(i % 97) + ".Document." + std::to_string(i);
}

GeneratedStore GenerateStore(const std::string& path, int fileTypes) {
  auto engine = OpenSqliteStore(path);
  Writer w(*engine);
  const KeyRef root = engine->Root(RootKey::ClassesRoot);
  EngineTransaction tx(*engine, true);
  static const char* const kVerbs[] = {"open", "edit", "print", "printto"};
  for (int i = 0; i < fileTypes; ++i) {
    const std::string progId = FileTypeName(i);
    const std::string mime = "application/x-type" + std::to_string(i);
    w.Forget();

    const KeyRef ext = w.Path(layout::ExtKey(ExtensionName(i)));
    w.Text(ext, layout::DefaultValueName, progId);
    w.Text(ext, layout::ContentTypeName, mime);

    const KeyRef type = w.Path(layout::ProgIdKey(progId));
    w.Text(type, layout::DefaultValueName,
           "Vendor " + std::to_string(i % 97) + " document of kind " + std::to_string(i) +
               ", registered by the vendor's installer");
    if (i % 2) {
      w.Set(type, layout::EditFlagsName, RegType::Dword, Dword(0x10000));
    } else {
      w.Set(type, layout::EditFlagsName, RegType::Binary, std::string("\x38\x07\x00\x00", 4));
    }
    w.Text(type, layout::AlwaysShowExtName, "");
    // Values other programs keep beside ours.
    w.Text(type, "FriendlyTypeName",
           "@%SystemRoot%\\system32\\windows.storage.dll,-" + std::to_string(10000 + i));
    w.Text(type, "InfoTip",
           "prop:System.ItemTypeText;System.Size;System.DateModified;System.Author;System.Document."
           "PageCount");
    w.Text(type, "PreviewDetails",
           "prop:*System.DateModified;System.Size;System.Title;System.Author;System.Keywords");
    w.Text(type, "FullDetails",
           "prop:System.PropGroup.Description;System.Title;System.Subject;System.Keywords;System."
           "Comment");
    w.Text(type, "TileInfo", "prop:System.ItemTypeText;*System.Size;*System.DateModified");

    w.Text(w.Path(layout::DefaultIconKey(progId)), layout::DefaultValueName,
           "/usr/share/vendor" + std::to_string(i % 97) + "/icons/document-types/document" +
               std::to_string(i % 50) + ".ico,0");
    w.Text(w.Path(layout::ShellKey(progId)), layout::DefaultValueName, kVerbs[0]);
    for (const char* verb : kVerbs) {
      const KeyRef v = w.Path(layout::VerbKey(progId, verb));
      w.Text(v, layout::DefaultValueName,
             std::string("&") + verb + " with the vendor's application");
      w.Text(v, "MUIVerb", std::string("@%SystemRoot%\\system32\\shell32.dll,-") + verb);
      w.Text(v, "Icon",
             "/usr/share/icons/hicolor/48x48/apps/vendor-application-" + std::to_string(i % 31) +
                 "-launcher.png");
      const KeyRef cmd = w.Path(layout::NewVerbCommandKey(progId, verb));
      w.Text(cmd, layout::DefaultValueName,
             "\"/usr/lib/vendor/application" + std::to_string(i % 31) + "/bin/launcher\" --" +
                 verb + " --new-window --profile=default --remote \"%1\"");
      w.Text(cmd, "DelegateExecute",
             "{" + std::to_string(10000000 + i) + "-3f2a-4b8c-9d1e-5a6b7c8d9e0f}");
    }
    w.Text(w.Path(layout::DdeExecKey(progId, kVerbs[0])), layout::DefaultValueName,
           "[open(\"%1\")]");
    w.Text(w.Path(layout::DdeApplicationKey(progId, kVerbs[0])), layout::DefaultValueName,
           "App" + std::to_string(i % 31));
    w.Text(w.Path(layout::DdeTopicKey(progId, kVerbs[0])), layout::DefaultValueName, "System");
    w.Text(w.Path(layout::DdeIfExecKey(progId, kVerbs[0])), layout::DefaultValueName, "[]");
    // Keys of other programs' handlers.
    const KeyRef shellEx = w.Key(type, "ShellEx");
    w.Text(shellEx, layout::DefaultValueName, "");
    w.Text(w.Key(shellEx, "{8895b1c6-b41f-4c1c-a562-0d564250836f}"), layout::DefaultValueName,
           "{" + std::to_string(i) + "}");
    w.Text(w.Key(type, "CLSID"), layout::DefaultValueName, "{" + std::to_string(200000 + i) + "}");
  }
  w.Forget();
  const KeyRef types = w.Path(layout::ContentTypeDatabaseKey);
  for (int i = 0; i < fileTypes; ++i) {
    w.Text(w.Key(types, "application/x-type" + std::to_string(i)), "Extension",
           "." + ExtensionName(i));
  }
  tx.Commit();
  std::vector<std::string> rootNames;
  engine->ListChildren(root, rootNames);
  return {static_cast<int>(rootNames.size()), w.m_keys, w.m_values};
}

std::string BenchStorePath() {
  const char* env = std::getenv("KESTROVA_BENCH_STORE");
  return env ? env : "bench-store.db";
}

void EnsureGeneratedStore(const std::string& path) {
  if (std::filesystem::exists(path)) return;
  const std::string partial = path + ".partial";
  std::filesystem::remove(partial);
  GenerateStore(partial);
  std::filesystem::rename(partial, path);
  std::filesystem::remove(partial + "-wal");
  std::filesystem::remove(partial + "-shm");
}

}  // namespace kestrova::bench
