#include "sitecount/progress_line.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>

namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRefresh = std::chrono::milliseconds(250);

// 1234567 as "1,234,567": long counts are easier to read grouped.
std::string Grouped(std::uint64_t value) {
  std::string digits = std::to_string(value);
  for (std::ptrdiff_t at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<std::size_t>(at), 1, ',');
  }
  return digits;
}

}  // namespace

std::ptrdiff_t CountingSource::Read(char* buffer, std::size_t capacity) {
  const std::ptrdiff_t got = inner_->Read(buffer, capacity);
  if (got > 0) bytes_.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
  return got;
}

ProgressLine::ProgressLine(const PresenceProgress& progress, const CountingSource& source,
                           std::uint64_t input_bytes)
    : progress_(progress), source_(source), input_bytes_(input_bytes) {
  if (::isatty(STDERR_FILENO) != 1) return;
  // The line is not the product: a run that cannot have a thread for it goes on without.
  try {
    task_.emplace([this] { Run(); });
  } catch (const std::system_error&) {
  }
}

ProgressLine::~ProgressLine() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  task_.reset();
}

void ProgressLine::Run() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  bool shown = false;
  std::unique_lock lock(mutex_);
  if (stop_.wait_for(lock, kQuietStart, [this] { return stopping_; })) return;
  do {
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::uint64_t residues = progress_.residues.load(std::memory_order_relaxed);
    std::string line =
        "\rSitecount: " + Grouped(progress_.records.load(std::memory_order_relaxed)) +
        " records, " + Grouped(residues) + " residues";
    char rate[64];
    const double per_second = static_cast<double>(residues) / seconds;
    if (per_second >= 1e6) {
      std::snprintf(rate, sizeof rate, ", %.1f M residues/s", per_second / 1e6);
    } else {
      std::snprintf(rate, sizeof rate, ", %.0f residues/s", per_second);
    }
    line += rate;
    if (input_bytes_ > 0) {
      const double share =
          100.0 * static_cast<double>(source_.bytes()) / static_cast<double>(input_bytes_);
      std::snprintf(rate, sizeof rate, ", %.0f%% read", share < 100 ? share : 100.0);
      line += rate;
    }
    line += "\033[K";  // clears what a longer line left behind
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    shown = true;
  } while (!stop_.wait_for(lock, kRefresh, [this] { return stopping_; }));
  if (shown) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
}
