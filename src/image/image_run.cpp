#include "image/image_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "image/image_files.h"
#include "image/image_output.h"
#include "image/row_merge.h"

namespace quatdepth {
namespace {

enum ImageExit : int {
  kImageSuccess = 0,
  kImageBadInput = 1,   // an invalid stream, no rows, missing rows with --strict, no memory
  kImageUsage = 2,      // options that do not make sense
  kImageCannotRead = 3, // an input file cannot be opened or read
  kImageCannotWrite = 4,
};

// Standard error: messages, and on a terminal a progress line that every
// message first ends, so the two never share a line.
class Console {
 public:
  void report(const std::string &message) {
    endProgressLine();
    std::fprintf(stderr, "quatdepth-image: %s\n", message.c_str());
  }

  // "rows received of rows expected", a few times a second.
  void showProgress(const DepthImage &rows, bool final) {
    if (!terminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!final && now - shown_ < std::chrono::milliseconds(100)) return;
    shown_ = now;
    std::fprintf(stderr, "\rquatdepth-image: %lld of %d rows",
                 static_cast<long long>(rows.rowsReceived), rows.height);
    lineOpen_ = true;
    if (final) endProgressLine();
  }

 private:
  void endProgressLine() {
    if (lineOpen_) std::fputc('\n', stderr);
    lineOpen_ = false;
  }

  const bool terminal_ = isatty(STDERR_FILENO) != 0;
  bool lineOpen_ = false;
  std::chrono::steady_clock::time_point shown_{};
};

// Closes an input file, however reading it ends.
struct InputFile {
  int fd = -1;
  InputFile() = default;
  InputFile(const InputFile &) = delete;
  InputFile &operator=(const InputFile &) = delete;
  ~InputFile() {
    if (fd > STDIN_FILENO) close(fd);
  }
};

// Merges one stream into `rows`. Reads what has arrived, not whole blocks,
// so progress follows the records as a pipe delivers them.
int readInput(const std::string &name, DepthImage *rows, Console *console) {
  const bool standardInput = name == "-";
  InputFile in;
  in.fd = standardInput ? STDIN_FILENO : open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (in.fd < 0) {
    console->report(name + ": " + std::strerror(errno));
    return kImageCannotRead;
  }
  RowStreamDecoder decoder;
  decoder.source = standardInput ? "standard input" : name;
  std::vector<uint8_t> buffer(1 << 16);
  std::string error;
  for (;;) {
    const ssize_t got = read(in.fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      console->report(decoder.source + ": " + std::strerror(errno));
      return kImageCannotRead;
    }
    if (got == 0) break;
    if (!feedRowStream(rows, &decoder, buffer.data(), static_cast<size_t>(got), &error)) {
      console->report(error);
      return kImageBadInput;
    }
    console->showProgress(*rows, false);
  }
  std::string cutShort;
  if (!finishRowStream(*rows, decoder, &error, &cutShort)) {
    console->report(error);
    return kImageBadInput;
  }
  // A run killed while writing its last record: the rows before it stand,
  // and its row stays missing unless another input holds it (a repair run),
  // which --strict then checks like any other row.
  if (!cutShort.empty()) console->report("warning: " + cutShort + "; that record is dropped");
  return kImageSuccess;
}

struct ImageOptions {
  int32_t width = 300, height = 300;  // the renderer's defaults
  std::string output, formatName, lookName = "lit";
  bool strict = false;
  bool listMissing = false;
  std::vector<std::string> inputs;
};

// Parses the command line; -1 when the run goes on, else the exit status.
int parseOptions(int argc, char **argv, ImageOptions *options) {
  CLI::App app{
      "Merges quatdepth depth row streams (files, or standard input when none "
      "or '-' is given) into one image.",
      "quatdepth-image"};
  app.add_option("-o,--output", options->output, "output file, or - for standard output");
  app.add_option("--width", options->width, "pixels per row of the image (default 300)");
  app.add_option("--height", options->height, "rows of the image (default 300)");
  app.add_option("--format", options->formatName,
                 "png (8-bit picture), png16 (depth + 1, 16-bit), pgm (8-bit "
                 "picture) or rows (merged records); default: from the extension");
  app.add_option("--look", options->lookName, "lit (default; from the depths alone, as relief), relief or depth, for png and pgm");
  app.add_flag("--strict", options->strict,
               "refuse an image with rows that never arrive (a last record cut "
               "short included, unless another input holds its row) instead of "
               "drawing background");
  app.add_flag("--list-missing", options->listMissing,
               "instead of an image, print the index of every row no input holds, "
               "one a line (to render just those again)");
  app.add_option("inputs", options->inputs, "depth row streams");
  // A later option overrides an earlier one, as scripts that add options
  // to a base command expect.
  for (CLI::Option *option : app.get_options())
    if (option->get_name() != "inputs")
      option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    if (app.exit(e) != 0) return kImageUsage;
    std::string error;  // --help: what it printed must have arrived
    if (flushStandardOutput(&error)) return kImageSuccess;
    std::fprintf(stderr, "quatdepth-image: %s\n", error.c_str());
    return kImageCannotWrite;
  }
  if (options->listMissing == !options->output.empty()) {
    std::fprintf(stderr, "quatdepth-image: %s\n",
                 options->listMissing ? "--list-missing prints to standard output: no -o"
                                      : "give -o FILE (or --list-missing); see --help");
    return kImageUsage;
  }
  return -1;
}

// Everything about the output that can be known without input.
bool checkOutputOptions(const ImageOptions &options, ImageFormat *format, Look *look,
                        std::string *error) {
  if (options.formatName.empty() ? !imageFormatFromPath(options.output, format)
                                 : !parseImageFormat(options.formatName, format)) {
    *error = options.formatName.empty()
                 ? "cannot tell the format from '" + options.output +
                       "': give --format png, png16, pgm or rows"
                 : "unknown --format '" + options.formatName + "': use png, png16, pgm or rows";
    return false;
  }
  if (!parseLook(options.lookName, look)) {
    *error = "unknown --look '" + options.lookName + "': use lit, relief or depth";
    return false;
  }
  if (!checkDepthImageSize(options.width, options.height, error)) return false;
  if (options.height == 0) {
    *error = "--height 0: an image needs at least one row";
    return false;
  }
  if (isPictureFormat(*format) && options.width == 0) {
    *error = "--width 0: a picture needs at least one pixel a row; use --format rows";
    return false;
  }
  return true;
}

// Puts every input's rows into `rows`.
int mergeInputs(const ImageOptions &options, DepthImage *rows, Console *console) {
  std::string error;
  if (!initDepthImage(rows, options.width, options.height, &error)) {
    console->report(error);
    return kImageUsage;
  }
  for (const std::string &input : options.inputs) {
    const int status = readInput(input, rows, console);
    if (status != kImageSuccess) return status;
  }
  console->showProgress(*rows, true);
  return kImageSuccess;
}

// The rows still to render, one index a line: all of them when no input
// holds a row. A broken stream still fails.
int listMissingRows(const ImageOptions &options, Console *console) {
  DepthImage rows;
  const int merged = mergeInputs(options, &rows, console);
  if (merged != kImageSuccess) return merged;
  for (size_t row = 0; row < rows.received.size(); ++row)
    if (!rows.received[row]) std::printf("%zu\n", row);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    console->report(std::string("standard output: ") + std::strerror(errno));
    return kImageCannotWrite;
  }
  return kImageSuccess;
}

