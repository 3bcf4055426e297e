// Writes on the RFC 2217 line that the connection cuts short, against the
// simulator's device server played in memory: only there can a cut fall
// between the two bytes of a doubled 0xFF for certain.
#include "link/rfc2217_line.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

#include "sim/line_framing.h"

using namespace telnet;

namespace {

using Bytes = std::vector<uint8_t>;

// The device server's side of RFC 2217 (as the simulator plays it) at the
// far end of a connection that takes at most `room` bytes per send.
class ServerInMemory : public NetConnection {
 public:
  ServerInMemory(Bytes* heard, const int32_t* room) : framing_(&settings_), heard_(heard), room_(room) {}

  int32_t Receive(void* buffer, int32_t count, int) override {
    int32_t n = 0;
    for (; n < count && !replies_.empty(); ++n) {
      static_cast<uint8_t*>(buffer)[n] = replies_.front();
      replies_.pop_front();
    }
    return n;
  }
  int32_t Send(const void* bytes, int32_t count, int) override {
    int32_t n = count < *room_ ? count : *room_;
    Bytes reply;
    framing_.FromHost(static_cast<const uint8_t*>(bytes), static_cast<size_t>(n), heard_, &reply);
    replies_.insert(replies_.end(), reply.begin(), reply.end());
    return n;
  }
  int32_t Pending() override { return static_cast<int32_t>(replies_.size()); }
  // Something the server says of its own accord.
  void Say(const Bytes& bytes) { replies_.insert(replies_.end(), bytes.begin(), bytes.end()); }

 private:
  LineSettings settings_;
  Rfc2217Framing framing_;
  Bytes* heard_;
  const int32_t* room_;
  std::deque<uint8_t> replies_;
};

TEST(TelnetBytesSent, AByteCountsWhenItsWholeEncodingWentAndAHalfPairIsTold) {
  const Bytes line = {'A', 0xFF, 'B'};  // on the connection: A FF FF B
  bool half = true;
  EXPECT_EQ(0, TelnetBytesSent(line.data(), 3, 0, &half));
  EXPECT_FALSE(half);
  EXPECT_EQ(1, TelnetBytesSent(line.data(), 3, 1, &half));
  EXPECT_FALSE(half);
  EXPECT_EQ(1, TelnetBytesSent(line.data(), 3, 2, &half));
  EXPECT_TRUE(half) << "the first IAC of the pair went";
  EXPECT_EQ(2, TelnetBytesSent(line.data(), 3, 3, &half));
  EXPECT_FALSE(half);
  EXPECT_EQ(3, TelnetBytesSent(line.data(), 3, 4, &half));
  EXPECT_FALSE(half);
}

// A write cut between the two bytes of a doubled 0xFF: the 0xFF counts as
// written, and the next bytes sent begin with its second half, so the server
// takes every byte once and none as a command.
TEST(Rfc2217LineWrite, ACutInsideADoubledFfResumesWithItsSecondHalf) {
  Bytes heard;
  int32_t room = 1 << 20;
  std::string why;
  auto connection = std::make_unique<ServerInMemory>(&heard, &room);
  ServerInMemory* server = connection.get();
  std::unique_ptr<Rfc2217Line> line = Rfc2217Line::Open(std::move(connection), 9600, &why);
  ASSERT_TRUE(line) << why;

  const Bytes first = {0xFF, 0xFF, 'A'};  // on the connection: FF FF FF FF 41
  room = 3;                               // cut after the first byte of the second pair
  EXPECT_EQ(2, line->Write(first.data(), 3));
  room = 1 << 20;
  const Bytes rest = {'A', 0xFF, 'B'};
  EXPECT_EQ(3, line->Write(rest.data(), 3));
  EXPECT_EQ((Bytes{0xFF, 0xFF, 'A', 0xFF, 'B'}), heard);

  // Cut before a pair: nothing owed, the pair goes whole later.
  heard.clear();
  room = 1;
  const Bytes pair = {'C', 0xFF};  // C FF FF
  EXPECT_EQ(1, line->Write(pair.data(), 2));
  room = 1 << 20;
  EXPECT_EQ(1, line->Write(pair.data() + 1, 1));
  EXPECT_EQ((Bytes{'C', 0xFF}), heard);

  // What is owed goes before anything else, an answer to the server's
  // Telnet included (here the refusal of its echo).
  heard.clear();
  room = 1;
  const Bytes ff = {0xFF};
  EXPECT_EQ(1, line->Write(ff.data(), 1));
  room = 1 << 20;
  server->Say({kIac, kWill, kEcho});
  EXPECT_EQ(0, line->InputWaiting());
  EXPECT_EQ((Bytes{0xFF}), heard) << "the pair completed, the answer taken as Telnet";
  const Bytes tail = {'Z'};
  EXPECT_EQ(1, line->Write(tail.data(), 1));
  EXPECT_EQ((Bytes{0xFF, 'Z'}), heard);
}

}  // namespace
