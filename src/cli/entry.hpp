#pragma once

#include <string>
#include <vector>

#include "files/file_system.hpp"

namespace cli {

// Runs the command with the process arguments on `fs` and returns its exit
// status.
int run(int argc, char** argv, const files::FileSystem& fs);

// The same with the arguments after the program name, in UTF-8, as given: on
// Windows the process's are read from its wide command line, not from argv.
int run(const std::vector<std::string>& args, const files::FileSystem& fs);

}  // namespace cli
