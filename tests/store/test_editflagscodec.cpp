#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "store/EditFlagsCodec.h"

namespace kestrova {

void PrintTo(const FlagsValue& value, std::ostream* out) {
  *out << std::hex << "0x" << value.bits << (value.tooLarge ? " (too large)" : "");
}

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string FormatBytes(const Bytes& bytes) {
  return FormatEditFlags(StoredEditFlags::FromBytes(bytes));
}

FlagsValue ValueOfBytes(const Bytes& bytes) {
  return EditFlagsValue(StoredEditFlags::FromBytes(bytes));
}

std::vector<std::size_t> SetRows(const DecodedEditFlags& decoded) {
  std::vector<std::size_t> rows;
  for (std::size_t row = 0; row < decoded.rows.size(); ++row)
    if (decoded.rows[row]) rows.push_back(row);
  return rows;
}

using Rows = std::vector<std::size_t>;

TEST(EditFlags, NumberFormIsEightDigitsMostSignificantFirst) {
  EXPECT_EQ(FormatEditFlags(StoredEditFlags::FromNumber(0x10000)), "00010000");
  EXPECT_EQ(FormatEditFlags(StoredEditFlags::FromNumber(0)), "00000000");
  EXPECT_EQ(FormatEditFlags(StoredEditFlags::FromNumber(0xFFFFFFFF)), "FFFFFFFF");
  EXPECT_EQ(FormatEditFlags(StoredEditFlags::FromNumber(0xABC)), "00000ABC");
  EXPECT_EQ(EditFlagsValue(StoredEditFlags::FromNumber(0xFFFFFFFF)),
            (FlagsValue{0xFFFFFFFF, false}));
}

TEST(EditFlags, ByteFormKeepsStoredOrderButReadsFirstByteLeastSignificant) {
  // The same flag spelled two ways: the text is never normalised.
  EXPECT_EQ(FormatBytes({0x00, 0x00, 0x01, 0x00}), "00000100");
  EXPECT_EQ(ValueOfBytes({0x00, 0x00, 0x01, 0x00}), (FlagsValue{0x10000, false}));

  EXPECT_EQ(FormatBytes({0x38, 0x07, 0x00, 0x00}), "38070000");
  EXPECT_EQ(ValueOfBytes({0x38, 0x07, 0x00, 0x00}), (FlagsValue{0x738, false}));

  // Fewer than four bytes leave the high part zero.
  EXPECT_EQ(FormatBytes({0x02, 0x00}), "0200");
  EXPECT_EQ(ValueOfBytes({0x02, 0x00}), (FlagsValue{0x2, false}));

  EXPECT_EQ(FormatBytes({0xAB, 0x0F}), "AB0F");
  EXPECT_EQ(BytesToHex(Bytes{0xFF, 0x00, 0x5C}), "FF005C");
}

TEST(EditFlags, EmptyByteStringIsValidAndMeansNoFlags) {
  EXPECT_EQ(FormatBytes({}), "");
  EXPECT_EQ(ValueOfBytes({}), (FlagsValue{0, false}));
  auto decoded = DecodeEditFlags(ValueOfBytes({}));
  EXPECT_FALSE(decoded.refused);
  EXPECT_EQ(SetRows(decoded), Rows{});
}

TEST(EditFlags, BytesBeyondTheFourthCountOnlyWhenNotZero) {
  const Bytes zeroTail{0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(FormatBytes(zeroTail), "010000000000");
  EXPECT_EQ(ValueOfBytes(zeroTail), (FlagsValue{0x1, false}));
  EXPECT_EQ(SetRows(DecodeEditFlags(ValueOfBytes(zeroTail))), Rows{0});

  const Bytes tooLarge{0x01, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(FormatBytes(tooLarge), "0100000001");
  EXPECT_TRUE(ValueOfBytes(tooLarge).tooLarge);
  auto decoded = DecodeEditFlags(ValueOfBytes(tooLarge));
  EXPECT_TRUE(decoded.refused);
  EXPECT_EQ(SetRows(decoded), Rows{});
}

TEST(EditFlags, DecodesEachRowFromItsBit) {
  EXPECT_EQ(SetRows(DecodeEditFlags({0x10000})), Rows{15});
  EXPECT_EQ(SetRows(DecodeEditFlags({0x738})), (Rows{3, 4, 5, 8, 9, 10}));
  // Every named bit below the limit at once: rows 0 to 17, and nothing from 0x4000 or 0x80000.
  auto all = DecodeEditFlags({0xFFFFF});
  EXPECT_FALSE(all.refused);
  EXPECT_EQ(SetRows(all), (Rows{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}));
}

TEST(EditFlags, BitsWithoutARowSetNothing) {
  for (std::uint32_t bits : {0x4000u, 0x80000u}) {
    auto decoded = DecodeEditFlags({bits});
    EXPECT_FALSE(decoded.refused) << bits;
    EXPECT_EQ(SetRows(decoded), Rows{}) << bits;
  }
}

TEST(EditFlags, LimitIsNoRecentDocsAlone) {
  auto atLimit = DecodeEditFlags({0x100000});
  EXPECT_FALSE(atLimit.refused);
  EXPECT_EQ(SetRows(atLimit), Rows{18});

  for (std::uint32_t bits : {0x100001u, 0x110000u, 0xFFFFFFFFu}) {
    auto decoded = DecodeEditFlags({bits});
    EXPECT_TRUE(decoded.refused) << bits;
    EXPECT_EQ(SetRows(decoded), Rows{}) << bits;
  }
  EXPECT_STREQ(EditFlagsRefusal, "Could not translate Edit Flags.");
}

TEST(EditFlags, TableRowsAreSingleBitsInAscendingOrder) {
  for (std::size_t row = 1; row < EditFlagTable.size(); ++row) {
    std::uint32_t bit = EditFlagTable[row].bit;
    EXPECT_EQ(bit & (bit - 1), 0u) << EditFlagTable[row].name;
    EXPECT_GT(bit, EditFlagTable[row - 1].bit) << EditFlagTable[row].name;
  }
  EXPECT_EQ(EditFlagTable.back().bit, EditFlagsDecodeLimit);
}

TEST(EditFlags, OtherKindsCarryNoFlags) {
  StoredEditFlags text{ValueKind::Text, {}, 0x10000};
  EXPECT_EQ(FormatEditFlags(text), "");
  EXPECT_EQ(EditFlagsValue(text), (FlagsValue{0, false}));
}

}  // namespace
}  // namespace kestrova
