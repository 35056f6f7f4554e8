#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/depth_picture.h"
#include "image/row_merge.h"
#include "output/depth_row.h"

namespace quatdepth {
namespace {

std::vector<uint8_t> record(std::vector<int32_t> values) {
  std::vector<uint8_t> bytes(4 * values.size() + 1);
  encodeRow(values.data(), bytes.data(), values.size());
  bytes.pop_back();
  return bytes;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto &part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct Merge {
  DepthImage rows;
  RowStreamDecoder decoder;
  std::string error;
  std::string cutShort;
  Merge(int32_t width, int32_t height) {
    decoder.source = "in.rows";
    EXPECT_TRUE(initDepthImage(&rows, width, height, &error));
  }
  // Feeds `bytes` in pieces of `piece` bytes, then ends the stream.
  bool feed(const std::vector<uint8_t> &bytes, size_t piece) {
    for (size_t at = 0; at < bytes.size(); at += piece) {
      size_t size = std::min(piece, bytes.size() - at);
      if (!feedRowStream(&rows, &decoder, bytes.data() + at, size, &error)) return false;
    }
    return finishRowStream(rows, decoder, &error, &cutShort);
  }
};

TEST(RowMerge, PlacesRowsByIndexHoweverTheStreamIsCut) {
  const auto stream = concat({record({2, 5, -1}), record({0, 1, 2}), record({2, 5, -1})});
  for (size_t piece : {size_t{1}, size_t{3}, size_t{5}, size_t{12}, size_t{1000}}) {
    Merge merge(2, 3);
    ASSERT_TRUE(merge.feed(stream, piece)) << merge.error;
    EXPECT_EQ(merge.rows.depths, (std::vector<int32_t>{1, 2, -1, -1, 5, -1}));
    EXPECT_EQ(merge.rows.received, (std::vector<uint8_t>{1, 0, 1}));
    EXPECT_EQ(merge.rows.rowsReceived, 2);
  }
}

TEST(RowMerge, ZeroWidthRecordsAreJustRowIndices) {
  Merge merge(0, 4);
  ASSERT_TRUE(merge.feed(concat({record({3}), record({1})}), 1)) << merge.error;
  EXPECT_EQ(merge.rows.received, (std::vector<uint8_t>{0, 1, 0, 1}));
}

TEST(RowMerge, RefusesEveryKindOfBadRecordNamingTheOffset) {
  auto evenByte = record({1, 7});
  evenByte[6] = 0x10;
  auto highByte = record({1, 7});
  highByte[5] = 0x81;
  auto halfNegative = record({1, -1});
  halfNegative[7] = 0x01;
  const struct {
    std::vector<uint8_t> stream;
    std::string expected;
  } cases[] = {
      {concat({record({0, 3}), evenByte}), "in.rows: byte 14: the byte 0x10 is in no valid record"},
      {highByte, "byte 5: the byte 0x81"},
      {halfNegative, "byte 7: the byte 0x01"},
      {record({2, 3}), "byte 0: row index 2 is not a row of an image 2 rows high"},
      {record({-1, 3}), "byte 0: row index -1"},
      {concat({record({1, 3}), record({1, 4})}), "byte 8: row 1 arrived before with different depths"},
  };
  for (const auto &c : cases) {
    Merge merge(1, 2);
    EXPECT_FALSE(merge.feed(c.stream, 3));
    EXPECT_NE(merge.error.find(c.expected), std::string::npos) << merge.error;
  }
}

TEST(RowMerge, WideRecordsInTinyPiecesTakeTimeLinearInTheStream) {
  // 4 MB of one record, a byte at a time: work per piece that grew with
  // the width would take hours here (the test's time limit fails it).
  const int32_t width = 1000000;
  std::vector<int32_t> values(width + 1, -1);
  values[0] = 1;
  values[width] = 77;
  Merge merge(width, 2);
  ASSERT_TRUE(merge.feed(record(values), 1)) << merge.error;
  EXPECT_EQ(merge.rows.rowsReceived, 1);
  EXPECT_EQ(merge.rows.depths.back(), 77);
}

TEST(RowMerge, QuatdepthsMessageReadsTheSameInAnyPieces) {
  const std::string text = "quatdepth: fineSteps is 0, but it must be at least 1\n";
  const std::vector<uint8_t> stream = concat({record({0, 5}), {text.begin(), text.end()}});
  for (size_t piece : {size_t{1}, size_t{5}, size_t{1000}}) {
    Merge merge(1, 2);
    EXPECT_FALSE(merge.feed(stream, piece));
    EXPECT_EQ(merge.error, "in.rows: byte 8: quatdepth's message, not rows: "
                           "quatdepth: fineSteps is 0, but it must be at least 1");
  }
  // Text that only starts like it is the invalid byte it holds.
  Merge other(1, 2);
  EXPECT_FALSE(other.feed(concat({record({0, 5}), {'q', 'u', 'a', 'x', 1, 1, 1, 1}}), 3));
  EXPECT_NE(other.error.find("byte 11: the byte 0x78"), std::string::npos) << other.error;
}

TEST(RowMerge, RefusesImpossibleSizes) {
  DepthImage rows;
  std::string error;
  EXPECT_FALSE(initDepthImage(&rows, -1, 5, &error));
  EXPECT_FALSE(initDepthImage(&rows, 1 << 16, 1 << 13, &error));
  EXPECT_NE(error.find("at most 2^28 pixels"), std::string::npos);
  // Row indices have 24 bits: one row more would alias row 0.
  EXPECT_TRUE(initDepthImage(&rows, 0, 1 << 24, &error));
  EXPECT_FALSE(initDepthImage(&rows, 0, (1 << 24) + 1, &error));
  EXPECT_NE(error.find("at most 2^24"), std::string::npos);
}

TEST(DepthPicture, BackgroundIsDarkerThanAnySurfaceAndContrastFollowsDepths) {
  Merge merge(4, 2);
  ASSERT_TRUE(merge.feed(concat({record({0, -1, 1000, 1001, 1002}),
                                 record({1, 1003, 1004, 1010, -1})}), 64));
  for (Look look : {Look::kLit, Look::kDepth}) {
    std::vector<uint8_t> picture = renderPicture(merge.rows, look);
    EXPECT_EQ(picture[0], 0);
    EXPECT_EQ(picture[7], 0);
    for (size_t i : {1u, 2u, 3u, 4u, 5u, 6u}) EXPECT_GE(picture[i], kDarkestSurface);
  }
  // Depth look: the nearest present depth is white, the farthest darkest.
  std::vector<uint8_t> depth = renderPicture(merge.rows, Look::kDepth);
  EXPECT_EQ(depth[1], 255);
  EXPECT_EQ(depth[6], kDarkestSurface);
  EXPECT_GT(depth[2], depth[3]);
}

}  // namespace
}  // namespace quatdepth
