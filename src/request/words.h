#pragma once

#include <string>
#include <vector>

#include "request/keyframes.h"

namespace quatdepth {

// One word of a command line, and where it was written: a parameter
// file's settings become words too, so a refusal can name their line.
struct Word {
  std::string text;
  std::string file;  // empty on the command line
  int line = 0;
};

// "FILE, line N: " for a word from a file; "" for the command line's.
std::string originOf(const Word &word);

// A command line with its files read: every --params FILE replaced by the
// options its file stands for, in place (so options after it override it
// and options before it are overridden), and the --keyframes FILE taken
// out and read into its sections.
struct CommandWords {
  std::vector<Word> words;
  std::string keyframeFile;  // empty without --keyframes
  std::vector<KeySection> keySections;
};

// Reads `arguments` (argv without the program) into `command`. -1 when
// the run goes on, else the exit status with the refusal in *error: a file
// that cannot be read, or one that is malformed.
int commandWords(const std::vector<std::string> &arguments, CommandWords *command,
                 std::string *error);

// Words written on the command line.
std::vector<Word> plainWords(const std::vector<std::string> &arguments);

}  // namespace quatdepth
