#pragma once

// Whole workspace trees for end-to-end tests: copying, listing, comparing
// with the run stamps masked, and generating inventory workspaces.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

// The whole content of `path`, or "" when it cannot be read.
std::string slurp(const std::filesystem::path& path);

// Every directory (with a trailing "/") and file below `dir`, sorted by bytes.
std::vector<std::string> listing(const std::filesystem::path& dir);

// `content` of the file at `relative` with what legitimately differs between
// runs masked: graph save stamps, report generation times, and the free
// wording of the golden README.
std::string masked(const std::string& relative, std::string content);

// Every file below `dir` (leftover ".tmp" files excluded) with its masked
// content, keyed by its path relative to `dir`.
std::map<std::string, std::string> masked_files(const std::filesystem::path& dir);

// Copies the tree `from` to `to` and makes every copy writable by its owner.
void copy_tree(const std::filesystem::path& from, const std::filesystem::path& to);

// Lays out `count` inventory records below `root`: several months, goals with
// and without sections, shared minutes, a file name used in two months, and a
// user goal file with sections that no record names as a whole.
void write_inventory_workspace(const std::filesystem::path& root, int count);

}  // namespace testing_support
