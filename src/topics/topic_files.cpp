#include "topics/topic_files.hpp"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <variant>

#include "files/path_text.hpp"
#include "files/tree.hpp"
#include "store/layout.hpp"
#include "util/text.hpp"

namespace topics {

namespace {

std::filesystem::path file_path(std::string_view name) {
  return std::filesystem::path(store::kTopicsDir) / files::utf8_path(std::string(name) + ".md");
}

struct IndexLine {
  std::string_view name;
  std::uint64_t count = 0;
};

}  // namespace

std::string topics_index_text(const graph::Graph& graph) {
  const graph::NodeIds ids(graph);
  // Every topic node under an id; a hand-edited file may repeat an id.
  std::unordered_map<graph::Atom, std::vector<graph::Atom>> topic_names_by_id;
  for (const auto& node : graph.nodes) {
    if (const auto* topic = std::get_if<graph::Topic>(&node)) {
      topic_names_by_id[topic->id].push_back(topic->name);
    }
  }

  std::unordered_map<graph::Atom, std::uint64_t> counts;
  const auto count_end = [&](graph::Atom id) {
    if (const auto found = topic_names_by_id.find(id); found != topic_names_by_id.end()) {
      for (const auto name : found->second) ++counts[name];
    }
  };
  for (const auto& edge : graph.edges) {
    if (!ids.contains(edge.from) || !ids.contains(edge.to)) continue;
    count_end(edge.to);
    // A topic's link to itself counts once.
    if (edge.from != edge.to) count_end(edge.from);
  }

  std::vector<IndexLine> lines;
  for (const auto& node : graph.nodes) {
    if (const auto* topic = std::get_if<graph::Topic>(&node)) {
      const auto found = counts.find(topic->name);
      lines.push_back({topic->name, found == counts.end() ? 0 : found->second});
    }
  }
  std::ranges::stable_sort(lines, [](const IndexLine& a, const IndexLine& b) {
    if (a.count != b.count) return a.count > b.count;
    return a.name < b.name;
  });

  std::string out = "# 主题\n\n";
  for (const auto& line : lines) {
    text::append_escaped_controls(out, line.name);
    out += ' ';
    out += std::to_string(line.count);
    out += "次\n";
  }
  return out;
}

std::string topic_file_text(std::string_view name, std::size_t count,
                            std::string_view entry_lines) {
  std::string out = "# ";
  text::append_escaped_controls(out, name);
  out += "\n\n> ";
  out += std::to_string(count);
  out += "次 | 派生自 graph.json\n\n## 出现记录\n\n";
  if (count == 0) out += "（暂无关联记录）\n";
  out += entry_lines;
  return out;
}

TopicFiles::TopicFiles(const graph::Graph& graph, files::FileNames names, std::ostream& err)
    : graph_(graph), unsafe_(graph.nodes.size()) {
  (void)names.take(std::filesystem::path(store::kTopicsDir) / "_index.md", "_index");
  for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
    const auto& node = graph.nodes[i];
    first_node_by_id_.emplace(graph::node_id(node), i);
    const auto* topic = std::get_if<graph::Topic>(&node);
    if (topic == nullptr) continue;
    edges_by_topic_id_[topic->id];
    if (files::is_unsafe_name(topic->name)) {
      err << files::unsafe_name_warning(topic->name);
      unsafe_[i] = true;
    } else if (const auto earlier = names.take(file_path(topic->name), topic->name)) {
      err << files::case_clash_warning(topic->name, *earlier);
      unsafe_[i] = true;
    }
  }
  for (std::size_t i = 0; i < graph.edges.size(); ++i) {
    const auto& edge = graph.edges[i];
    if (const auto found = edges_by_topic_id_.find(edge.from); found != edges_by_topic_id_.end()) {
      found->second.push_back(i);
    }
    if (edge.to == edge.from) continue;
    if (const auto found = edges_by_topic_id_.find(edge.to); found != edges_by_topic_id_.end()) {
      found->second.push_back(i);
    }
  }
}

files::OutputFiles TopicFiles::next(std::size_t count) {
  files::OutputFiles files;
  if (!index_made_) {
    index_made_ = true;
    files.push_back({files::FileClass::Derived,
                     std::filesystem::path(store::kTopicsDir) / "_index.md",
                     topics_index_text(graph_),
                     "写入 topics/_index.md 失败: IO 错误: ", "创建 topics 目录失败: "});
  }
  for (; next_node_ < graph_.nodes.size() && files.size() < count; ++next_node_) {
    const auto* topic = std::get_if<graph::Topic>(&graph_.nodes[next_node_]);
    if (topic == nullptr || unsafe_[next_node_]) continue;
    // Written straight into one text: a topic of a large journal lists
    // thousands of records.
    std::string entry_lines;
    std::size_t count = 0;
    for (const std::size_t index : edges_by_topic_id_.at(topic->id)) {
      const auto& edge = graph_.edges[index];
      const graph::Atom other = edge.from == topic->id ? edge.to : edge.from;
      const auto found = first_node_by_id_.find(other);
      if (found == first_node_by_id_.end()) continue;
      if (const auto* record = std::get_if<graph::Record>(&graph_.nodes[found->second])) {
        entry_lines += "- ";
        text::append_escaped_controls(entry_lines, record->date.view());
        entry_lines += ' ';
        text::append_escaped_controls(entry_lines, record->title.view());
        entry_lines += '\n';
        ++count;
      }
    }
    const std::string name = topic->name.str();
    files.push_back({.file_class = files::FileClass::Derived,
                     .path = file_path(name),
                     .content = topic_file_text(name, count, entry_lines),
                     .failure_prefix = "写入主题文件 " + name + " 失败: IO 错误: ",
                     .user_name = name});
  }
  return files;
}

}  // namespace topics
