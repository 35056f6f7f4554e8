#include "image/row_merge.h"

#include <algorithm>
#include <cstdio>

#include "output/depth_row.h"

namespace quatdepth {
namespace {

size_t recordBytes(const MergedRows &rows) {
  return depthRowBytes(static_cast<size_t>(rows.width));
}

std::string at(const RowStreamDecoder &decoder, uint64_t offset) {
  return decoder.source + ": byte " + std::to_string(offset) + ": ";
}

// Decodes one four-byte value; false when no valid record holds them.
// A valid non-negative value has only odd bytes up to 0x7F; -1 is FF x 4.
bool decodeValue(const uint8_t *bytes, int32_t *value, size_t *badByte) {
  if (bytes[0] == kNoSurfaceByte) {
    for (size_t j = 1; j < 4; ++j)
      if (bytes[j] != kNoSurfaceByte) return *badByte = j, false;
    *value = -1;
    return true;
  }
  int32_t decoded = 0;
  for (size_t j = 0; j < 4; ++j) {
    if (bytes[j] % 2 == 0 || bytes[j] > 0x7F) return *badByte = j, false;
    decoded = decoded * 64 + (bytes[j] - 1) / 2;
  }
  *value = decoded;
  return true;
}

bool takeRecord(MergedRows *rows, const RowStreamDecoder &decoder,
                const uint8_t *record, uint64_t recordOffset,
                std::vector<int32_t> *values, std::string *error) {
  const size_t count = static_cast<size_t>(rows->width) + 1;
  for (size_t v = 0; v < count; ++v) {
    size_t badByte = 0;
    if (!decodeValue(record + 4 * v, &(*values)[v], &badByte)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", record[4 * v + badByte]);
      *error = at(decoder, recordOffset + 4 * v + badByte) + "the byte " + hex +
               " is in no valid record (is --width right?)";
      return false;
    }
  }
  const int32_t row = (*values)[0];
  if (row < 0 || row >= rows->height) {
    *error = at(decoder, recordOffset) + "row index " + std::to_string(row) +
             " is not a row of an image " + std::to_string(rows->height) +
             " rows high (is --height right?)";
    return false;
  }
  const size_t r = static_cast<size_t>(row);
  int32_t *target = rows->depths.data() + r * static_cast<size_t>(rows->width);
  if (rows->received[r]) {
    if (!std::equal(values->begin() + 1, values->end(), target)) {
      *error = at(decoder, recordOffset) + "row " + std::to_string(row) +
               " arrived before with different depths";
      return false;
    }
    return true;
  }
  std::copy(values->begin() + 1, values->end(), target);
  rows->received[r] = 1;
  ++rows->rowsReceived;
  return true;
}

}  // namespace

bool initMergedRows(MergedRows *rows, int32_t width, int32_t height,
                    std::string *error) {
  if (width < 0 || height < 0 ||
      int64_t{width} * height > kMaxMergedPixels) {
    *error = "an image of " + std::to_string(width) + " x " +
             std::to_string(height) +
             " pixels is out of range (at most 2^28 pixels)";
    return false;
  }
  rows->width = width;
  rows->height = height;
  rows->depths.assign(static_cast<size_t>(width) * static_cast<size_t>(height), -1);
  rows->received.assign(static_cast<size_t>(height), 0);
  rows->rowsReceived = 0;
  return true;
}

bool feedRowStream(MergedRows *rows, RowStreamDecoder *decoder,
                   const uint8_t *data, size_t size, std::string *error) {
  const size_t bytesPerRecord = recordBytes(*rows);
  std::vector<int32_t> values(static_cast<size_t>(rows->width) + 1);
  while (size > 0) {
    const uint8_t *record;
    if (!decoder->partial.empty() || size < bytesPerRecord) {
      // A record split between pieces: gather it first.
      size_t take = std::min(size, bytesPerRecord - decoder->partial.size());
      decoder->partial.insert(decoder->partial.end(), data, data + take);
      data += take;
      size -= take;
      if (decoder->partial.size() < bytesPerRecord) return true;
      record = decoder->partial.data();
    } else {
      record = data;
      data += bytesPerRecord;
      size -= bytesPerRecord;
    }
    if (!takeRecord(rows, *decoder, record, decoder->offset, &values, error))
      return false;
    decoder->offset += bytesPerRecord;
    decoder->partial.clear();
  }
  return true;
}

bool finishRowStream(const MergedRows &rows, const RowStreamDecoder &decoder,
                     std::string *error) {
  if (decoder.partial.empty()) return true;
  *error = at(decoder, decoder.offset) + "the stream ends " +
           std::to_string(decoder.partial.size()) + " bytes into a record of " +
           std::to_string(recordBytes(rows)) + " (cut short, or is --width right?)";
  return false;
}

}  // namespace quatdepth
