#pragma once
// Builders for the icon tests: DIB and PNG icon images, .ico files and minimal PE32/PE32+ files.

#include <QBuffer>
#include <QImage>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace kestrova::test {

inline void Put16(std::string& b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2, '\0');
  b[at] = static_cast<char>(v & 0xff);
  b[at + 1] = static_cast<char>((v >> 8) & 0xff);
}
inline void Put32(std::string& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xffff);
  Put16(b, at + 2, v >> 16);
}
inline void Add16(std::string& b, uint32_t v) { Put16(b, b.size(), v); }
inline void Add32(std::string& b, uint32_t v) { Put32(b, b.size(), v); }

// What a test pixel should be: its colour (a palette index at depths up to 8, else ARGB)
// and whether the AND mask marks it transparent.
struct DibSpec {
  int width = 16;
  int height = 16;
  int depth = 32;
  std::vector<QRgb> palette;  // for depths up to 8
  std::function<uint32_t(int x, int y)> pixel = [](int, int) { return 0u; };
  std::function<bool(int x, int y)> masked = [](int, int) { return false; };
};

// A DIB icon image: BITMAPINFOHEADER (height doubled), colours, XOR rows and AND rows,
// both bottom-up and padded to 4 bytes.
inline std::string DibImage(const DibSpec& s) {
  std::string b;
  Add32(b, 40);
  Add32(b, static_cast<uint32_t>(s.width));
  Add32(b, static_cast<uint32_t>(s.height * 2));
  Add16(b, 1);
  Add16(b, static_cast<uint32_t>(s.depth));
  Add32(b, 0);  // BI_RGB
  Add32(b, 0);
  Add32(b, 0);
  Add32(b, 0);
  Add32(b, s.depth <= 8 ? static_cast<uint32_t>(s.palette.size()) : 0);
  Add32(b, 0);
  if (s.depth <= 8) {
    for (QRgb c : s.palette) Add32(b, c & 0x00ffffff);
  }
  const size_t xorStride = ((s.width * s.depth + 31) / 32) * 4;
  const size_t andStride = ((s.width + 31) / 32) * 4;
  for (int row = s.height - 1; row >= 0; --row) {
    std::string line(xorStride, '\0');
    for (int x = 0; x < s.width; ++x) {
      const uint32_t v = s.pixel(x, row);
      if (s.depth == 32) {
        Put32(line, x * 4, v);
      } else if (s.depth == 24) {
        line[x * 3] = static_cast<char>(v & 0xff);
        line[x * 3 + 1] = static_cast<char>((v >> 8) & 0xff);
        line[x * 3 + 2] = static_cast<char>((v >> 16) & 0xff);
      } else {
        const int perByte = 8 / s.depth;
        const int shift = 8 - s.depth * (x % perByte + 1);
        line[x / perByte] = static_cast<char>(line[x / perByte] | (v << shift));
      }
    }
    b += line;
  }
  for (int row = s.height - 1; row >= 0; --row) {
    std::string line(andStride, '\0');
    for (int x = 0; x < s.width; ++x) {
      if (s.masked(x, row)) line[x / 8] = static_cast<char>(line[x / 8] | (0x80 >> (x % 8)));
    }
    b += line;
  }
  return b;
}

// A solid 32-bit DIB in one opaque colour.
inline std::string SolidDib(int side, QRgb color, int depth = 32) {
  DibSpec s;
  s.width = side;
  s.height = side;
  s.depth = depth;
  if (depth <= 8) {
    s.palette = {color};
    s.pixel = [](int, int) { return 0u; };
  } else {
    s.pixel = [color](int, int) { return static_cast<uint32_t>(color | 0xff000000u); };
  }
  return DibImage(s);
}

inline std::string PngImage(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

inline std::string SolidPng(int side, QRgb color) {
  QImage image(side, side, QImage::Format_ARGB32);
  image.fill(color);
  return PngImage(image);
}

inline uint32_t Crc32(const std::string& bytes) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    c ^= byte;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return c ^ 0xFFFFFFFFu;
}

// `bytes` as a gzip file (as .svgz files are), from the deflate stream inside qCompress's
// zlib output.
inline std::string Gzip(const std::string& bytes) {
  const QByteArray zlib = qCompress(QByteArray::fromStdString(bytes));
  // qCompress: 4-byte length, 2-byte zlib header, deflate data, 4-byte Adler-32.
  const std::string deflate = zlib.mid(6, zlib.size() - 10).toStdString();
  std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
  out += deflate;
  Add32(out, Crc32(bytes));
  Add32(out, static_cast<uint32_t>(bytes.size()));
  return out;
}

