#pragma once

// How a state file's JSON is read: one value, event by event, into a handler,
// from text or from an open file in pieces. The file form has no byte-order
// mark and is UTF-8 throughout; anything else, and any exception of the parser
// or the handler, counts as not read. The events, the numbers' kinds and
// values and what is refused are those of nlohmann::json::sax_parse, which the
// handlers were written for, but for one thing: nlohmann ends the input at a
// '\0' byte, so it took anything after a '\0' that follows the value, and
// such content is refused here as any other content after the value is.

#include <string_view>

#include <nlohmann/json.hpp>

#include "files/reading.hpp"

namespace json {

inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

using Events = nlohmann::json_sax<nlohmann::json>;

// True when `text` is one JSON value that `handler` accepted throughout.
bool read_events(std::string_view text, Events& handler);

// The same for the file `reader` reads, in pieces so that a file of tens of
// megabytes never stands whole in memory.
bool read_events(files::Utf8Reader& reader, Events& handler);

}  // namespace json
