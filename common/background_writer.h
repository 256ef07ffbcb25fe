#pragma once

#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

// Writes blocks of text to a stream from a thread of its own, so that making the next
// block and writing this one overlap. The stream must not be touched by anyone else until
// Finish has returned.
class BackgroundWriter {
 public:
  explicit BackgroundWriter(std::ostream& out);
  ~BackgroundWriter();
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // Hands `block` over to be written after the blocks before it; `block` comes back empty,
  // with the storage of an earlier block to fill again. False once a write has failed.
  [[nodiscard]] bool Write(std::string& block);

  // Waits until every block is written; false when any write failed.
  [[nodiscard]] bool Finish();

 private:
  void Run();

  std::ostream& out_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string pending_;  // the block waiting to be written
  bool has_pending_ = false;
  bool finishing_ = false;
  bool failed_ = false;
  std::thread thread_;  // started last, once every member above exists
};
