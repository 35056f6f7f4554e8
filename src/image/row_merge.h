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
// A record keeps 24 bits of its row index: taller images would alias.
constexpr int32_t kMaxMergedHeight = int32_t{1} << 24;

// Tells whether a width x height image is one the merger can take; false
// with a message naming the limit otherwise.
bool checkMergedSize(int32_t width, int32_t height, std::string *error);

// Sizes `rows` for a width x height image with no rows yet. Returns false
// (with a message) for sizes out of range. Throws std::bad_alloc when the
// memory cannot be had.
bool initMergedRows(MergedRows *rows, int32_t width, int32_t height,
                    std::string *error);

// Reads one stream that may arrive in pieces: keeps the part of a record
// that a piece cuts off, and the offset for messages.
struct RowStreamDecoder {
  std::string source;  // file name for messages
  uint64_t offset = 0; // bytes consumed so far
  std::vector<uint8_t> partial;
  std::vector<int32_t> values;  // one record's values, kept between pieces
  // quatdepth writes its refusals and its allocation failure as text on the
  // same stream: a record that starts like one is read on as that text.
  bool readingMessage = false;
  std::string message;
  std::string heldError;  // the record's own error, if it is no message
};

// Feeds the next piece of a stream. Returns false at the first invalid
// record, with a message naming the source and byte offset: a byte no
// record contains, a row index that is not a row of the image, a row that
// arrived before with other contents, or quatdepth's own message.
bool feedRowStream(MergedRows *rows, RowStreamDecoder *decoder,
                   const uint8_t *data, size_t size, std::string *error);

// The stream has ended. Returns false when its last bytes are invalid. A
// final record cut short but valid so far (a run killed while writing it)
// is not an error: *cutShort then describes it, and its row stays missing.
bool finishRowStream(const MergedRows &rows, const RowStreamDecoder &decoder,
                     std::string *error, std::string *cutShort);

}  // namespace quatdepth
