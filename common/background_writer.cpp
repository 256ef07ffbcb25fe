#include "common/background_writer.h"

#include <algorithm>
#include <utility>

BackgroundWriter::BackgroundWriter(std::ostream& out, std::size_t depth)
    : out_(out), depth_(std::max<std::size_t>(depth, 1)), thread_([this] { Run(); }) {}

// A writer destroyed unfinished belongs to an output being abandoned: how its writing ended
// no longer matters.
BackgroundWriter::~BackgroundWriter() { static_cast<void>(Finish()); }

bool BackgroundWriter::Write(std::string& block) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return pending_.size() < depth_; });
  if (failed_) {
    block.clear();
    return false;
  }
  pending_.push_back(std::move(block));
  block.clear();
  if (!spare_.empty()) {
    block.swap(spare_.back());
    spare_.pop_back();
  }
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
      changed_.wait(lock, [this] { return !pending_.empty() || finishing_; });
      if (pending_.empty()) return;
      // The storage of the block written last goes to the spares, for Write to hand back:
      // one spare per block taken here and one handed back per block handed over keep them
      // at most depth + 2, which bounds the memory.
      writing.clear();
      spare_.push_back(std::move(writing));
      writing = std::move(pending_.front());
      pending_.pop_front();
    }
    changed_.notify_all();
    out_.write(writing.data(), static_cast<std::streamsize>(writing.size()));
    if (!out_) {
      const std::lock_guard lock(mutex_);
      failed_ = true;
    }
  }
}
