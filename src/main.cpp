#include "cli/entry.hpp"

int main(int argc, char** argv) { return cli::run(argc, argv); }
