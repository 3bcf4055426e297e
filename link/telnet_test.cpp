#include "link/telnet.h"

#include <gtest/gtest.h>

#include <vector>

using namespace telnet;

namespace {

using Bytes = std::vector<uint8_t>;

struct Decoded {
  Bytes data;
  std::vector<TelnetCommand> commands;
};

// Feeds the bytes in pieces of `piece` bytes, so that every sequence is also
// cut at every place.
Decoded Decode(const Bytes& bytes, size_t piece) {
  TelnetDecoder decoder;
  Decoded out;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    size_t n = std::min(piece, bytes.size() - at);
    decoder.Feed(bytes.data() + at, n, &out.data, &out.commands);
  }
  return out;
}

TEST(TelnetDecoder, LineBytesCommandsAndDoubledIacInAnyPieces) {
  const Bytes stream = {'A',  kIac, kIac, 'B',  kIac, kWill, kBinary, 0x00, kIac, kSb, kComPort,
                        101,  0x00, 0x01, 0xC2, 0x00, kIac, kSe,     kIac, 241,  'C', kIac, kIac,
                        kIac, kDont, kEcho};
  for (size_t piece = 1; piece <= stream.size(); ++piece) {
    Decoded out = Decode(stream, piece);
    EXPECT_EQ((Bytes{'A', 0xFF, 'B', 0x00, 'C', 0xFF}), out.data) << piece;
    ASSERT_EQ(3u, out.commands.size()) << piece;
    EXPECT_EQ(kWill, out.commands[0].verb);
    EXPECT_EQ(kBinary, out.commands[0].option);
    EXPECT_EQ(kSb, out.commands[1].verb);
    EXPECT_EQ(kComPort, out.commands[1].option);
    EXPECT_EQ((Bytes{101, 0x00, 0x01, 0xC2, 0x00}), out.commands[1].payload);
    EXPECT_EQ(kDont, out.commands[2].verb);
    EXPECT_EQ(kEcho, out.commands[2].option);
  }
}

TEST(TelnetDecoder, AnImageOfFfBytesComesThroughWhole) {
  Bytes image(5000, 0xFF), sent;
  TelnetEscape(image.data(), image.size(), &sent);
  EXPECT_EQ(10000u, sent.size());
  EXPECT_EQ(image, Decode(sent, 7).data);
}

TEST(TelnetDecoder, SubnegotiationKeepsItsDoubledIacAndIsBounded) {
  Bytes sent;
  TelnetSubnegotiate(kComPort, {101, 0xFF, 0x00, 0xFF, 0x01}, &sent);
  EXPECT_EQ((Bytes{kIac, kSb, kComPort, 101, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0x01, kIac, kSe}), sent);
  Decoded out = Decode(sent, 1);
  ASSERT_EQ(1u, out.commands.size());
  EXPECT_EQ((Bytes{101, 0xFF, 0x00, 0xFF, 0x01}), out.commands[0].payload);

  // One at the bound still ends well.
  Bytes longest = {kIac, kSb, kComPort};
  longest.insert(longest.end(), TelnetDecoder::kMaxPayload, 'x');
  longest.insert(longest.end(), {kIac, kSe, 'D'});
  out = Decode(longest, 5);
  ASSERT_EQ(1u, out.commands.size());
  EXPECT_EQ(TelnetDecoder::kMaxPayload, out.commands[0].payload.size());
  EXPECT_EQ(Bytes{'D'}, out.data);

  // A subnegotiation without end would swallow the line's bytes after it:
  // past its bound the stream is given up, and nothing more comes out of it,
  // whatever follows.
  Bytes endless = {'A', kIac, kSb, kComPort};
  endless.insert(endless.end(), 100000, 'x');
  endless.insert(endless.end(), {kIac, kSe, 'D', kIac, kWill, kBinary});
  for (size_t piece : {size_t(1), size_t(300), size_t(4096)}) {
    TelnetDecoder decoder;
    Decoded fed;
    for (size_t at = 0; at < endless.size(); at += piece) {
      decoder.Feed(endless.data() + at, std::min(piece, endless.size() - at), &fed.data, &fed.commands);
      if (at + piece >= 4 + TelnetDecoder::kMaxPayload + 1) {
        EXPECT_TRUE(decoder.broken()) << at;
      }
    }
    EXPECT_TRUE(decoder.broken());
    EXPECT_EQ(Bytes{'A'}, fed.data) << piece;
    EXPECT_TRUE(fed.commands.empty()) << piece;
  }
  out = Decode({kIac, kSb, kComPort, 1, kIac, 'Z', 'E'}, 1);
  EXPECT_TRUE(out.commands.empty());
  EXPECT_EQ(Bytes{'E'}, out.data);
}

TEST(TelnetOptions, AgreesOnceRefusesTheRestAndNeverAnswersAnAnswer) {
  TelnetOptions options({kComPort, kBinary}, {kBinary});
  Bytes out;
  options.Offer(kComPort, &out);
  options.Offer(kComPort, &out);  // asked already: not again
  EXPECT_EQ((Bytes{kIac, kWill, kComPort}), out);

  out.clear();
  options.Handle(kDo, kComPort, &out);  // the answer to our offer
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(options.LocalOn(kComPort));
  options.Handle(kDo, kComPort, &out);  // already on: no answer
  EXPECT_TRUE(out.empty());

  options.Handle(kWill, kBinary, &out);  // the other end offers: agreed once
  options.Handle(kWill, kBinary, &out);
  EXPECT_EQ((Bytes{kIac, kDo, kBinary}), out);
  EXPECT_TRUE(options.RemoteOn(kBinary));

  out.clear();
  options.Handle(kWill, kEcho, &out);  // not wanted: refused, even when asked again
  options.Handle(kDo, kSuppressGoAhead, &out);
  EXPECT_EQ((Bytes{kIac, kDont, kEcho, kIac, kWont, kSuppressGoAhead}), out);
  EXPECT_FALSE(options.RemoteOn(kEcho));

  out.clear();
  options.Handle(kWont, kBinary, &out);  // switched off: acknowledged once
  options.Handle(kWont, kBinary, &out);
  EXPECT_EQ((Bytes{kIac, kDont, kBinary}), out);
  EXPECT_FALSE(options.RemoteOn(kBinary));
}

TEST(TelnetOptions, ARefusedOfferIsToldApart) {
  TelnetOptions options({kComPort}, {});
  Bytes out;
  options.Offer(kComPort, &out);
  out.clear();
  options.Handle(kDont, kComPort, &out);
  EXPECT_TRUE(out.empty()) << "a refusal of our offer is not answered";
  EXPECT_TRUE(options.LocalRefused(kComPort));
  EXPECT_FALSE(options.LocalOn(kComPort));

  TelnetOptions asking({}, {kBinary});
  asking.Ask(kBinary, &out);
  asking.Handle(kWont, kBinary, &out);
  EXPECT_TRUE(asking.RemoteRefused(kBinary));

  // Agreed, then switched off: refused from then on, until agreed again.
  TelnetOptions later({kBinary}, {});
  later.Offer(kBinary, &out);
  later.Handle(kDo, kBinary, &out);
  EXPECT_FALSE(later.LocalRefused(kBinary));
  later.Handle(kDont, kBinary, &out);
  EXPECT_TRUE(later.LocalRefused(kBinary));
  later.Handle(kDo, kBinary, &out);
  EXPECT_TRUE(later.LocalOn(kBinary));
  EXPECT_FALSE(later.LocalRefused(kBinary));
}

}  // namespace
