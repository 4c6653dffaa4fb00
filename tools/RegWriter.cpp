#include "tools/RegWriter.h"

#include "store/RegistryRules.h"
#include "tools/RegReader.h"

namespace kestrova {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::size_t kFlushBytes = 1 << 20;
// Registry editors break hex data once a line reaches this column.
constexpr std::size_t kWrapColumn = 77;

void AppendEscaped(std::string& out, std::string_view text) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char* escape = nullptr;
    switch (text[i]) {
      case '\\':
        escape = "\\\\";
        break;
      case '"':
        escape = "\\\"";
        break;
      case '\r':
        escape = "\\r";
        break;
      case '\n':
        escape = "\\n";
        break;
      default:
        continue;
    }
    out.append(text.substr(start, i - start));
    out.append(escape);
    start = i + 1;
  }
  out.append(text.substr(start));
}

// Quoted text is read back up to its closing quote plus one NUL: only data that ends in
// its one and only NUL comes back byte for byte.
bool SurvivesQuoting(std::string_view data) {
  return !data.empty() && data.find('\0') == data.size() - 1;
}

void AppendHexData(std::string& out, std::string_view data, std::size_t column) {
  if (data.empty()) return;
  std::size_t at = out.size();
  out.resize(at + data.size() * 3 + (data.size() / 25 + 1) * 5);
  char* p = out.data() + at;
  const std::size_t last = data.size() - 1;
  for (std::size_t i = 0; i < last; ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    *p++ = kHexDigits[byte >> 4];
    *p++ = kHexDigits[byte & 0xF];
    *p++ = ',';
    column += 3;
    if (column >= kWrapColumn) {
      *p++ = '\\';
      *p++ = '\r';
      *p++ = '\n';
      *p++ = ' ';
      *p++ = ' ';
      column = 2;
    }
  }
  const auto byte = static_cast<unsigned char>(data[last]);
  *p++ = kHexDigits[byte >> 4];
  *p++ = kHexDigits[byte & 0xF];
  out.resize(static_cast<std::size_t>(p - out.data()));
}

void AppendLowerHex(std::string& out, uint32_t value, int minDigits) {
  char digits[8];
  int n = 0;
  do {
    digits[n++] = kHexDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  for (int i = n; i < minDigits; ++i) out += '0';
  while (n > 0) out += digits[--n];
}

}  // namespace

void AppendRegValue(std::string& out, std::string_view name, uint32_t type, std::string_view data) {
  const std::size_t lineStart = out.size();
  if (name.empty()) {
    out += "@=";
  } else {
    out += '"';
    AppendEscaped(out, name);
    out += "\"=";
  }
  if (type == RegType::Sz && SurvivesQuoting(data)) {
    out += '"';
    AppendEscaped(out, data.substr(0, data.size() - 1));
    out += "\"\r\n";
    return;
  }
  if (type == RegType::Dword && data.size() == 4) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[i]);
    out += "dword:";
    AppendLowerHex(out, value, 8);
    out += "\r\n";
    return;
  }
  if (type == RegType::Binary) {
    out += "hex:";
  } else {
    out += "hex(";
    AppendLowerHex(out, type, 1);
    out += "):";
  }
  AppendHexData(out, data, out.size() - lineStart);
  out += "\r\n";
}

RegExporter::RegExporter(RegistryEngine& engine, Sink sink)
    : m_engine(engine), m_sink(std::move(sink)) {
  m_out.reserve(kFlushBytes + 64 * 1024);
}

void RegExporter::Begin() { m_out += "REGEDIT4\r\n"; }

void RegExporter::Tree(KeyRef key, std::string_view path) {
  m_path.assign(path);
  Walk(key, 0);
}

void RegExporter::End() {
  m_out += "\r\n";
  Flush();
}

void RegExporter::Flush() {
  if (m_out.empty()) return;
  m_sink(m_out);
  m_out.clear();
}

void RegExporter::Visit(KeyRef key) {
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

void RegExporter::Walk(KeyRef key, std::size_t depth) {
  Visit(key);
  m_out += "\r\n[";
  m_out += m_path;
  m_out += "]\r\n";
  m_engine.VisitValues(key, [this](const RegValue& value) {
    AppendRegValue(m_out, value.name, value.type, value.data);
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
