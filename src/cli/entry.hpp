#pragma once

#include "store/file_system.hpp"

namespace cli {

// Runs the command with the process arguments on `fs` and returns its exit
// status.
int run(int argc, char** argv, const store::FileSystem& fs = store::disk());

}  // namespace cli
