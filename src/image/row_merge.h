#pragma once

// Depth row streams, arriving in pieces, decoded into a DepthImage.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "output/depth_image.h"

namespace quatdepth {

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
bool feedRowStream(DepthImage *rows, RowStreamDecoder *decoder,
                   const uint8_t *data, size_t size, std::string *error);

// The stream has ended. Returns false when its last bytes are invalid. A
// final record cut short but valid so far (a run killed while writing it)
// is not an error: *cutShort then describes it, and its row stays missing.
bool finishRowStream(const DepthImage &rows, const RowStreamDecoder &decoder,
                     std::string *error, std::string *cutShort);

}  // namespace quatdepth
