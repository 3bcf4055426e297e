#pragma once
// The pieces of a streamed answer on their way from the worker that makes
// them to the connection that writes them. The worker waits while the
// pieces not yet written fill the bound, so a slow client slows the answer
// down instead of growing it; once the connection is gone the worker's next
// write fails, and it stops.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "server/api_answers.h"

class StreamPipe {
 public:
  enum Next { Piece, Wait, End, Cut };

  explicit StreamPipe(size_t bound) : bound_(bound) {}

  // The worker's side. Push waits for room; false once the connection is
  // gone. wakeWriter is called (on this thread) when the writer waits for
  // what comes.
  bool Push(std::string piece, const std::function<void()>& wakeWriter);
  // Every piece is pushed: whole, or given up (the answer is then cut off).
  void Finish(bool whole, const std::function<void()>& wakeWriter);

  // The connection's side: the next piece; Wait (it is woken when there is
  // more); End once every piece is taken of an answer finished whole; Cut of
  // one given up.
  Next Take(std::string* piece);
  // The connection is gone.
  void Fail();

 private:
  const size_t bound_;
  std::mutex mutex_;
  std::condition_variable room_;
  std::deque<std::string> pieces_;
  size_t bytes_ = 0;
  bool finished_ = false, whole_ = false, failed_ = false, writerWaiting_ = false;
};

// An AnswerSink over a pipe: empty pieces are dropped (an empty chunk would
// end the answer).
class PipeSink : public AnswerSink {
 public:
  PipeSink(std::shared_ptr<StreamPipe> pipe, std::function<void()> wakeWriter)
      : pipe_(std::move(pipe)), wakeWriter_(std::move(wakeWriter)) {}
  bool Write(std::string piece) override;
  bool gone() const { return gone_; }

 private:
  std::shared_ptr<StreamPipe> pipe_;
  std::function<void()> wakeWriter_;
  bool gone_ = false;
};
