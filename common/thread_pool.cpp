#include "common/thread_pool.h"

#include <utility>

WorkerPool::WorkerPool(std::size_t helpers) {
  try {
    threads_.reserve(helpers);
    for (std::size_t index = 0; index < helpers; ++index) {
      threads_.emplace_back([this, index] { Work(index + 1); });
    }
  } catch (...) {
    // The destructor does not run for a constructor that throws: the threads that did
    // start are stopped here, so that none outlives the pool.
    StopAll();
    throw;
  }
}

WorkerPool::~WorkerPool() { StopAll(); }

void WorkerPool::StopAll() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

void WorkerPool::Run(const std::function<void(std::size_t)>& job) {
  {
    const std::lock_guard lock(mutex_);
    job_ = &job;
    running_ = threads_.size();
    ++generation_;
  }
  wake_.notify_all();
  std::exception_ptr own_error;
  try {
    job(0);
  } catch (...) {
    own_error = std::current_exception();
  }
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return running_ == 0; });
  job_ = nullptr;
  if (own_error == nullptr) own_error = std::exchange(error_, nullptr);
  error_ = nullptr;
  if (own_error != nullptr) std::rethrow_exception(own_error);
}

void WorkerPool::Work(std::size_t thread_index) {
  std::uint64_t seen = 0;
  for (;;) {
    const std::function<void(std::size_t)>* job = nullptr;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      job = job_;
    }
    std::exception_ptr error;
    try {
      (*job)(thread_index);
    } catch (...) {
      error = std::current_exception();
    }
    {
      const std::lock_guard lock(mutex_);
      if (error != nullptr && error_ == nullptr) error_ = error;
      --running_;
    }
    done_.notify_one();
  }
}

BackgroundTask::BackgroundTask(std::function<void()> task)
    : task_(std::move(task)), thread_([this] {
        try {
          task_();
        } catch (...) {
          error_ = std::current_exception();
        }
      }) {}

BackgroundTask::~BackgroundTask() {
  if (thread_.joinable()) thread_.join();
}

void BackgroundTask::Join() {
  if (thread_.joinable()) thread_.join();
  if (error_ != nullptr) std::rethrow_exception(std::exchange(error_, nullptr));
}
