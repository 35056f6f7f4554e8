// quatdepth-image: merges depth row streams into one image.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/image_files.h"
#include "image/row_merge.h"

namespace quatdepth {
namespace {

enum ImageExit : int {
  kImageSuccess = 0,
  kImageBadInput = 1,   // an invalid stream, or missing rows with --strict
  kImageUsage = 2,      // options that do not make sense
  kImageCannotRead = 3, // an input file cannot be opened or read
  kImageCannotWrite = 4,
};

void report(const std::string &message) {
  std::fprintf(stderr, "quatdepth-image: %s\n", message.c_str());
}

// A "rows received of rows expected" line on a terminal, a few times a second.
struct Progress {
  bool enabled = isatty(STDERR_FILENO) != 0;
  std::chrono::steady_clock::time_point shown{};
  void show(const MergedRows &rows, bool final) {
    if (!enabled) return;
    auto now = std::chrono::steady_clock::now();
    if (!final && now - shown < std::chrono::milliseconds(100)) return;
    shown = now;
    std::fprintf(stderr, "\rquatdepth-image: %lld of %d rows%s",
                 static_cast<long long>(rows.rowsReceived), rows.height,
                 final ? "\n" : "");
  }
};

int readInput(const std::string &name, MergedRows *rows, Progress *progress) {
  const bool standardInput = name == "-";
  FILE *in = standardInput ? stdin : std::fopen(name.c_str(), "rb");
  if (!in) {
    report(name + ": " + std::strerror(errno));
    return kImageCannotRead;
  }
  RowStreamDecoder decoder;
  decoder.source = standardInput ? "standard input" : name;
  std::vector<uint8_t> buffer(1 << 16);
  std::string error;
  int status = kImageSuccess;
  for (;;) {
    size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
    if (got > 0 && !feedRowStream(rows, &decoder, buffer.data(), got, &error)) {
      report(error);
      status = kImageBadInput;
      break;
    }
    progress->show(*rows, false);
    if (got < buffer.size()) {
      if (std::ferror(in)) {
        report(decoder.source + ": " + std::strerror(errno));
        status = kImageCannotRead;
      } else if (!finishRowStream(*rows, decoder, &error)) {
        report(error);
        status = kImageBadInput;
      }
      break;
    }
  }
  if (!standardInput) std::fclose(in);
  return status;
}

int imageMain(int argc, char **argv) {
  CLI::App app{
      "Merges quatdepth depth row streams (files, or standard input when none "
      "or '-' is given) into one image.",
      "quatdepth-image"};
  int32_t width = 300, height = 300;
  std::string output, formatName, lookName = "lit";
  bool strict = false;
  std::vector<std::string> inputs;
  app.add_option("-o,--output", output, "output file, or - for standard output")->required();
  app.add_option("--width", width, "pixels per row of the image (default 300)");
  app.add_option("--height", height, "rows of the image (default 300)");
  app.add_option("--format", formatName,
                 "png (8-bit picture), png16 (depth + 1, 16-bit), pgm (8-bit "
                 "picture) or rows (merged records); default: from the extension");
  app.add_option("--look", lookName, "lit (default) or depth, for png and pgm");
  app.add_flag("--strict", strict, "refuse rows that never arrive instead of drawing background");
  app.add_option("inputs", inputs, "depth row streams");
  // A later option overrides an earlier one, as scripts that add options
  // to a base command expect.
  for (CLI::Option *option : app.get_options())
    if (option->get_name() != "inputs")
      option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    int code = app.exit(e);
    return code == 0 ? kImageSuccess : kImageUsage;
  }

  ImageFormat format;
  if (formatName.empty() ? !imageFormatFromPath(output, &format)
                         : !parseImageFormat(formatName, &format)) {
    report(formatName.empty()
               ? "cannot tell the format from '" + output + "': give --format png, png16, pgm or rows"
               : "unknown --format '" + formatName + "': use png, png16, pgm or rows");
    return kImageUsage;
  }
  if (lookName != "lit" && lookName != "depth") {
    report("unknown --look '" + lookName + "': use lit or depth");
    return kImageUsage;
  }
  const Look look = lookName == "lit" ? Look::kLit : Look::kDepth;

  MergedRows rows;
  std::string error;
  if (!initMergedRows(&rows, width, height, &error)) {
    report(error);
    return kImageUsage;
  }
  if (inputs.empty()) inputs.push_back("-");
  Progress progress;
  for (const std::string &input : inputs) {
    int status = readInput(input, &rows, &progress);
    if (status != kImageSuccess) return status;
  }
  progress.show(rows, true);

  const int64_t missing = rows.height - rows.rowsReceived;
  if (missing > 0) {
    report(std::to_string(missing) + " of " + std::to_string(rows.height) +
           " rows never arrived" + (strict ? "" : "; drawn as background"));
    if (strict) return kImageBadInput;
  }
  if (!writeImage(rows, format, look, output, &error)) {
    report(error);
    return kImageCannotWrite;
  }
  return kImageSuccess;
}

}  // namespace
}  // namespace quatdepth

int main(int argc, char **argv) { return quatdepth::imageMain(argc, argv); }