// A PNG whose header (with a valid checksum) claims width by height, followed by no
// usable image data: for refusing images by their declared size alone.
inline std::string PngClaiming(uint32_t width, uint32_t height) {
  auto crc = [](const std::string& bytes) { return Crc32(bytes); };
  auto be32 = [](uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  auto chunk = [&](const std::string& type, const std::string& data) {
    return be32(static_cast<uint32_t>(data.size())) + type + data + be32(crc(type + data));
  };
  const std::string ihdr = be32(width) + be32(height) + std::string("\x08\x06\x00\x00\x00", 5);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IEND", "");
}

// An .ico file; the directory's size bytes are `claimed` (the images' own headers are the
// truth, as in many real files), 0 meaning "say nothing useful".
inline std::string IcoFile(const std::vector<std::string>& images, int claimed = 0,
                           uint16_t type = 1) {
  std::string b;
  Add16(b, 0);
  Add16(b, type);
  Add16(b, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (const std::string& image : images) {
    b.push_back(static_cast<char>(claimed));
    b.push_back(static_cast<char>(claimed));
    b.push_back(0);
    b.push_back(0);
    Add16(b, 1);
    Add16(b, 32);
    Add32(b, static_cast<uint32_t>(image.size()));
    Add32(b, offset);
    offset += static_cast<uint32_t>(image.size());
  }
  for (const std::string& image : images) b += image;
  return b;
}

// A resource's name: a string (named entry) or a 16-bit identifier.
using ResName = std::variant<std::u16string, uint16_t>;

struct IconGroupSpec {
  ResName name;
  std::vector<std::string> images;  // each becomes an RT_ICON of its own
  std::vector<uint16_t> languages = {0x409};
};

// A minimal PE file with one ".rsrc" section holding icon groups, laid out as linkers do:
// type directory, then names (named entries first, sorted, then identifiers ascending),
// then languages. `at` gives the file offsets of interesting parts for hostile edits.
struct BuiltPe {
  std::string bytes;
  std::map<std::string, size_t> at;
};

inline BuiltPe BuildPe(bool pe64, const std::vector<IconGroupSpec>& groupSpecs) {
  struct Leaf {
    uint16_t language;
    std::string data;
  };
  struct Name {
    ResName name;
    std::vector<Leaf> leaves;
  };
  std::vector<IconGroupSpec> groups = groupSpecs;
  std::stable_sort(groups.begin(), groups.end(),
                   [](const IconGroupSpec& a, const IconGroupSpec& b) {
                     if (a.name.index() != b.name.index()) return a.name.index() < b.name.index();
                     return a.name < b.name;
                   });

  // RT_ICON entries numbered from 1 in order of appearance; each group's directory names them.
  std::vector<Name> icons;
  std::vector<Name> groupNames;
  uint16_t nextIcon = 1;
  for (const IconGroupSpec& g : groups) {
    std::string dir;
    Add16(dir, 0);
    Add16(dir, 1);
    Add16(dir, static_cast<uint32_t>(g.images.size()));
    for (const std::string& image : g.images) {
      const uint16_t id = nextIcon++;
      dir.append(4, '\0');  // width, height, colours, reserved: readers must not trust them
      Add16(dir, 1);
      Add16(dir, 32);
      Add32(dir, static_cast<uint32_t>(image.size()));
      Add16(dir, id);
      icons.push_back({ResName(id), {{0x409, image}}});
    }
    Name name{g.name, {}};
    for (uint16_t lang : g.languages) name.leaves.push_back({lang, dir});
    groupNames.push_back(name);
  }

  constexpr uint32_t kSectionRva = 0x1000;
  constexpr uint32_t kFileAlign = 0x200;
  BuiltPe out;
  std::string sec;
  auto directory = [&](size_t named, size_t ids) {
    const size_t pos = sec.size();
    sec.append(12, '\0');
    Add16(sec, static_cast<uint32_t>(named));
    Add16(sec, static_cast<uint32_t>(ids));
    sec.append(8 * (named + ids), '\0');
    return pos;
  };
  struct Pending {
    size_t entryField;  // where the name field of the pointing entry lives
    std::u16string text;
  };
  std::vector<Pending> strings;
  struct PendingData {
    size_t dataEntryPos;
    const std::string* data;
  };
  std::vector<PendingData> datas;
  std::vector<size_t> leafEntries;  // the language entries, patched once data entries exist
  std::vector<const std::string*> leafData;

  const size_t root = directory(0, 2);
  out.at["root"] = root;
  std::vector<std::pair<uint16_t, std::vector<Name>*>> types = {{3, &icons}, {14, &groupNames}};
  for (size_t t = 0; t < types.size(); ++t) {
    std::vector<Name>& names = *types[t].second;
    const size_t named = std::count_if(names.begin(), names.end(),
                                       [](const Name& n) { return n.name.index() == 0; });
    const size_t typeDir = directory(named, names.size() - named);
    out.at[t == 0 ? "iconDir" : "groupDir"] = typeDir;
    Put32(sec, root + 16 + t * 8, types[t].first);
    Put32(sec, root + 16 + t * 8 + 4, 0x80000000u | static_cast<uint32_t>(typeDir));
    for (size_t n = 0; n < names.size(); ++n) {
      const size_t entry = typeDir + 16 + n * 8;
      if (const auto* id = std::get_if<uint16_t>(&names[n].name)) {
        Put32(sec, entry, *id);
      } else {
        strings.push_back({entry, std::get<std::u16string>(names[n].name)});
      }
      const size_t langDir = directory(0, names[n].leaves.size());
      if (t == 1) out.at["groupLangDir" + std::to_string(n)] = langDir;
      Put32(sec, entry + 4, 0x80000000u | static_cast<uint32_t>(langDir));
      for (size_t l = 0; l < names[n].leaves.size(); ++l) {
        Put32(sec, langDir + 16 + l * 8, names[n].leaves[l].language);
        leafEntries.push_back(langDir + 16 + l * 8 + 4);
        leafData.push_back(&names[n].leaves[l].data);
      }
    }
  }
  for (size_t i = 0; i < leafEntries.size(); ++i) {
    const size_t pos = sec.size();
    sec.append(16, '\0');
    Put32(sec, leafEntries[i], static_cast<uint32_t>(pos));
    datas.push_back({pos, leafData[i]});
  }
  for (const Pending& s : strings) {
    const size_t pos = sec.size();
    Add16(sec, static_cast<uint32_t>(s.text.size()));
    for (char16_t c : s.text) Add16(sec, c);
    Put32(sec, s.entryField, 0x80000000u | static_cast<uint32_t>(pos));
  }
  for (size_t i = 0; i < datas.size(); ++i) {
    while (sec.size() % 4) sec.push_back('\0');
    const size_t pos = sec.size();
    sec += *datas[i].data;
    Put32(sec, datas[i].dataEntryPos, kSectionRva + static_cast<uint32_t>(pos));
    Put32(sec, datas[i].dataEntryPos + 4, static_cast<uint32_t>(datas[i].data->size()));
  }
  // The first group's data entry (after all RT_ICON leaves), for hostile edits.
  out.at["groupDataEntry0"] = datas[icons.size()].dataEntryPos;

  std::string& b = out.bytes;
  b.assign(kFileAlign, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x40);
  const size_t pe = 0x40;
  b.replace(pe, 4, std::string("PE\0\0", 4));
  const uint16_t optionalSize = pe64 ? 240 : 224;
  Put16(b, pe + 4, pe64 ? 0x8664 : 0x14c);
  Put16(b, pe + 6, 1);
  Put16(b, pe + 20, optionalSize);
  Put16(b, pe + 22, 0x2102);
  const size_t optional = pe + 24;
  Put16(b, optional, pe64 ? 0x20B : 0x10B);
  const size_t directories = optional + (pe64 ? 112 : 96);
  Put32(b, directories - 4, 16);
  Put32(b, directories + 16, kSectionRva);
  Put32(b, directories + 20, static_cast<uint32_t>(sec.size()));
  const size_t section = optional + optionalSize;
  b.replace(section, 8, std::string(".rsrc\0\0\0", 8));
  const uint32_t rawSize =
      static_cast<uint32_t>((sec.size() + kFileAlign - 1) / kFileAlign * kFileAlign);
  Put32(b, section + 8, static_cast<uint32_t>(sec.size()));
  Put32(b, section + 12, kSectionRva);
  Put32(b, section + 16, rawSize);
  Put32(b, section + 20, kFileAlign);
  out.at["peHeader"] = pe;
  out.at["sectionHeader"] = section;
  out.at["resourceDirectory"] = directories + 16;
  sec.resize(rawSize, '\0');
  for (auto& [name, offset] : out.at) {
    if (name != "peHeader" && name != "sectionHeader" && name != "resourceDirectory")
      offset += kFileAlign;
  }
  b += sec;
  return out;
}

}  // namespace kestrova::test
