#include "regfile/RegTreeWriter.h"

#include <algorithm>

#include "regfile/RegTextEncoding.h"
#include "regfile/RegValueText.h"
#include "store/RegistryRules.h"

namespace kestrova {
namespace {

constexpr std::size_t kFlushBytes = 1 << 20;

}  // namespace

RegTreeWriter::RegTreeWriter(RegistryEngine& engine, Sink sink)
    : m_engine(engine), m_sink(std::move(sink)) {
  m_out.reserve(kFlushBytes + 64 * 1024);
}

void RegTreeWriter::Begin() { m_out += "REGEDIT4\r\n"; }

void RegTreeWriter::Tree(KeyRef key, std::string_view path) {
  m_path.assign(path);
  Walk(key, 0);
}

void RegTreeWriter::End() {
  m_out += "\r\n";
  Flush();
}

void RegTreeWriter::Flush() {
  if (m_out.empty()) return;
  m_sink(m_out);
  m_out.clear();
}

void RegTreeWriter::Visit(KeyRef key) {
  constexpr int64_t kBitmapIds = int64_t{1} << 26;
  bool repeated;
  if (key.id >= 0 && key.id < kBitmapIds) {
    const auto at = static_cast<std::size_t>(key.id);
    if (m_seen.size() <= at) m_seen.resize(std::max(at + 1, m_seen.size() * 2));
    repeated = m_seen[at];
    m_seen[at] = true;
  } else {
    repeated = !m_seenLarge.insert(key.id).second;
  }
  if (repeated || key.depth > kMaxKeyDepth) {
    const std::string shown = Abbreviate(m_path, 200);
    throw StoreError(
        "The store is damaged: its key tree " +
            std::string(repeated ? "reaches a key twice" : "goes deeper than 512 levels") +
            " (at \"" + shown + "\"), so it has a cycle. The export was stopped.",
        StoreErrorKind::Damaged);
  }
}

void RegTreeWriter::Walk(KeyRef key, std::size_t depth) {
  Visit(key);
  ++m_keys;
  m_out += "\r\n[";
  m_out += m_path;
  m_out += "]\r\n";
  m_engine.VisitValues(key, [this](const RegValue& value) {
    AppendRegValue(m_out, value.name, value.type, value.data);
    ++m_values;
    if (m_out.size() >= kFlushBytes) Flush();
  });

  if (m_levels.size() <= depth) m_levels.emplace_back();
  std::vector<ChildKey>& children = m_levels[depth];
  children.clear();
  m_engine.Children(key, children);
  const std::size_t pathLength = m_path.size();
  for (const ChildKey& child : children) {
    m_path += '\\';
    m_path += child.name;
    Walk(child.ref, depth + 1);
    m_path.resize(pathLength);
  }
}

}  // namespace kestrova
