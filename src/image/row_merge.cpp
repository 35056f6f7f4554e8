#include "image/row_merge.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "output/depth_row.h"

namespace quatdepth {
namespace {

constexpr const char *kSizeSuspects = " (are --width and --height right?)";

// How quatdepth's own texts begin: its refusal of a parameter, and its
// allocation failure. Neither can begin a record.
constexpr std::string_view kMessageStarts[] = {"quatdepth: ", "\nCan't allocate memory"};
// A message longer than this is cut here.
constexpr size_t kMaxMessageBytes = 240;

size_t recordBytes(const DepthImage &rows) {
  return depthRowBytes(static_cast<size_t>(rows.width));
}

std::string at(const RowStreamDecoder &decoder, uint64_t offset) {
  return decoder.source + ": byte " + std::to_string(offset) + ": ";
}

// Checks the first `count` bytes (up to 4) of one value: a non-negative
// value has only odd bytes up to 0x7F; -1 is FF x 4.
bool validValueBytes(const uint8_t *bytes, size_t count, size_t *badByte) {
  for (size_t j = 0; j < count; ++j) {
    const bool valid = bytes[0] == kNoSurfaceByte
                           ? bytes[j] == kNoSurfaceByte
                           : bytes[j] % 2 == 1 && bytes[j] <= 0x7F;
    if (!valid) return *badByte = j, false;
  }
  return true;
}

int32_t decodeValue(const uint8_t *bytes) {
  if (bytes[0] == kNoSurfaceByte) return -1;
  int32_t decoded = 0;
  for (size_t j = 0; j < 4; ++j) decoded = decoded * 64 + (bytes[j] - 1) / 2;
  return decoded;
}

// The first invalid byte among `count` bytes of records; false if none.
bool findInvalidByte(const uint8_t *bytes, size_t count, size_t *badByte) {
  for (size_t v = 0; v < count; v += 4) {
    size_t j = 0;
    if (!validValueBytes(bytes + v, std::min<size_t>(4, count - v), &j))
      return *badByte = v + j, true;
  }
  return false;
}

std::string invalidByteError(const RowStreamDecoder &decoder, uint64_t offset,
                             uint8_t byte) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", byte);
  return at(decoder, offset) + "the byte " + hex + " is in no valid record" +
         kSizeSuspects;
}

// Whether `text` starts like one of quatdepth's texts: all of a start when
// no more text comes, else as far as it goes.
bool startsLikeMessage(std::string_view text, bool ended) {
  for (std::string_view start : kMessageStarts) {
    if (ended && text.size() < start.size()) continue;
    const size_t n = std::min(text.size(), start.size());
    if (text.substr(0, n) == start.substr(0, n)) return true;
  }
  return false;
}

// Decides on the text read so far: true with the error to report (its
// line, or the record's own error when it is no message after all), false
// while more text may still settle it.
bool messageVerdict(const RowStreamDecoder &decoder, bool ended, std::string *error) {
  std::string_view text = decoder.message;
  ended = ended || text.size() >= kMaxMessageBytes;
  if (!startsLikeMessage(text, ended)) {
    *error = decoder.heldError;
    return true;
  }
  if (!text.empty() && text[0] == '\n') text.remove_prefix(1);
  const size_t end = text.find('\n');
  if (end == std::string_view::npos && !ended) return false;
  std::string line(text.substr(0, end));
  while (!line.empty() && line.back() == ' ') line.pop_back();
  *error = at(decoder, decoder.offset) + "quatdepth's message, not rows: " + line;
  return true;
}

void startMessage(RowStreamDecoder *decoder, const uint8_t *bytes, size_t count,
                  std::string heldError) {
  decoder->readingMessage = true;
  decoder->message.assign(bytes, bytes + std::min(count, kMaxMessageBytes));
  decoder->heldError = std::move(heldError);
}

// Takes one whole record. Returns false with an error, or with
// decoder->readingMessage set when the record starts like quatdepth's text.
bool takeRecord(DepthImage *rows, RowStreamDecoder *decoder, const uint8_t *record,
                std::string *error) {
  const size_t bytes = recordBytes(*rows);
  size_t badByte = 0;
  if (findInvalidByte(record, bytes, &badByte)) {
    std::string invalid = invalidByteError(*decoder, decoder->offset + badByte, record[badByte]);
    const std::string_view text(reinterpret_cast<const char *>(record), bytes);
    if (startsLikeMessage(text, false)) {
      startMessage(decoder, record, bytes, std::move(invalid));
      return !messageVerdict(*decoder, false, error);
    }
    *error = std::move(invalid);
    return false;
  }
  std::vector<int32_t> &values = decoder->values;
  values.resize(static_cast<size_t>(rows->width) + 1);
  for (size_t v = 0; v < values.size(); ++v) values[v] = decodeValue(record + 4 * v);

  const int32_t row = values[0];
  if (row < 0 || row >= rows->height) {
    *error = at(*decoder, decoder->offset) + "row index " + std::to_string(row) +
             " is not a row of an image " + std::to_string(rows->height) + " rows high" +
             kSizeSuspects;
    return false;
  }
  const size_t r = static_cast<size_t>(row);
  int32_t *target = rows->depths.data() + r * static_cast<size_t>(rows->width);
  if (rows->received[r]) {
    if (!std::equal(values.begin() + 1, values.end(), target)) {
      *error = at(*decoder, decoder->offset) + "row " + std::to_string(row) +
               " arrived before with different depths";
      return false;
    }
    return true;
  }
  std::copy(values.begin() + 1, values.end(), target);
  rows->received[r] = 1;
  ++rows->rowsReceived;
  return true;
}

}  // namespace

bool feedRowStream(DepthImage *rows, RowStreamDecoder *decoder,
                   const uint8_t *data, size_t size, std::string *error) {
  const size_t bytesPerRecord = recordBytes(*rows);
  while (size > 0) {
    if (decoder->readingMessage) {
      const size_t take = std::min(size, kMaxMessageBytes - decoder->message.size());
      decoder->message.append(data, data + take);
      return !messageVerdict(*decoder, false, error);
    }
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
    if (!takeRecord(rows, decoder, record, error)) return false;
    decoder->partial.clear();
    if (decoder->readingMessage) continue;  // the rest of the piece is its text
    decoder->offset += bytesPerRecord;
  }
  return true;
}

bool finishRowStream(const DepthImage &rows, const RowStreamDecoder &decoder,
                     std::string *error, std::string *cutShort) {
  cutShort->clear();
  if (decoder.readingMessage) return !messageVerdict(decoder, true, error);
  const std::vector<uint8_t> &partial = decoder.partial;
  if (partial.empty()) return true;
  size_t badByte = 0;
  if (findInvalidByte(partial.data(), partial.size(), &badByte)) {
    RowStreamDecoder ended = decoder;
    startMessage(&ended, partial.data(), partial.size(),
                 invalidByteError(decoder, decoder.offset + badByte, partial[badByte]));
    messageVerdict(ended, true, error);
    return false;
  }
  *cutShort = at(decoder, decoder.offset) + "the stream ends " +
              std::to_string(partial.size()) + " bytes into a record of " +
              std::to_string(recordBytes(rows)) + kSizeSuspects;
  return true;
}

}  // namespace quatdepth
