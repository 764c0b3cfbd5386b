#pragma once

#include "store/tree.hpp"

namespace cli {

// Runs the command with the process arguments and returns its exit status.
// `hook`, when given, watches every step of the file layer (tests only).
int run(int argc, char** argv, store::FileHook* hook = nullptr);

}  // namespace cli
