#include "platform/PeResources.h"

#include <optional>

#include "platform/IconBytes.h"

namespace kestrova::pe {

namespace {

constexpr uint32_t kRtIcon = 3;
constexpr uint32_t kRtGroupIcon = 14;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint16_t kLangNeutral = 0;
constexpr uint16_t kLangEnglishUs = 0x409;
// Real groups hold a handful of sizes; more is a hostile file asking for work.
constexpr uint16_t kMaxGroupEntries = 256;

struct Section {
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawPointer = 0;
  uint32_t rawSize = 0;
};

struct DirEntry {
  uint32_t name = 0;
  uint32_t target = 0;
  bool Named() const { return name & kHighBit; }
  uint16_t Id() const { return static_cast<uint16_t>(name); }
  bool IsDirectory() const { return target & kHighBit; }
  uint32_t Offset() const { return target & ~kHighBit; }
};

class PeImage {
 public:
  static std::optional<PeImage> Open(QByteArrayView file) {
    bytes::Reader in(file);
    const auto mz = in.View(0, 2);
    const auto peOffset = in.U32(0x3C);
    if (!mz || *mz != QByteArrayView("MZ") || !peOffset) return std::nullopt;
    const int64_t pe = *peOffset;
    const auto signature = in.View(pe, 4);
    const auto sectionCount = in.U16(pe + 6);
    const auto optionalSize = in.U16(pe + 20);
    if (!signature || *signature != QByteArrayView("PE\0\0", 4) || !sectionCount || !optionalSize)
      return std::nullopt;

    const int64_t optional = pe + 24;
    const auto magic = in.U16(optional);
    if (!magic) return std::nullopt;
    int64_t directoryCountField = 0;
    if (*magic == 0x10B) {
      directoryCountField = 92;
    } else if (*magic == 0x20B) {
      directoryCountField = 108;
    } else {
      return std::nullopt;
    }
    const int64_t resourceField = directoryCountField + 4 + 2 * 8;  // data directory #2
    const auto directoryCount = in.U32(optional + directoryCountField);
    if (!directoryCount || *directoryCount < 3 || resourceField + 8 > *optionalSize)
      return std::nullopt;
    const auto resourceRva = in.U32(optional + resourceField);
    if (!resourceRva || *resourceRva == 0) return std::nullopt;

    const int64_t table = optional + *optionalSize;
    if (!in.View(table, int64_t{*sectionCount} * 40)) return std::nullopt;
    PeImage image(file);
    image.m_resourceRva = *resourceRva;
    image.m_sections.reserve(*sectionCount);
    for (int64_t i = 0; i < *sectionCount; ++i) {
      const int64_t header = table + i * 40;
      image.m_sections.push_back(
          {*in.U32(header + 12), *in.U32(header + 8), *in.U32(header + 20), *in.U32(header + 16)});
    }
    return image;
  }

  // The bytes at [rva, rva + length), when they lie wholly inside one section's raw data
  // and inside the file.
  std::optional<QByteArrayView> At(int64_t rva, int64_t length) const {
    if (rva < 0 || length < 0) return std::nullopt;
    for (const Section& s : m_sections) {
      // Some linkers leave the virtual size 0; the raw size then bounds the section.
      const int64_t span = s.virtualSize ? s.virtualSize : s.rawSize;
      if (rva < s.virtualAddress || rva >= int64_t{s.virtualAddress} + span) continue;
      const int64_t inSection = rva - s.virtualAddress;
      if (length > int64_t{s.rawSize} - inSection) return std::nullopt;
      return m_in.View(int64_t{s.rawPointer} + inSection, length);
    }
    return std::nullopt;
  }

  std::optional<uint32_t> U32At(int64_t rva) const {
    const auto v = At(rva, 4);
    if (!v) return std::nullopt;
    return bytes::Reader(*v).U32(0);
  }

  // The entries of the resource directory at `offset` from the resource root.
  std::optional<std::vector<DirEntry>> Directory(uint32_t offset) const {
    const int64_t rva = int64_t{m_resourceRva} + offset;
    const auto header = At(rva, 16);
    if (!header) return std::nullopt;
    bytes::Reader h(*header);
    const int64_t count = int64_t{*h.U16(12)} + *h.U16(14);
    // A count larger than the bytes behind it is a lie; refuse the whole directory.
    const auto entries = At(rva + 16, count * 8);
    if (!entries) return std::nullopt;
    bytes::Reader e(*entries);
    std::vector<DirEntry> list;
    list.reserve(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) list.push_back({*e.U32(i * 8), *e.U32(i * 8 + 4)});
    return list;
  }

