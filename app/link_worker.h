// The link thread: one thread that runs the exchanges with the controller one job at a time,
// in the order the jobs were posted (the controller answers one request at a time, and the
// frames and trace lines of one action must not interleave with another's). The window's
// session posts a job and returns at once; the job reports back by itself. No Qt.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tkb {

class LinkWorker {
 public:
  using Job = std::function<void()>;

  LinkWorker();
  // Runs what is still queued, then ends the thread.
  ~LinkWorker();
  LinkWorker(const LinkWorker&) = delete;
  LinkWorker& operator=(const LinkWorker&) = delete;

  // Queues a job behind the others. After stop() jobs are dropped.
  void post(Job job);
  // Runs what is queued, then ends the thread and waits for it. Idempotent; not from a job.
  void stop();
  // True on the link thread itself (a job asking where it runs).
  bool onLinkThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  // Jobs queued or running.
  int pending() const;

 private:
  void run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool running_ = false;  // a job is under way
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tkb
