#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quatdepth {

// The rows of one image, put together from depth row streams by the row
// index every record carries.
struct MergedRows {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<int32_t> depths;    // row-major; -1 where there is no surface
  std::vector<uint8_t> received;  // per row: has a record arrived?
  int64_t rowsReceived = 0;       // distinct rows
};

// The largest image the merger takes: a gigabyte of depths.
constexpr int64_t kMaxMergedPixels = int64_t{1} << 28;

// Sizes `rows` for a width x height image with no rows yet. Returns false
// (with a message) for sizes out of range.
bool initMergedRows(MergedRows *rows, int32_t width, int32_t height,
                    std::string *error);

// Reads one stream that may arrive in pieces: keeps the part of a record
// that a piece cuts off, and the offset for messages.
struct RowStreamDecoder {
  std::string source;  // file name for messages
  uint64_t offset = 0; // bytes consumed so far
  std::vector<uint8_t> partial;
};

// Feeds the next piece of a stream. Returns false at the first invalid
// record, with a message naming the source and byte offset: a byte no
// record contains, a row index that is not a row of the image, or a row
// that arrived before with other contents.
bool feedRowStream(MergedRows *rows, RowStreamDecoder *decoder,
                   const uint8_t *data, size_t size, std::string *error);

// The stream has ended: false when it ends inside a record.
bool finishRowStream(const MergedRows &rows, const RowStreamDecoder &decoder,
                     std::string *error);

}  // namespace quatdepth
