#pragma once

// What a stage's files would hold, for tests that look at what a stage returns
// rather than at the disk.

#include <map>
#include <string>

#include "files/output_file.hpp"

namespace testing_support {

// The bytes of `file`, made by its producer when it has one.
std::string bytes_of(const files::OutputFile& file);

// The bytes of every file by its path in normal form.
std::map<std::string, std::string> contents(const files::OutputFiles& files);

}  // namespace testing_support
