#pragma once

#include "files/file_system.hpp"

namespace cli {

// Runs the command with the process arguments on `fs` and returns its exit
// status.
int run(int argc, char** argv, const files::FileSystem& fs);

}  // namespace cli
