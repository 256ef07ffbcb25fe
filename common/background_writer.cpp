#include "common/background_writer.h"

#include <utility>

BackgroundWriter::BackgroundWriter(std::ostream& out) : out_(out), thread_([this] { Run(); }) {}

// A writer destroyed unfinished belongs to an output being abandoned: how its writing ended
// no longer matters.
BackgroundWriter::~BackgroundWriter() { static_cast<void>(Finish()); }

bool BackgroundWriter::Write(std::string& block) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !has_pending_; });
  if (failed_) {
    block.clear();
    return false;
  }
  pending_.swap(block);
  block.clear();
  has_pending_ = true;
  lock.unlock();
  changed_.notify_all();
  return true;
}

bool BackgroundWriter::Finish() {
  {
    const std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  return !failed_;
}

void BackgroundWriter::Run() {
  std::string writing;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return has_pending_ || finishing_; });
      if (!has_pending_) return;
      // The block to write is taken out, and the storage of the one written last goes
      // back into the slot for the producer to reuse.
      writing.swap(pending_);
      has_pending_ = false;
    }
    changed_.notify_all();
    out_.write(writing.data(), static_cast<std::streamsize>(writing.size()));
    if (!out_) {
      const std::lock_guard lock(mutex_);
      failed_ = true;
    }
  }
}
