#include "server/stream_pipe.h"

bool StreamPipe::Push(std::string piece, const std::function<void()>& wakeWriter) {
  std::unique_lock<std::mutex> lock(mutex_);
  room_.wait(lock, [this] { return failed_ || bytes_ < bound_; });
  if (failed_) return false;
  bytes_ += piece.size();
  pieces_.push_back(std::move(piece));
  const bool wake = writerWaiting_;
  writerWaiting_ = false;
  lock.unlock();
  if (wake) wakeWriter();
  return true;
}

void StreamPipe::Finish(bool whole, const std::function<void()>& wakeWriter) {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_ = true;
  whole_ = whole;
  const bool wake = writerWaiting_;
  writerWaiting_ = false;
  lock.unlock();
  if (wake) wakeWriter();
}

StreamPipe::Next StreamPipe::Take(std::string* piece) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!pieces_.empty()) {
    *piece = std::move(pieces_.front());
    pieces_.pop_front();
    bytes_ -= piece->size();
    room_.notify_one();
    return Piece;
  }
  if (finished_) return whole_ ? End : Cut;
  writerWaiting_ = true;
  return Wait;
}

void StreamPipe::Fail() {
  std::lock_guard<std::mutex> lock(mutex_);
  failed_ = true;
  room_.notify_all();
}

bool PipeSink::Write(std::string piece) {
  if (gone_) return false;
  if (piece.empty()) return true;
  gone_ = !pipe_->Push(std::move(piece), wakeWriter_);
  return !gone_;
}
