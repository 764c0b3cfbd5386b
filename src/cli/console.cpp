#include "cli/console.hpp"

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>

#include "cli/terminal.hpp"
#include "util/progress.hpp"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

// A short run shows no progress line at all.
constexpr auto kQuietStart = std::chrono::seconds(1);
// At most ten redraws a second.
constexpr auto kRedraw = std::chrono::milliseconds(100);

// The line on the screen, shared by the drawing thread and both streams.
class Line {
 public:
  // Called with the lock held, before anything else is written.
  void erase() {
    if (!shown_.empty()) terminal::write_error("\r\x1b[K");
    shown_.clear();
  }
  void draw(const std::string& text) {
    if (text == shown_) return;
    terminal::write_error("\r" + text + "\x1b[K");
    shown_ = text;
  }
  std::mutex mutex;

 private:
  std::string shown_;
};

// Passes everything to `target` at once, the progress line erased first.
class LineFirst final : public std::streambuf {
 public:
  LineFirst(std::streambuf* target, Line* line) : target_(target), line_(line) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::unique_lock<std::mutex> lock;
    if (line_ != nullptr) {
      lock = std::unique_lock(line_->mutex);
      line_->erase();
    }
    const std::streamsize put = target_->sputn(s, n);
    target_->pubsync();
    return put;
  }
  int sync() override { return target_->pubsync(); }

 private:
  std::streambuf* target_;
  Line* line_;
};

}  // namespace

struct Console::Impl {
  Impl(bool progress_line, bool silent_out)
      : out_buf(std::cout.rdbuf(), progress_line ? &line : nullptr),
        err_buf(std::cerr.rdbuf(), progress_line ? &line : nullptr),
        out(silent_out ? nullptr : &out_buf),
        err(&err_buf) {
    if (progress_line) drawer = std::jthread([this](std::stop_token stop) { draw_until(stop); });
  }

  ~Impl() {
    if (drawer.joinable()) {
      drawer.request_stop();
      wake.notify_all();
      drawer.join();
    }
    const std::lock_guard lock(line.mutex);
    line.erase();
  }

  void draw_until(const std::stop_token& stop) {
    const auto start = Clock::now();
    std::mutex sleep_mutex;
    std::unique_lock sleeping(sleep_mutex);
    while (!stop.stop_requested()) {
      wake.wait_for(sleeping, stop, kRedraw, [] { return false; });
      if (stop.stop_requested() || Clock::now() - start < kQuietStart) continue;
      const auto text = progress::line();
      if (text.empty()) continue;
      const std::lock_guard lock(line.mutex);
      line.draw(text);
    }
  }

  Line line;
  LineFirst out_buf;
  LineFirst err_buf;
  std::ostream out;
  std::ostream err;
  std::condition_variable_any wake;
  std::jthread drawer;
};

Console::Console(bool progress_line, bool silent_out)
    : impl_(std::make_unique<Impl>(progress_line, silent_out)) {}

Console::~Console() = default;

std::ostream& Console::out() { return impl_->out; }
std::ostream& Console::err() { return impl_->err; }

}  // namespace cli
