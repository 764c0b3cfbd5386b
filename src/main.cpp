#include "cli/entry.hpp"
#include "files/disk.hpp"

int main(int argc, char** argv) { return cli::run(argc, argv, files::disk()); }
