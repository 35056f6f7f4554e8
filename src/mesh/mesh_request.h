#pragma once

#include <cstdint>
#include <string>

#include "mesh/mesh_format.h"
#include "request/frame.h"
#include "request/render_exit.h"
#include "request/words.h"

namespace quatdepth {

// Everything one quatdepth-mesh run was asked for.
struct MeshRequest {
  Frame view;                // the view parameters matter; the rest stay default
  int32_t resolution = 0;    // cells along the box's longest edge (required)
  int refine = 6;            // bisection steps a vertex
  int64_t maxTriangles = 0;  // 0: keep every triangle
  int threads = 0;           // 0: every core
  std::string output;        // "-" for standard output
  MeshFormat format = MeshFormat::kStl;
};

// Parses the command line (argv[0] is the program) into `request`, its
// --params files read (a picture's, a mesh's or 'name = value' lines; of
// a file's parameters only the view's are taken). -1 when the run goes on,
// else the exit status (kRenderSuccess after --help, kRenderUsage,
// kRenderCannotRead for a --params file that cannot be read) after
// "quatdepth-mesh: MESSAGE" on standard error.
int parseMeshOptions(int argc, const char *const *argv, MeshRequest *request);

// The same for a command line already in words (its files read), the
// refusal in *error instead of on standard error (only --help prints).
int parseMeshWords(const CommandWords &command, MeshRequest *request, std::string *error);

}  // namespace quatdepth
