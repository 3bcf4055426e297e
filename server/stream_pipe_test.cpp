#include "server/stream_pipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(StreamPipe, TheWorkerWaitsForRoomAndTheWriterIsWokenForWhatComes) {
  auto pipe = std::make_shared<StreamPipe>(8);
  std::atomic<int> wakes{0};
  auto wake = [&] { ++wakes; };
  std::string piece;
  EXPECT_EQ(StreamPipe::Wait, pipe->Take(&piece));
  // The writer waits: the first piece wakes it, the second finds it awake.
  ASSERT_TRUE(pipe->Push("12345678", wake));
  EXPECT_EQ(1, wakes.load());
  std::atomic<bool> pushed{false};
  std::thread worker([&] {
    pushed = pipe->Push("9", wake);  // waits: the bound is full
    pipe->Finish(true, wake);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(pushed.load());
  ASSERT_EQ(StreamPipe::Piece, pipe->Take(&piece));
  EXPECT_EQ("12345678", piece);
  worker.join();
  EXPECT_TRUE(pushed.load());
  ASSERT_EQ(StreamPipe::Piece, pipe->Take(&piece));
  EXPECT_EQ("9", piece);
  EXPECT_EQ(StreamPipe::End, pipe->Take(&piece));
}

TEST(StreamPipe, AConnectionGoneStopsTheWorkerEvenWhileItWaits) {
  auto pipe = std::make_shared<StreamPipe>(4);
  PipeSink sink(pipe, [] {});
  EXPECT_TRUE(sink.Write(""));  // nothing to send, and no end of the answer
  std::string piece;
  EXPECT_EQ(StreamPipe::Wait, pipe->Take(&piece));
  ASSERT_TRUE(sink.Write("abcd"));
  std::atomic<bool> result{true};
  std::thread worker([&] { result = sink.Write("more"); });
  pipe->Fail();
  worker.join();
  EXPECT_FALSE(result.load());
  EXPECT_TRUE(sink.gone());
  EXPECT_FALSE(sink.Write("again"));
}

TEST(StreamPipe, AnAnswerGivenUpIsCutNotEnded) {
  StreamPipe pipe(1024);
  ASSERT_TRUE(pipe.Push("part", [] {}));
  pipe.Finish(false, [] {});
  std::string piece;
  EXPECT_EQ(StreamPipe::Piece, pipe.Take(&piece));
  EXPECT_EQ(StreamPipe::Cut, pipe.Take(&piece));
}

}  // namespace
