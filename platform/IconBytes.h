#pragma once
// Bounds-checked reads of little-endian fields from untrusted bytes, for the icon parsers.

#include <QByteArrayView>
#include <cstdint>
#include <optional>

namespace kestrova::bytes {

// Every read checks its whole range against the bytes present, in 64-bit arithmetic so
// that no offset or length from a file can wrap; a read that does not fit gives nullopt.
class Reader {
 public:
  explicit Reader(QByteArrayView data) : m_data(data) {}

  qsizetype Size() const { return m_data.size(); }

  std::optional<QByteArrayView> View(int64_t offset, int64_t length) const {
    if (offset < 0 || length < 0 || offset > m_data.size() || length > m_data.size() - offset)
      return std::nullopt;
    return m_data.sliced(static_cast<qsizetype>(offset), static_cast<qsizetype>(length));
  }
  std::optional<uint16_t> U16(int64_t offset) const {
    const auto v = View(offset, 2);
    if (!v) return std::nullopt;
    return static_cast<uint16_t>(Byte(*v, 0) | Byte(*v, 1) << 8);
  }
  std::optional<uint32_t> U32(int64_t offset) const {
    const auto v = View(offset, 4);
    if (!v) return std::nullopt;
    return Byte(*v, 0) | Byte(*v, 1) << 8 | Byte(*v, 2) << 16 | Byte(*v, 3) << 24;
  }
  std::optional<int32_t> I32(int64_t offset) const {
    const auto v = U32(offset);
    if (!v) return std::nullopt;
    return static_cast<int32_t>(*v);
  }
  std::optional<uint32_t> U32BE(int64_t offset) const {
    const auto v = View(offset, 4);
    if (!v) return std::nullopt;
    return Byte(*v, 0) << 24 | Byte(*v, 1) << 16 | Byte(*v, 2) << 8 | Byte(*v, 3);
  }

 private:
  static uint32_t Byte(QByteArrayView v, qsizetype i) { return static_cast<uint8_t>(v[i]); }
  QByteArrayView m_data;
};

}  // namespace kestrova::bytes
