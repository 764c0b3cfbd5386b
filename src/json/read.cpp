#include "json/read.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>

#include <locale.h>

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include "files/reading.hpp"
#include "util/text.hpp"

namespace json::detail {

// The input as RapidJSON reads it: the pieces one after another, then '\0'
// for ever. A '\0' inside the input looks the same to the parser, so whether
// the end was really reached is kept apart.
class PieceStream {
 public:
  using Ch = char;

  explicit PieceStream(std::string_view text) { start(text); }
  explicit PieceStream(files::Utf8Reader& reader) : reader_(&reader) { start(reader.next()); }

  Ch Peek() const { return *at_; }
  Ch Take() {
    const Ch c = *at_;
    if (++at_ == end_) advance();
    return c;
  }
  std::size_t Tell() const { return before_ + static_cast<std::size_t>(at_ - begin_); }

  // The write side of a stream, which only in-place parsing uses.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  std::size_t PutEnd(Ch*) { return 0; }

  std::string_view first_piece() const { return first_; }
  bool ended() const { return ended_; }

  // The text of the number being read; see the NumberStream below.
  std::string number;

 private:
  void start(std::string_view piece) {
    if (first_.empty()) first_ = piece;
    if (piece.empty()) {
      static constexpr char kEnd[] = "";
      begin_ = at_ = kEnd;
      end_ = kEnd + 1;
      ended_ = true;
      return;
    }
    begin_ = at_ = piece.data();
    end_ = begin_ + piece.size();
  }
  void advance() {
    if (ended_) {
      at_ = begin_;
      return;
    }
    before_ += static_cast<std::size_t>(end_ - begin_);
    start(reader_ != nullptr ? reader_->next() : std::string_view{});
  }

  files::Utf8Reader* reader_ = nullptr;
  std::string_view first_;
  const char* begin_ = nullptr;
  const char* at_ = nullptr;
  const char* end_ = nullptr;
  std::size_t before_ = 0;
  bool ended_ = false;
};

}  // namespace json::detail

namespace rapidjson {

// RapidJSON refuses some numbers that are JSON and finite, such as 0e400 or an
// integer part of 400 digits before e-300, because it bounds the exponent and
// the integer part before it knows the value. The numbers are scanned here
// instead, by the grammar alone, and RapidJSON is shown "0e0" for a valid one
// or a lone "-" for an invalid one, which it refuses, each followed by a '\0'
// that ends the number there (the next real character may be a digit, as in
// "01"). It then reports the real text as the raw number.
template <>
template <>
class GenericReader<UTF8<>, UTF8<>, CrtAllocator>::NumberStream<json::detail::PieceStream, true,
                                                                true> {
 public:
  using Ch = char;

  NumberStream(GenericReader&, json::detail::PieceStream& is) : is_(is) {
    std::string& text = is.number;
    text.clear();
    const auto digit = [&] { return is.Peek() >= '0' && is.Peek() <= '9'; };
    const auto take = [&] { text.push_back(is.Take()); };
    const auto digits = [&] {
      if (!digit()) return false;
      do take();
      while (digit());
      return true;
    };
    if (is.Peek() == '-') take();
    bool valid = is.Peek() == '0' ? (take(), true) : digits();
    if (valid && is.Peek() == '.') {
      take();
      valid = digits();
    }
    if (valid && (is.Peek() == 'e' || is.Peek() == 'E')) {
      take();
      if (is.Peek() == '+' || is.Peek() == '-') take();
      valid = digits();
    }
    shown_ = valid ? "0e0" : "-";
  }

  Ch Peek() const { return *shown_; }
  Ch Take() { return *shown_ != '\0' ? *shown_++ : '\0'; }
  Ch TakePush() { return Take(); }
  std::size_t Tell() const { return is_.Tell(); }
  std::size_t Length() const { return is_.number.size(); }
  const char* Pop() const { return is_.number.c_str(); }

 private:
  json::detail::PieceStream& is_;
  const char* shown_;
};

}  // namespace rapidjson

namespace json {
namespace {

using detail::PieceStream;

// Nesting is kept on the heap, so no depth overflows the stack; numbers come
// as text, classified as nlohmann does. The encoding is not checked again:
// both callers refuse anything but UTF-8 first.
constexpr unsigned kParseFlags =
    rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag;

// Where from_chars gives up, strtod in the C locale gives what nlohmann's
// lexer gets: ±HUGE_VAL past the largest double, a subnormal or zero below.
double decimal_to_double(const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc{} && end == text.data() + text.size()) return value;
#if defined(_WIN32)
  static const _locale_t c_locale = ::_create_locale(LC_NUMERIC, "C");
  return ::_strtod_l(text.c_str(), nullptr, c_locale);
#else
  static const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", locale_t{});
  return ::strtod_l(text.c_str(), nullptr, c_locale);
#endif
}

// RapidJSON takes "\udc00" without a high surrogate before it and writes it
// out as the bytes ED B0 80, which are not UTF-8; nlohmann refuses it. No
// such bytes come from the input itself, which is UTF-8.
bool has_lone_low_surrogate(std::string_view text) {
  for (std::size_t at = text.find('\xED'); at != std::string_view::npos;
       at = text.find('\xED', at + 1)) {
    if (at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) >= 0xA0) return true;
  }
  return false;
}

