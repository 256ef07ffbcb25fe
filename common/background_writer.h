#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

// Writes blocks of text to a stream from a thread of its own, so that making the next
// blocks and writing this one overlap. The stream must not be touched by anyone else until
// Finish has returned.
class BackgroundWriter {
 public:
  // Up to `depth` blocks (at least one) wait to be written besides the one being written.
  explicit BackgroundWriter(std::ostream& out, std::size_t depth = 1);
  ~BackgroundWriter();
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // Hands `block` over to be written after the blocks before it, first waiting until fewer
  // than `depth` wait; `block` comes back empty, with the storage of an earlier block to fill
  // again where there is one. False once a write has failed.
  [[nodiscard]] bool Write(std::string& block);

  // Waits until every block is written; false when any write failed.
  [[nodiscard]] bool Finish();

 private:
  void Run();

  std::ostream& out_;
  const std::size_t depth_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> pending_;  // the blocks waiting to be written, in order
  std::vector<std::string> spare_;   // the storage of blocks written, emptied
  bool finishing_ = false;
  bool failed_ = false;
  std::thread thread_;  // started last, once every member above exists
};
