#include "support/workspace_tree.hpp"

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include <fmt/format.h>

#include "files/path_text.hpp"

namespace testing_support {
namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    auto relative = files::generic_path_text(fs::relative(entry.path(), dir));
    if (entry.is_directory()) relative += "/";
    paths.push_back(relative);
  }
  std::ranges::sort(paths);
  return paths;
}

std::string masked(const std::string& relative, std::string content) {
  if (relative.ends_with(".system/graph.json")) {
    static const std::regex stamp(R"re("(version|timestamp)": "[^"]*")re");
    return std::regex_replace(content, stamp, "\"$1\": \"<STAMP>\"");
  }
  if (relative.find("summary/") != std::string::npos && relative.ends_with(".md")) {
    static const std::regex stamp("> AI 回看 · 生成于 [^\n]*");
    return std::regex_replace(content, stamp, "> AI 回看 · 生成于 <STAMP>");
  }
  if (relative.ends_with("golden/workspace/README.md")) {
    // Lines 4, 9, 10 and 12 are free wording.
    std::istringstream in(content);
    std::string out;
    std::size_t number = 0;
    for (std::string line; std::getline(in, line);) {
      ++number;
      out += (number == 4 || number == 9 || number == 10 || number == 12) ? "<FREE>" : line;
      out += "\n";
    }
    return out;
  }
  return content;
}

std::map<std::string, std::string> masked_files(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().extension() == ".tmp") continue;
    const auto relative = files::generic_path_text(fs::relative(entry.path(), dir));
    files.emplace(relative, masked(relative, slurp(entry.path())));
  }
  return files;
}

void copy_tree(const fs::path& from, const fs::path& to) {
#if defined(_WIN32)
  // Entry by entry: libstdc++ for Windows takes any two paths on one drive
  // for one file (its stat gives no file numbers), and fs::copy refuses to
  // copy a directory onto an existing one it takes for itself.
  fs::create_directories(to);
  for (const auto& entry : fs::directory_iterator(from)) {
    fs::copy(entry.path(), to / entry.path().filename(),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }
#else
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
#endif
  for (const auto& entry : fs::recursive_directory_iterator(to)) {
    if (entry.is_symlink()) continue;
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
  }
}

void write_inventory_workspace(const fs::path& root, int count) {
  const char* const goals[] = {"工作", "学习/英语", "生活", "工作/周报", "学习/算法", "阅读"};
  const char* const topics[] = {"项目A", "项目B", "英语", "算法", "家庭", "读书会", "周报"};
  for (int i = 0; i < count; ++i) {
    const int month = 5 + i % 4;
    const int day = 1 + (i * 7) % 28;
    // Every ninth record shares its minute with the one before.
    const int minute = (i % 9 == 0 && i > 0) ? (i - 1) % 60 : i % 60;
    // One name stands in two month directories, so the record-topics map,
    // keyed by name, holds it once.
    const std::string name = i == 1 || i == 2
                                 ? std::string("2026-07-01-同名")
                                 : fmt::format("2026-{:02}-{:02}-文档{}", month, day, i);
    const auto dir = root / "2026" / fmt::format("{:02}", month);
    fs::create_directories(dir);
    std::ofstream out(dir / files::utf8_path(name + ".md"), std::ios::binary);
    out << "# 文档" << i << "\n\n## " << fmt::format("{:02}:{:02}", 8 + i % 10, minute) << "\n"
        << "原始文件：文档" << i << ".docx\n"
        << "相对路径：资料\\" << topics[i % 7] << "\\文档" << i << ".docx\n"
        << "分类：" << goals[i % 6] << "\n";
  }
  fs::create_directories(root / ".system/goals");
  std::ofstream(root / files::utf8_path(".system/goals/学习.md"), std::ios::binary)
      << "# 学习\n\n> 30% | 每天一小时\n\n## 英语 50%\n\n## 算法\n";
}

}  // namespace testing_support
