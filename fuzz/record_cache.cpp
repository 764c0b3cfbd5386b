// A record cache through cache::decode, and a graph kept beside it: any bytes
// load as a consistent cache (the last run's key, and records that each
// decode or are read from their files) or are refused. Inputs whose first
// byte is odd get a correct checksum first, so the fuzzer reaches past it;
// an accepted cache written back loads the same. Inputs that begin with the
// kept graph's magic are one, and so are those that begin with "G", with
// the checksum made right.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "cache/graph_cache.hpp"
#include "cache/record_cache.hpp"
#include "fuzz_input.hpp"
#include "util/content_hash.hpp"

namespace {

// The header: the magic and the format, the size of the first part, the
// checksums of the two parts; the parts follow it.
constexpr std::size_t kSizeAt = 12;
constexpr std::size_t kSumsAt = 20;
constexpr std::size_t kHeaderSize = 36;

std::size_t get_u64(const std::string& bytes, std::size_t at) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    v |= std::uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
  }
  return static_cast<std::size_t>(v);
}

void put_u64(std::string& bytes, std::size_t at, std::uint64_t v) {
  for (std::size_t i = 0; i < 8; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
}

// What a run that took every known record would give the cache again.
journal::Scan as_scan(const cache::Contents& known) {
  journal::Scan scan;
  known.each([&](std::string_view path, const files::Stamp& stamp, bool racy) {
    journal::RememberedFile file{
        stamp, static_cast<std::uint32_t>(scan.month_keys.size()), 0, false, false, racy};
    scan.month_keys.emplace_back(path.substr(0, 7));
    journal::JournalEntry entry;
    const auto held = known.record(path, entry, file.goal_from_inventory);
    // A record that does not decode is read from its file: a run keeps
    // whatever that gives.
    if (held == journal::KnownRecords::Held::Unusable) return;
    file.record = held == journal::KnownRecords::Held::Record;
    if (file.record) {
      fuzz::check(path.ends_with("/" + entry.file_name), "a record is its file's");
      fuzz::check(entry.file_name.starts_with(entry.date.view()),
                  "a record's date is its file name's");
      file.at = static_cast<std::uint32_t>(scan.records.size());
      scan.records.push_back(std::move(entry));
    } else {
      file.at = static_cast<std::uint32_t>(scan.unrecorded_names.size());
      scan.unrecorded_names.emplace_back(path.substr(8));
    }
    scan.remembered.push_back(file);
  });
  return scan;
}

// The bytes as a graph kept beside the cache, with its checksum made right
// when `fix`: one that decodes is written back and loads the same.
void as_kept_graph(std::string bytes, bool fix) {
  constexpr std::size_t kGraphHeader = 28;
  if (fix && bytes.size() >= kGraphHeader) {
    const std::string_view body = std::string_view(bytes).substr(kGraphHeader);
    put_u64(bytes, kSizeAt, body.size());
    put_u64(bytes, kSumsAt, hashing::content_hash(body));
  }
  const auto held = cache::HeldGraph::of(bytes);
  const auto graph = held ? held->decode() : std::nullopt;
  if (!graph) return;
  const auto again = cache::HeldGraph::of(cache::encode_graph(*graph, held->file_hash()));
  fuzz::check(
      again.has_value() && again->file_hash() == held->file_hash() && again->decode() == graph,
      "a kept graph written back loads the same");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(fuzz::as_text(data, size));
  if (bytes.starts_with("BFWGRAPH") || (!bytes.empty() && bytes[0] == 'G')) {
    as_kept_graph(bytes[0] == 'G' ? bytes.substr(1) : bytes, bytes[0] == 'G');
    return 0;
  }
  if (!bytes.empty() && (static_cast<unsigned char>(bytes[0]) & 1) != 0) {
    bytes.erase(0, 1);
    // Checksums made right, so that the fuzzer reaches what they guard.
    if (bytes.size() >= kHeaderSize) {
      const std::string_view parts = std::string_view(bytes).substr(kHeaderSize);
      const auto first = std::min<std::size_t>(get_u64(bytes, kSizeAt), parts.size());
      put_u64(bytes, kSizeAt, first);
      put_u64(bytes, kSumsAt, hashing::content_hash(parts.substr(0, first)));
      put_u64(bytes, kSumsAt + 8, hashing::content_hash(parts.substr(first)));
    }
  }
  const auto contents = cache::decode(bytes);
  if (!contents) return 0;
  // What a run with nothing to do reads: the same key and files.
  const auto stamps = cache::decode(bytes.substr(0, kHeaderSize + get_u64(bytes, kSizeAt)), false);
  fuzz::check(
      stamps.has_value() && stamps->size() == contents->size() && stamps->key == contents->key,
      "a cache's first part loads alone");
  const auto scan = as_scan(*contents);
  const auto key = contents->key ? &*contents->key : nullptr;
  const auto reread = cache::decode(cache::encode(scan, key));
  fuzz::check(reread.has_value() && reread->size() == scan.remembered.size() &&
                  reread->key == contents->key,
              "a written cache loads");
  std::size_t record = 0;
  std::string path;
  for (const auto& file : scan.remembered) {
    journal::remembered_path(scan, file, path);
    journal::JournalEntry entry;
    bool goal = false;
    const bool has = reread->record(path, entry, goal) == journal::KnownRecords::Held::Record;
    fuzz::check(reread->stamp(path) == (file.racy ? std::nullopt : std::optional(file.stamp)) &&
                    has == file.record &&
                    (!has || (entry == scan.records[record++] && goal == file.goal_from_inventory)),
                "a written cache loads the same");
  }
  return 0;
}
