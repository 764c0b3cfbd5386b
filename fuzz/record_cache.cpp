// A record cache through cache::decode: any bytes load as a consistent cache
// (records and the last run's key) or are refused. Inputs whose first byte is odd get a correct
// checksum first, so the fuzzer reaches past it; an accepted cache written back loads the same.

#include <cstddef>
#include <cstdint>
#include <string>

#include "cache/record_cache.hpp"
#include "fuzz_input.hpp"
#include "util/content_hash.hpp"

namespace {

// Where the checksum stands (after the magic and the format) and what it
// covers: everything after it.
constexpr std::size_t kChecksumAt = 12;
constexpr std::size_t kCoveredFrom = 20;

journal::Scan as_scan(const journal::KnownRecords& known) {
  journal::Scan scan;
  for (const auto& [path, record] : known) {
    journal::RememberedFile file{record.stamp, static_cast<std::uint32_t>(scan.month_keys.size()),
                                 0, record.entry.has_value(), record.goal_from_inventory};
    scan.month_keys.push_back(path.substr(0, 7));
    if (record.entry) {
      file.at = static_cast<std::uint32_t>(scan.records.size());
      scan.records.push_back(*record.entry);
    } else {
      file.at = static_cast<std::uint32_t>(scan.unrecorded_names.size());
      scan.unrecorded_names.push_back(path.substr(8));
    }
    scan.remembered.push_back(file);
  }
  return scan;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(fuzz::as_text(data, size));
  if (!bytes.empty() && (static_cast<unsigned char>(bytes[0]) & 1) != 0) {
    bytes.erase(0, 1);
    if (bytes.size() >= kCoveredFrom) {
      const std::uint64_t sum = hashing::content_hash(std::string_view(bytes).substr(kCoveredFrom));
      for (std::size_t i = 0; i < 8; ++i)
        bytes[kChecksumAt + i] = static_cast<char>(sum >> (8 * i));
    }
  }
  const auto contents = cache::decode(bytes);
  if (!contents) return 0;
  const auto& known = contents->records;
  for (const auto& [path, record] : known) {
    if (!record.entry) continue;
    fuzz::check(path.ends_with("/" + record.entry->file_name), "a record is its file's");
    fuzz::check(record.entry->file_name.starts_with(record.entry->date.view()),
                "a record's date is its file name's");
  }
  const auto key = contents->key ? &*contents->key : nullptr;
  const auto reread = cache::decode(cache::encode(as_scan(known), key));
  fuzz::check(
      reread.has_value() && reread->records.size() == known.size() && reread->key == contents->key,
      "a written cache loads");
  for (const auto& [path, record] : known) {
    const auto again = reread->records.find(path);
    fuzz::check(again != reread->records.end() && again->second.stamp == record.stamp &&
                    again->second.entry == record.entry &&
                    again->second.goal_from_inventory == record.goal_from_inventory,
                "a written cache loads the same");
  }
  return 0;
}
