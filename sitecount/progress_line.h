#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "common/byte_source.h"
#include "common/thread_pool.h"
#include "sitecount/presence_rows.h"

// Counts the bytes that pass through another source, for a progress display on another
// thread: under a decompressing source, the stored bytes, to set against the file's size.
class CountingSource : public ByteSource {
 public:
  explicit CountingSource(std::unique_ptr<ByteSource> inner) : inner_(std::move(inner)) {}
  std::ptrdiff_t Read(char* buffer, std::size_t capacity) override;
  std::string Problem() const override { return inner_->Problem(); }
  std::uint64_t bytes() const { return bytes_.load(std::memory_order_relaxed); }

 private:
  std::unique_ptr<ByteSource> inner_;
  std::atomic<std::uint64_t> bytes_{0};
};

// Shows how far a long run has come on one self-updating line of standard error: records
// and residues counted, the rate, and the share of the input read when its size is known.
// Only when standard error is a terminal, and only once the run has lasted about a second,
// so scripts and short runs see no byte of it; the line is cleared when the run ends.
class ProgressLine {
 public:
  // `input_bytes` is the size of the input, 0 when unknown; `source` counts what was read.
  ProgressLine(const PresenceProgress& progress, const CountingSource& source,
               std::uint64_t input_bytes);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

 private:
  void Run();

  const PresenceProgress& progress_;
  const CountingSource& source_;
  const std::uint64_t input_bytes_;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::optional<BackgroundTask> task_;  // last: it runs with every member above
};
