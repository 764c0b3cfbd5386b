#include "cli/entry.hpp"
#include "files/disk.hpp"
#include "util/memory.hpp"

int main(int argc, char** argv) {
  memory::restart_with_huge_pages(argv);
  return cli::run(argc, argv, files::disk());
}