// RapidJSON's handler, passing every event on to the nlohmann one.
class EventAdapter {
 public:
  EventAdapter(Events& handler, const PieceStream& stream) : handler_(handler), stream_(stream) {}

  bool Null() { return handler_.null(); }
  bool Bool(bool value) { return handler_.boolean(value); }
  // Only RawNumber is called with numbers as strings.
  bool Int(int) { return false; }
  bool Uint(unsigned) { return false; }
  bool Int64(std::int64_t) { return false; }
  bool Uint64(std::uint64_t) { return false; }
  bool Double(double) { return false; }

  bool RawNumber(const char* data, rapidjson::SizeType length, bool) {
    text_.assign(data, length);
    if (text_.find_first_of(".eE") == std::string::npos) {
      const char* const end = text_.data() + text_.size();
      if (text_.front() == '-') {
        std::int64_t value = 0;
        const auto [stop, error] = std::from_chars(text_.data(), end, value);
        if (error == std::errc{} && stop == end) return handler_.number_integer(value);
      } else {
        std::uint64_t value = 0;
        const auto [stop, error] = std::from_chars(text_.data(), end, value);
        if (error == std::errc{} && stop == end) return handler_.number_unsigned(value);
      }
    }
    const double value = decimal_to_double(text_);
    if (!std::isfinite(value)) {
      return refuse(text_, nlohmann::detail::out_of_range::create(
                               406, "number overflow parsing '" + text_ + "'", nullptr));
    }
    return handler_.number_float(value, text_);
  }

  bool String(const char* data, rapidjson::SizeType length, bool) {
    if (!take_text(data, length)) return false;
    return handler_.string(text_);
  }
  bool Key(const char* data, rapidjson::SizeType length, bool) {
    if (!take_text(data, length)) return false;
    return handler_.key(text_);
  }

  bool StartObject() { return handler_.start_object(kUnknownSize); }
  bool EndObject(rapidjson::SizeType) { return handler_.end_object(); }
  bool StartArray() { return handler_.start_array(kUnknownSize); }
  bool EndArray(rapidjson::SizeType) { return handler_.end_array(); }

  // What the handler said to an error that the adapter found itself, which
  // stopped the parser; nothing when the parser stopped on its own or the
  // handler stopped it.
  std::optional<bool> verdict() const { return verdict_; }

 private:
  // nlohmann's size argument when the size is not known beforehand.
  static constexpr std::size_t kUnknownSize = static_cast<std::size_t>(-1);

  bool take_text(const char* data, rapidjson::SizeType length) {
    const std::string_view text(data, length);
    if (has_lone_low_surrogate(text)) {
      return refuse(std::string(text), nlohmann::detail::parse_error::create(
                                           101, stream_.Tell(), "lone low surrogate", nullptr));
    }
    text_.assign(text);
    return true;
  }

  bool refuse(const std::string& token, const nlohmann::detail::exception& error) {
    verdict_ = handler_.parse_error(stream_.Tell(), token, error);
    return false;
  }

  Events& handler_;
  const PieceStream& stream_;
  // Reused for every string, key and number, so that it stops allocating once
  // it is as long as the longest; a handler may move from it.
  std::string text_;
  std::optional<bool> verdict_;
};

bool parse(PieceStream& stream, Events& handler) {
  EventAdapter adapter(handler, stream);
  rapidjson::Reader reader;
  const rapidjson::ParseResult result = reader.Parse<kParseFlags>(stream, adapter);
  if (result.IsError()) {
    if (const auto verdict = adapter.verdict()) return *verdict;
    if (result.Code() == rapidjson::kParseErrorTermination) return false;
    return handler.parse_error(
        result.Offset(), std::string{},
        nlohmann::detail::parse_error::create(101, result.Offset(),
                                              rapidjson::GetParseError_En(result.Code()), nullptr));
  }
  // RapidJSON takes a '\0' for the end of the input.
  if (!stream.ended()) {
    return handler.parse_error(stream.Tell(), std::string{},
                               nlohmann::detail::parse_error::create(
                                   101, stream.Tell(), "content after the value", nullptr));
  }
  return true;
}

}  // namespace

bool read_events(std::string_view text, Events& handler) {
  if (text.starts_with(kByteOrderMark) || !text::is_valid_utf8(text)) return false;
  try {
    PieceStream stream(text);
    return parse(stream, handler);
  } catch (...) {
    return false;
  }
}

bool read_events(files::Utf8Reader& reader, Events& handler) {
  try {
    PieceStream stream(reader);
    if (stream.first_piece().starts_with(kByteOrderMark)) return false;
    return parse(stream, handler) && reader.ok();
  } catch (...) {
    return false;
  }
}

}  // namespace json
