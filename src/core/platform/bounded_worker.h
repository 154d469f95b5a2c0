#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace pyranex {

// A thread of its own behind a bounded queue, for work that must never hold up the thread that
// hands it over (the poll or interface thread). Push never blocks: when the queue is full the
// oldest queued item is dropped and counted. The handler gets everything queued at once, and
// also an empty batch every `idlePeriod`, so it can do timed work (a commit, a reconnect).
template <typename T>
class BoundedWorker {
 public:
  using Handler = std::function<void(std::vector<T>& batch)>;

  BoundedWorker(std::string threadName, size_t capacity, std::chrono::milliseconds idlePeriod,
                Handler handler)
      : name_(std::move(threadName)),
        capacity_(capacity == 0 ? 1 : capacity),
        idlePeriod_(idlePeriod),
        handler_(std::move(handler)),
        thread_([this] { Run(); }) {}

  ~BoundedWorker() { Stop(); }
  BoundedWorker(const BoundedWorker&) = delete;
  BoundedWorker& operator=(const BoundedWorker&) = delete;

  // False when an older item had to be dropped to make room (or the worker has stopped).
  bool Push(T item) {
    bool dropped = false;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) {
        ++dropped_;
        return false;
      }
      if (queue_.size() >= capacity_) {
        queue_.pop_front();
        ++dropped_;
        ++done_;
        dropped = true;
      }
      queue_.push_back(std::move(item));
      ++pushed_;
    }
    wake_.notify_all();
    return !dropped;
  }

  // Waits until every item pushed before the call has been handled or dropped.
  void Flush() {
    std::unique_lock lock(mutex_);
    const uint64_t target = pushed_;
    wake_.notify_all();
    idle_.wait(lock, [&] { return done_ >= target || !running_; });
  }

  // Handles what is still queued, then ends the thread. Idempotent.
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  uint64_t Dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
  }
  size_t Pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
  }
  size_t Capacity() const { return capacity_; }

 private:
  void Run() {
#if defined(__linux__)
    pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
#endif
    std::vector<T> batch;
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait_for(lock, idlePeriod_, [this] { return stopping_ || !queue_.empty(); });
      const bool last = stopping_;
      batch.assign(std::make_move_iterator(queue_.begin()), std::make_move_iterator(queue_.end()));
      queue_.clear();
      lock.unlock();
      const size_t taken = batch.size();
      handler_(batch);
      batch.clear();
      lock.lock();
      done_ += taken;
      idle_.notify_all();
      if (last && queue_.empty()) break;
    }
    running_ = false;
    idle_.notify_all();
  }

  const std::string name_;
  const size_t capacity_;
  const std::chrono::milliseconds idlePeriod_;
  Handler handler_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<T> queue_;
  uint64_t pushed_ = 0;
  uint64_t done_ = 0;
  uint64_t dropped_ = 0;
  bool stopping_ = false;
  bool running_ = true;
  std::thread thread_;  // last: starts once everything above is ready
};

}  // namespace pyranex
