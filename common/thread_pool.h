#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The threads of every program: a pool that runs one job on all its threads at once, a
// task on a thread of its own, and a bounded queue that hands batches from one thread to
// another in order and back again for reuse. A thread that cannot be started throws
// std::system_error from the constructor that starts it, after every thread it had
// started has stopped; a program reports that like running out of memory.

// Threads that run one job together with the calling thread and return when all are done.
class WorkerPool {
 public:
  // Starts `helpers` threads beside the caller's.
  explicit WorkerPool(std::size_t helpers);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Threads that run a job, the caller's included.
  std::size_t size() const { return threads_.size() + 1; }

  // Runs job(thread_index) on every thread, the caller being thread 0, and returns when
  // all have finished. What a job throws on any thread is thrown again here (the caller's
  // own first), once every thread has finished.
  void Run(const std::function<void(std::size_t)>& job);

 private:
  void Work(std::size_t thread_index);
  void StopAll();

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void(std::size_t)>* job_ = nullptr;
  std::size_t running_ = 0;
  std::exception_ptr error_;
  std::uint64_t generation_ = 0;
  bool stopping_ = false;
};

// A task run on a thread of its own from construction on. Join waits for it and throws
// again what it threw; the destructor waits for it too, dropping what it threw.
class BackgroundTask {
 public:
  explicit BackgroundTask(std::function<void()> task);
  ~BackgroundTask();
  BackgroundTask(const BackgroundTask&) = delete;
  BackgroundTask& operator=(const BackgroundTask&) = delete;

  void Join();

 private:
  std::function<void()> task_;
  std::exception_ptr error_;
  std::thread thread_;  // started last, once the members above exist
};

// Items handed from a producer to a consumer in the order they were given, and back empty
// for reuse: at most `capacity` items ever exist, which bounds the memory. The producer
// takes free items and gives filled ones; the consumer takes filled ones and gives them
// back free.
template <typename Item>
class RecyclingQueue {
 public:
  explicit RecyclingQueue(std::size_t capacity) {
    for (std::size_t index = 0; index < capacity; ++index) {
      free_.push_back(std::make_unique<Item>());
    }
  }

  // Null once Stop was called.
  std::unique_ptr<Item> TakeFree() { return Take(free_, stopped_); }
  void GiveFree(std::unique_ptr<Item> item) { Give(free_, std::move(item)); }
  // Null once Finish was called and every filled item was taken.
  std::unique_ptr<Item> TakeFilled() { return Take(filled_, finished_); }
  void GiveFilled(std::unique_ptr<Item> item) { Give(filled_, std::move(item)); }

  // The producer has given its last item.
  void Finish() { Set(finished_); }
  // The consumer wants no more: the producer gets no free item any more.
  void Stop() { Set(stopped_); }

 private:
  std::unique_ptr<Item> Take(std::deque<std::unique_ptr<Item>>& from, const bool& ended) {
    std::unique_lock lock(mutex_);
    const bool taking_free = &from == &free_;
    changed_.wait(lock, [&] { return !from.empty() || ended; });
    // A stopped producer gets nothing even when free items remain.
    if (from.empty() || (taking_free && ended)) return nullptr;
    std::unique_ptr<Item> item = std::move(from.front());
    from.pop_front();
    return item;
  }
  void Give(std::deque<std::unique_ptr<Item>>& to, std::unique_ptr<Item> item) {
    {
      const std::lock_guard lock(mutex_);
      to.push_back(std::move(item));
    }
    changed_.notify_all();
  }
  void Set(bool& flag) {
    {
      const std::lock_guard lock(mutex_);
      flag = true;
    }
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Item>> free_;
  std::deque<std::unique_ptr<Item>> filled_;
  bool finished_ = false;
  bool stopped_ = false;
};

// The body of a producer task: takes free items, fills each with fill(item) until fill
// returns false or the consumer stops the queue, hands each on filled, and finishes the
// queue however it ends (an exception included), so that the consumer's loop always ends.
template <typename Item, typename Fill>
std::function<void()> ProducerLoop(RecyclingQueue<Item>& queue, Fill fill) {
  return [&queue, fill]() mutable {
    struct FinishAtEnd {
      RecyclingQueue<Item>& queue;
      ~FinishAtEnd() { queue.Finish(); }
    } finish_at_end{queue};
    for (std::unique_ptr<Item> item; (item = queue.TakeFree()) != nullptr;) {
      if (!fill(*item)) break;
      queue.GiveFilled(std::move(item));
    }
  };
}
