#include "output/row_stream_run.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <unistd.h>

#include "output/depth_row.h"
#include "settings/positional_settings.h"
#include "settings/settings_limits.h"

namespace quatdepth {
namespace {

ExitStatus reportWriteFailure(int error) {
  std::fprintf(stderr, "quatdepth: cannot write to standard output: %s\n",
               std::strerror(error));
  return kExitWriteFailed;
}

// A developer's switch for comparing paths; refused when this CPU cannot
// run the named one, so a comparison never silently measures another.
bool chooseSearchPath(const char *name, SearchPath *path) {
  if (!name || !*name) return true;
  if (parseSearchPath(name, path) && isSearchPathSupported(*path)) return true;
  std::printf("quatdepth: QUATDEPTH_SEARCH_PATH is %s; the search paths this CPU runs are", name);
  for (SearchPath candidate : kAllSearchPaths)
    if (isSearchPathSupported(candidate)) std::printf(" %s", searchPathName(candidate));
  std::printf("\n");
  std::fflush(stdout);
  return false;
}

// The value row and the byte buffer of one record, zero-filled; either is
// null when it cannot be had.
struct RowBuffers {
  std::unique_ptr<int32_t[]> values;
  std::unique_ptr<uint8_t[]> bytes;
};

RowBuffers takeRowBuffers(size_t valueCount, size_t byteCount) {
  return {std::unique_ptr<int32_t[]>(new (std::nothrow) int32_t[valueCount]()),
          std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[byteCount]())};
}

// Writes all `count` bytes with as few write calls as the descriptor
// allows, so a run killed between rows leaves only whole records. Returns
// 0 or the error.
int writeWhole(int fd, const uint8_t *bytes, size_t count) {
  while (count > 0) {
    const ssize_t written = write(fd, bytes, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return 0;
}

}  // namespace

ExitStatus writeDepthRows(const RenderSettings *s, SearchPath path, FILE *out) {
  // 64-bit sizes: no width can overflow the buffer arithmetic.
  const size_t width = static_cast<size_t>(s->width);
  const size_t recordBytes = depthRowBytes(width);
  RowBuffers buffers = takeRowBuffers(width + 1, recordBytes + 1);
  if (!buffers.values || !buffers.bytes) {
    std::fputs("\nCan't allocate memory \n", out);
    std::fflush(out);
    return kExitNoMemory;
  }
  // The tables only save time: without room for them the vector search
  // computes every level itself and writes the same bytes.
  LevelTables tables;
  RowScratch rowScratch;
  // The scratch serves only the tables.
  if (path != SearchPath::kScalar && buildLevelTables(s, &tables) && tables.sinA)
    makeRowScratch(s, &rowScratch);

  // Records bypass the stream's buffer from here on, so whatever it holds
  // must go first.
  if (std::fflush(out) != 0) return reportWriteFailure(errno);
  const int fd = fileno(out);
  int32_t *values = buffers.values.get();
  uint8_t *bytes = buffers.bytes.get();
  // A 64-bit row index: a huge rowStep just ends the loop.
  for (int64_t row = s->firstRow; row < s->height; row += s->rowStep) {
    values[0] = static_cast<int32_t>(row);
    findRowDepthsOn(path, s, {&tables, &rowScratch}, values[0], values + 1);
    encodeRow(values, bytes, width + 1);
    const int error = writeWhole(fd, bytes, recordBytes);
    if (error != 0) return reportWriteFailure(error);
  }
  return kExitSuccess;
}

int runQuatdepth(int argc, const char *const *argv) {
  RenderSettings settings;
  ViewAngles angles;
  initSettings(&settings, argv, argc, &angles);

  if (const std::optional<LimitViolation> refusal = firstViolatedLimit(&settings, &angles)) {
    std::fputs(refusal->message.c_str(), stdout);
    std::fflush(stdout);
    return kExitBadParameter;
  }
  SearchPath path = fastestSearchPath();
  if (!chooseSearchPath(std::getenv("QUATDEPTH_SEARCH_PATH"), &path))
    return kExitBadParameter;
  return writeDepthRows(&settings, path, stdout);
}

}  // namespace quatdepth
