// The arguments that answer a question and end ferrin at once: --help and
// --version (and /? on Windows). They are handled before the console is set
// up, so they start no watcher and leave the terminal as it is.
#pragma once

#include <string>
#include <vector>

// The usage text, line by line; its list of settings is made from the
// table of keys the program reads.
std::vector<std::string> usageLines();

// Writes the usage or the version to standard output when the first argument
// asks for it and returns true; returns false for every other command line,
// which ferrin then runs as usual.
bool answerInfoArgument(int argc, char** argv);

// "ferrin --reprint [N]": puts a kept printout into its slot's waiting queue,
// says so and returns true with the exit code in *code (0 once queued); false
// for every other command line.
bool answerReprintArgument(int argc, char** argv, int* code);
