#include "app/link_worker.h"

#include <utility>

namespace tkb {

LinkWorker::LinkWorker() : thread_([this] { run(); }) {}

LinkWorker::~LinkWorker() { stop(); }

void LinkWorker::post(Job job) {
  {
    const std::lock_guard lock(mutex_);
    if (stopping_) return;
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void LinkWorker::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable() && !onLinkThread()) thread_.join();
}

int LinkWorker::pending() const {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(jobs_.size()) + (running_ ? 1 : 0);
}

void LinkWorker::run() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // stopping, and everything queued has run
      job = std::move(jobs_.front());
      jobs_.pop_front();
      running_ = true;
    }
    job();
    const std::lock_guard lock(mutex_);
    running_ = false;
  }
}

}  // namespace tkb
