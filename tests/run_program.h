#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quatdepth::testing {

struct ProgramResult {
  int exitStatus = -1;  // -1 when the program did not exit normally
  int signal = 0;       // the signal that ended it, if any
  long maxResidentKiB = 0;  // the child's peak resident memory
  std::string out;      // everything written to standard output
  std::string err;      // everything written to standard error
};

struct RunOptions {
  std::string stdinPath = "/dev/null";
  std::string stdoutPath;         // when set, standard output goes here
  // When set, standard output is a pipe, read only once the child has
  // ended: writes up to its atomic size arrive whole or not at all.
  bool stdoutPipe = false;
  unsigned long addressSpaceMiB = 0;  // when set, caps the child's memory
  std::vector<std::pair<std::string, std::string>> environment;  // added
  unsigned long openFilesLimit = 0;   // when set, caps the child's descriptors
  int userId = -1;                    // when set (and root), runs as this user
  unsigned killAfterMs = 0;           // when set, killSignal after this long
  int killSignal = 9;                 // SIGKILL
  int fileModeMask = -1;              // when set, the child's umask
};

// Runs `program` with `arguments` (argv[0] is the program path) and waits.
ProgramResult runProgram(const std::string &program,
                         const std::vector<std::string> &arguments,
                         const RunOptions &options = {});

// `program` and `arguments` as one shell command line, each word quoted.
std::string shellCommand(const std::string &program, const std::vector<std::string> &arguments);

// The words of a line, split at spaces and line ends.
std::vector<std::string> words(const std::string &line);

// Reads a whole file; empty when it does not exist.
std::string readFile(const std::string &path);

// Writes `bytes` to a file, replacing it.
void writeFile(const std::string &path, const std::string &bytes);

// A fresh folder under /tmp, removed with its contents at the end.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory &) = delete;
  TemporaryDirectory &operator=(const TemporaryDirectory &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A TCP port on 127.0.0.1 that nothing listens on just now; 0 if none.
int freeLocalPort();

// The program's path in the PATH or the system folders; "" when missing.
std::string findProgram(const std::string &name);

// Installs the built programs (cmake --install) under `prefix`; returns
// the folder that holds them, or "" when the install failed.
std::string installPrograms(const std::string &prefix);

}  // namespace quatdepth::testing
