#include "main/render_main.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "julia/row_depths.h"
#include "output/depth_row.h"
#include "settings/settings_limits.h"

namespace quatdepth {
namespace {

ExitStatus reportWriteFailure(int error) {
  std::fprintf(stderr, "quatdepth: cannot write to standard output: %s\n",
               std::strerror(error));
  return kExitWriteFailed;
}

}  // namespace

ExitStatus renderRows(const RenderSettings *s, FILE *out) {
  // 64-bit sizes: no width can overflow the buffer arithmetic.
  const size_t width = static_cast<size_t>(s->width);
  const size_t recordBytes = depthRowBytes(width);
  auto *values = static_cast<int32_t *>(std::calloc(width + 1, sizeof(int32_t)));
  auto *bytes = static_cast<uint8_t *>(std::calloc(recordBytes + 1, 1));
  if (!values || !bytes) {
    std::free(values);
    std::free(bytes);
    std::fputs("\nCan't allocate memory \n", out);
    std::fflush(out);
    return kExitNoMemory;
  }

  ExitStatus status = kExitSuccess;
  // A 64-bit row index: a huge rowStep just ends the loop.
  for (int64_t row = s->firstRow; row < s->height; row += s->rowStep) {
    values[0] = static_cast<int32_t>(row);
    findRowDepths(s, values[0], values + 1);
    encodeRow(values, bytes, width + 1);
    if (std::fwrite(bytes, 1, recordBytes, out) != recordBytes) {
      status = reportWriteFailure(errno);
      break;
    }
  }
  if (status == kExitSuccess && std::fflush(out) != 0)
    status = reportWriteFailure(errno);

  std::free(values);
  std::free(bytes);
  return status;
}

int renderMain(int argc, const char *const *argv) {
  RenderSettings settings;
  ViewAngles angles;
  initSettings(&settings, argv, argc, &angles);

  char message[256];
  if (!checkSettingsLimits(&settings, &angles, message, sizeof message)) {
    std::fputs(message, stdout);
    std::fflush(stdout);
    return kExitBadParameter;
  }
  return renderRows(&settings, stdout);
}

}  // namespace quatdepth
