// Fuzzes the record decoder and merger of quatdepth-image: any bytes, any
// width and height, fed in pieces of any size, must be taken or refused
// without undefined behaviour, and exactly as when fed in one piece.
//
// Input: width (1 byte), height (1 byte), piece size (1 byte), stream.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "image/row_merge.h"

namespace {

struct Outcome {
  bool ok;
  std::string error;
  std::string cutShort;
  quatdepth::DepthImage rows;
};

Outcome merge(int32_t width, int32_t height, const uint8_t *data, size_t size,
              size_t piece) {
  Outcome outcome{true, "", "", {}};
  if (!quatdepth::initDepthImage(&outcome.rows, width, height, &outcome.error)) std::abort();
  quatdepth::RowStreamDecoder decoder;
  decoder.source = "fuzz";
  for (size_t at = 0; at < size && outcome.ok; at += piece) {
    size_t take = size - at < piece ? size - at : piece;
    outcome.ok = quatdepth::feedRowStream(&outcome.rows, &decoder, data + at, take, &outcome.error);
  }
  if (outcome.ok) outcome.ok = quatdepth::finishRowStream(outcome.rows, decoder, &outcome.error,
                                                           &outcome.cutShort);
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  const int32_t width = data[0] % 40;
  const int32_t height = data[1] % 40;
  const size_t piece = static_cast<size_t>(data[2]) + 1;
  data += 3;
  size -= 3;

  Outcome whole = merge(width, height, data, size, size ? size : 1);
  Outcome pieces = merge(width, height, data, size, piece);
  if (whole.ok != pieces.ok || whole.error != pieces.error || whole.cutShort != pieces.cutShort)
    std::abort();
  if (whole.rows.depths != pieces.rows.depths || whole.rows.received != pieces.rows.received)
    std::abort();

  int64_t received = 0;
  for (uint8_t r : whole.rows.received) received += r;
  if (received != whole.rows.rowsReceived) std::abort();
  // Only a last record cut short may leave bytes over.
  if (whole.ok && (size % (4 * (static_cast<size_t>(width) + 1)) != 0) == whole.cutShort.empty())
    std::abort();
  for (size_t i = 0; i < whole.rows.depths.size(); ++i) {
    int32_t depth = whole.rows.depths[i];
    if (depth < -1 || depth >= (1 << 24)) std::abort();
    if (depth != -1 && !whole.rows.received[i / (width ? static_cast<size_t>(width) : 1)])
      std::abort();
  }
  if (!whole.ok && whole.error.rfind("fuzz: byte ", 0) != 0) std::abort();
  return 0;
}
