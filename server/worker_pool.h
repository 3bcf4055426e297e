#pragma once
// The threads that do a request's work (a dump's add, a ledger read, an
// answer streamed from its snapshot), apart from the threads that wait on
// the clients' sockets: a connection holds a worker only while there is
// work for it, and a request waiting for one waits in the queue, never cut.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
 public:
  explicit WorkerPool(int threads);
  // Waits for the tasks queued and running.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void Post(std::function<void()> task);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};
