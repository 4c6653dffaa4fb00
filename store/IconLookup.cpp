#include "store/IconLookup.h"

#include <QString>
#include <limits>

#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova {

namespace {

// The DefaultIcon key's name relative to its file type's key, derived from the layout so
// that the name lives in one place. The relative open matters when the file type's key
// was found by the relative retry, which an absolute path cannot reproduce.
std::string DefaultIconSubkey() {
  const std::string progId = "x";
  return layout::DefaultIconKey(progId).substr(layout::ProgIdKey(progId).size() + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int32_t ParseIconIndex(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return kUnreadableIndex;
  // The magnitude is bounded by 2^31 (the most negative value) as digits come in, so no
  // text however long can overflow it.
  const int64_t limit = negative ? int64_t{1} << 31 : std::numeric_limits<int32_t>::max();
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0 || digit >= base) return kUnreadableIndex;
    value = value * base + digit;
    if (value > limit) return kUnreadableIndex;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

IconLocation ParseDefaultIcon(const std::string& text) {
  std::string t = text;
  size_t p = t.rfind(',');
  if (p == std::string::npos) return {t, 0};
  if (p > 0) {
    const size_t q = t.rfind(',', p - 1);
    if (q != std::string::npos) {
      t.erase(p);
      p = q;
    }
  }
  const int32_t index = ParseIconIndex(t.substr(p + 1));
  if (index == kUnreadableIndex) return {t, 0};
  return {t.substr(0, p), index};
}

AssocLookup::AssocLookup(std::shared_ptr<IconSource> source) : m_source(std::move(source)) {}

void AssocLookup::SetExtension(const std::string& text) {
  if (text == m_extension) return;
  m_extension = text;
  if (!m_extension.empty() && m_extension.front() != '.') m_extension.insert(0, 1, '.');
  LookUp();
}

void AssocLookup::LookUp() {
  m_extDescription.clear();
  m_iconFile.clear();
  m_iconIndex = 0;
  // Dropping our references only: a window that shows one of these keeps its own.
  m_largeIcon = QImage();
  m_smallIcon = QImage();
  if (m_extension.empty() || m_extension == ".") return;

  bool found = false;
  try {
    found = ReadAndExtract();
  } catch (...) {
    StockIcon();
    throw;
  }
  if (!found) StockIcon();
}

bool AssocLookup::ReadAndExtract() {
  AssocStore store(AssocStore::Access::ReadOnly);
  store.SetRoot(RootKey::ClassesRoot);
  if (!store.OpenPath(layout::ExtKey(std::string_view(m_extension).substr(1)), false)) return false;
  m_extDescription = store.GetText(layout::DefaultValueName);
  if (m_extDescription.empty()) return false;
  if (!store.OpenPath(layout::ProgIdKey(m_extDescription), false)) {
    // A ProgID that is itself a path (a leading backslash) only opens as it stands.
    store.ClosePath();
    if (!store.OpenPath(m_extDescription, false)) return false;
  }
  bool found = false;
  if (store.OpenPath(DefaultIconSubkey(), false)) {
    m_iconFile = store.GetText(layout::DefaultValueName);
    if (!m_iconFile.empty()) {
      const IconLocation location = ParseDefaultIcon(m_iconFile);
      m_iconFile = location.file;
      m_iconIndex = location.index;
      if (auto icons = m_source->Extract(m_iconFile, m_iconIndex)) {
        m_largeIcon = icons->large;
        m_smallIcon = icons->small;
        found = true;
      }
    }
  }
  store.ClosePath();
  return found;
}

void AssocLookup::StockIcon() {
  const bool program =
      QString::fromUtf8(m_extension.data(), static_cast<qsizetype>(m_extension.size()))
          .compare(QLatin1String(".exe"), Qt::CaseInsensitive) == 0;
  const auto icons =
      m_source->Stock(program ? IconSource::kStockApplication : IconSource::kStockDocument);
  m_largeIcon = icons ? icons->large : QImage();
  m_smallIcon = icons ? icons->small : QImage();
}

}  // namespace kestrova