  // The subdirectory under the numbered entry `id` of `dir`.
  std::optional<std::vector<DirEntry>> SubdirectoryById(const std::vector<DirEntry>& dir,
                                                        uint32_t id) const {
    for (const DirEntry& entry : dir) {
      if (entry.Named() || entry.Id() != id) continue;
      if (!entry.IsDirectory()) return std::nullopt;
      return Directory(entry.Offset());
    }
    return std::nullopt;
  }

  // The data of a name's language directory: language neutral, else US English, else the
  // first language listed.
  std::optional<QByteArrayView> LanguageData(const DirEntry& nameEntry) const {
    if (!nameEntry.IsDirectory()) return std::nullopt;
    const auto languages = Directory(nameEntry.Offset());
    if (!languages || languages->empty()) return std::nullopt;
    const DirEntry* chosen = &languages->front();
    for (uint16_t wanted : {kLangEnglishUs, kLangNeutral}) {
      for (const DirEntry& entry : *languages) {
        if (!entry.Named() && entry.Id() == wanted) {
          chosen = &entry;
          break;
        }
      }
    }
    // The third level must hold data; a directory there would lead deeper than the tree.
    if (chosen->IsDirectory()) return std::nullopt;
    const auto dataEntry = At(int64_t{m_resourceRva} + chosen->Offset(), 16);
    if (!dataEntry) return std::nullopt;
    bytes::Reader d(*dataEntry);
    return At(*d.U32(0), *d.U32(4));
  }

  std::optional<std::vector<DirEntry>> GroupNames() const {
    const auto root = Directory(0);
    if (!root) return std::nullopt;
    return SubdirectoryById(*root, kRtGroupIcon);
  }

  std::optional<std::vector<DirEntry>> IconNames() const {
    const auto root = Directory(0);
    if (!root) return std::nullopt;
    return SubdirectoryById(*root, kRtIcon);
  }

 private:
  explicit PeImage(QByteArrayView file) : m_in(file) {}

  bytes::Reader m_in;
  uint32_t m_resourceRva = 0;
  std::vector<Section> m_sections;
};

}  // namespace

bool LooksLikePe(QByteArrayView file) { return PeImage::Open(file).has_value(); }

int CountIconGroups(QByteArrayView file) {
  const auto image = PeImage::Open(file);
  if (!image) return 0;
  const auto groups = image->GroupNames();
  return groups ? static_cast<int>(groups->size()) : 0;
}

std::vector<QByteArrayView> IconGroupImages(QByteArrayView file, int32_t index) {
  std::vector<QByteArrayView> images;
  const auto image = PeImage::Open(file);
  if (!image) return images;
  const auto groups = image->GroupNames();
  if (!groups) return images;

  const DirEntry* group = nullptr;
  if (index >= 0) {
    if (static_cast<size_t>(index) < groups->size()) group = &(*groups)[static_cast<size_t>(index)];
  } else {
    // Resource identifiers are 16-bit; compare them with numbered entries only (a named
    // entry's low bits are a string offset, not an identifier).
    const int64_t id = -int64_t{index};
    for (const DirEntry& entry : *groups) {
      if (id <= 0xFFFF && !entry.Named() && entry.Id() == id) {
        group = &entry;
        break;
      }
    }
  }
  if (!group) return images;

  const auto groupData = image->LanguageData(*group);
  if (!groupData) return images;
  // GRPICONDIR: the .ico header, then 14-byte entries whose last field is the RT_ICON id.
  bytes::Reader g(*groupData);
  const auto reserved = g.U16(0);
  const auto type = g.U16(2);
  const auto count = g.U16(4);
  if (!reserved || *reserved != 0 || !type || *type != 1 || !count) return images;
  if (!g.View(6, int64_t{*count} * 14)) return images;
  const auto icons = image->IconNames();
  if (!icons) return images;

  const uint16_t used = std::min(*count, kMaxGroupEntries);
  for (uint16_t i = 0; i < used; ++i) {
    const uint16_t id = *g.U16(6 + i * 14 + 12);
    for (const DirEntry& entry : *icons) {
      if (entry.Named() || entry.Id() != id) continue;
      // A group naming an icon that is missing or broken keeps its other sizes.
      if (const auto data = image->LanguageData(entry)) images.push_back(*data);
      break;
    }
  }
  return images;
}

}  // namespace kestrova::pe
