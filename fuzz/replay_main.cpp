// Runs a fuzz target once over every file of the given corpus directories (or
// the given files), in name order, for builds without libFuzzer. A failed check
// aborts, which fails the test; the file's name is printed first to find it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputs_of(const std::filesystem::path& arg) {
  std::error_code ec;
  if (!std::filesystem::is_directory(arg, ec)) return {arg};
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(arg, ec)) {
    if (entry.is_regular_file(ec)) files.push_back(entry.path());
  }
  std::ranges::sort(files);
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& path : inputs_of(argv[i])) {
      std::ifstream in(path, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return 1;
      }
      const std::string bytes{std::istreambuf_iterator<char>(in), {}};
      std::fprintf(stderr, "%s\n", path.string().c_str());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++count;
    }
  }
  // An empty or misnamed corpus directory would otherwise pass without testing anything.
  if (count == 0) {
    std::fprintf(stderr, "no inputs\n");
    return 1;
  }
  std::printf("%zu inputs passed\n", count);
  return 0;
}