int mergeAndWrite(const ImageOptions &options, ImageFormat format, Look look,
                  ImageOutput *output, Console *console) {
  DepthImage rows;
  const int merged = mergeInputs(options, &rows, console);
  if (merged != kImageSuccess) return merged;
  std::string error;

  if (rows.rowsReceived == 0) {
    console->report("no row arrived, so there is no image to write");
    return kImageBadInput;
  }
  const int64_t missing = rows.height - rows.rowsReceived;
  if (missing > 0) {
    console->report(std::to_string(missing) + " of " + std::to_string(rows.height) +
                    " rows never arrived" + (options.strict ? "" : "; drawn as background"));
    if (options.strict) return kImageBadInput;
  }
  FILE *out = output->begin(&error);
  if (!out) {
    console->report(error);
    return kImageCannotWrite;
  }
  if (!encodeImage(out, rows, format, look, &error)) {
    console->report(output->name() + ": " + error);
    return kImageCannotWrite;
  }
  if (!output->commit(&error)) {
    console->report(error);
    return kImageCannotWrite;
  }
  return kImageSuccess;
}

// Inputs that cannot be read are found before a long stream is consumed.
bool checkInputs(const std::vector<std::string> &inputs, bool inputClosed, Console *console) {
  for (const std::string &input : inputs) {
    if (input == "-" ? inputClosed : access(input.c_str(), R_OK) != 0) {
      console->report((input == "-" ? "standard input" : input) + ": " +
                      std::strerror(input == "-" ? EBADF : errno));
      return false;
    }
  }
  return true;
}

}  // namespace

int runQuatdepthImage(int argc, char **argv) {
  const ClosedStreams closed = occupyClosedStreams();
  ImageOptions options;
  const int parsed = parseOptions(argc, argv, &options);
  if (parsed == kImageSuccess && closed.output) {  // --help, into nothing
    std::fprintf(stderr, "quatdepth-image: standard output: %s\n", std::strerror(EBADF));
    return kImageCannotWrite;
  }
  if (parsed >= 0) return parsed;
  if (options.inputs.empty()) options.inputs.push_back("-");

  Console console;
  std::string error;
  ImageFormat format = ImageFormat::kRows;
  Look look = Look::kLit;
  // A list of missing rows needs only the image's size; a picture, all of it.
  const bool usable = options.listMissing ? checkDepthImageSize(options.width, options.height, &error)
                                          : checkOutputOptions(options, &format, &look, &error);
  if (!usable) {
    console.report(error);
    return kImageUsage;
  }
  if ((options.listMissing || options.output == "-") && closed.output) {
    console.report("standard output: " + std::string(std::strerror(EBADF)));
    return kImageCannotWrite;
  }
  ImageOutput output;
  if (!options.listMissing && !output.open(options.output, &error)) {
    console.report(error);
    return kImageCannotWrite;
  }
  if (!checkInputs(options.inputs, closed.input, &console)) return kImageCannotRead;
  try {
    return options.listMissing ? listMissingRows(options, &console)
                               : mergeAndWrite(options, format, look, &output, &console);
  } catch (const std::bad_alloc &) {
    console.report("not enough memory for an image of " + std::to_string(options.width) +
                   " x " + std::to_string(options.height) + " pixels; nothing was written");
    return kImageBadInput;
  }
}

}  // namespace quatdepth
