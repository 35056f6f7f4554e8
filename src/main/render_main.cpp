#include "main/render_main.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "output/depth_row.h"
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
  std::printf("quatdepth: QUATDEPTH_SEARCH_PATH is %s, but it must be one of "
              "scalar, sse2, avx2, avx512 that this CPU supports\n", name);
  std::fflush(stdout);
  return false;
}

}  // namespace

ExitStatus renderRows(const RenderSettings *s, SearchPath path, FILE *out) {
  // 64-bit sizes: no width can overflow the buffer arithmetic.
  const size_t width = static_cast<size_t>(s->width);
  const size_t recordBytes = depthRowBytes(width);
  auto *values = static_cast<int32_t *>(std::calloc(width + 1, sizeof(int32_t)));
  auto *bytes = static_cast<uint8_t *>(std::calloc(recordBytes + 1, 1));
  LevelTables tables;
  const bool tablesBuilt =
      path == SearchPath::kScalar || buildLevelTables(s, &tables);
  if (!values || !bytes || !tablesBuilt) {
    std::free(values);
    std::free(bytes);
    freeLevelTables(&tables);
    std::fputs("\nCan't allocate memory \n", out);
    std::fflush(out);
    return kExitNoMemory;
  }

  ExitStatus status = kExitSuccess;
  // A 64-bit row index: a huge rowStep just ends the loop.
  for (int64_t row = s->firstRow; row < s->height; row += s->rowStep) {
    values[0] = static_cast<int32_t>(row);
    findRowDepthsOn(path, s, &tables, values[0], values + 1);
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
  freeLevelTables(&tables);
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
  SearchPath path = fastestSearchPath();
  if (!chooseSearchPath(std::getenv("QUATDEPTH_SEARCH_PATH"), &path))
    return kExitBadParameter;
  return renderRows(&settings, path, stdout);
}

}  // namespace quatdepth
