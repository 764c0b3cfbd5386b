#pragma once

namespace cli {

// Runs the command with the process arguments and returns its exit status.
int run(int argc, char** argv);

}  // namespace cli
