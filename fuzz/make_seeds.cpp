// fuzz_seeds FOLDER: writes the seed corpora of the fuzz targets into
// FOLDER/dump, FOLDER/link, FOLDER/bounds, FOLDER/settings, FOLDER/telnet and
// FOLDER/rfc2217: images from the dump builder and the generator, what the
// simulated device says in each of its modes, and what a device server says
// on a Telnet connection, laid out as the targets read their input.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/dump_input.h"
#include "fuzz/link_input.h"
#include "link/telnet.h"
#include "settings/ini_store.h"
#include "sim/device_session.h"
#include "sim/dump_builder.h"
#include "sim/line_framing.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kRecordPartMax = 3000;
constexpr size_t kLookAhead = 11;  // an erased block: ends the decimal-mode area
constexpr size_t kImageExcerpt = 2048;
constexpr uint8_t kWholeAndRight = DumpWholeImageMask | DumpFixRecordCrcs | DumpFixAreaCrcs;

bool failed = false;

void Write(const std::filesystem::path& file, const Bytes& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) {
    std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", file.string().c_str());
    failed = true;
  }
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A generated image of `reports` reports.
Bytes Generated(uint32_t seed, int variant, int reports) {
  GenerateOptions options;
  options.seed = seed;
  options.variant = variant;
  options.reports = reports;
  return GenerateDump(options);
}

// bytes[from, to) without the erased bytes at its end.
Bytes Trimmed(const Bytes& bytes, size_t from, size_t to) {
  to = std::min(to, bytes.size());
  while (to > from && bytes[to - 1] == 0xFF) --to;
  return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}

void DumpSeeds(const std::filesystem::path& folder) {
  const uint16_t rates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};
  for (int variant : {2, 3}) {
    for (uint32_t seed : {1u, 2u}) {
      const Bytes image = Generated(seed, variant, 12);
      const size_t area = DecimalModeAreaOffset(variant);
      const Bytes records = Trimmed(image, 0, kRecordPartMax);
      Bytes areaPart = Trimmed(image, area, area + 64);
      areaPart.resize(areaPart.size() + kLookAhead, 0xFF);
      const uint8_t flags = variant == 2 ? DumpVariant2 : 0;
      const std::string name = "generated-v" + std::to_string(variant) + "-seed" + std::to_string(seed);
      // A whole variant-3 image costs a walk over 2 MB: one seed of it is enough.
      if (variant == 2 || seed == 1)
        Write(folder / (name + "-whole"), EncodeDumpInput(flags | kWholeAndRight, records, areaPart));
      Write(folder / (name + "-records"), EncodeDumpInput(flags | DumpFixRecordCrcs, records, {}));
    }

    // Whole numbers for reports 5 to 8, read from an area after a model record
    // that the harness puts where the device does.
    DumpBuilder area;
    area.DecimalMode(0, kModeFractional).DecimalMode(5, kModeWhole).DecimalMode(9, kModeFractional).Erased(kLookAhead);
    DumpBuilder records;
    ReportData report;
    report.dateTime = PackDateTime(12, 3, 15, 20, 30);
    report.groups[0] = 123456;
    report.departments[0] = {"Bread", 123456, 0};
    report.payments[0] = {123456, 0};
    records.ModeAndRates(kModeFractional, rates);
    for (uint16_t number = 4; number <= 9; ++number) {
      report.number = number;
      records.Report(report, variant);
    }
    const uint8_t flags = (variant == 2 ? DumpVariant2 : 0) | DumpModelAfterErased | kWholeAndRight;
    Write(folder / ("decimal-modes-v" + std::to_string(variant)),
          EncodeDumpInput(flags, records.bytes(), area.bytes()));
  }

  // Damage and oddities in the record stream: a report before any rate, an
  // unknown type framed with the last length, a bad CRC, gaps of erased bytes.
  DumpBuilder odd;
  ReportData report;
  report.number = 1;
  report.dateTime = PackDateTime(11, 1, 31, 23, 59);
  report.groups[1] = 999;
  odd.Erased(16).ModelRecord().Report(report).Filler(2).Filler(11).Erased(5).Rates(rates);
  report.number = 2;
  odd.Report(report).CorruptLastCrc().Erased(22).Filler(13).Report(report);
  Write(folder / "odd-records", EncodeDumpInput(0, odd.bytes(), {}));
}

struct LinkSeed {
  const char* name;
  DeviceMode mode;
};

void LinkSeeds(const std::filesystem::path& folder) {
  const Bytes image = Generated(1, 3, 4);
  DeviceOptions options;
  options.image.assign(image.begin(), image.begin() + kImageExcerpt);
  for (LinkSeed seed : {LinkSeed{"normal", DeviceMode::Normal}, {"silent", DeviceMode::Silent},
                        {"bad-receipt", DeviceMode::BadReceipt}, {"long-reply", DeviceMode::LongReply},
                        {"refuse", DeviceMode::Refuse}, {"no-dump", DeviceMode::NoDump},
                        {"pause", DeviceMode::Pause}, {"oversize", DeviceMode::Oversize},
                        {"hang-up", DeviceMode::HangUp}}) {
    options.mode = seed.mode;
    DeviceSession device(options);
    device.Receive(kIdentifyFrame, sizeof kIdentifyFrame);
    Bytes identify;
    if (Transmission* said = device.current()) identify.assign(said->bytes->begin(), said->bytes->begin() + said->length);
    device.Finish();

    const Bytes command = DumpCommandFrame(options.id);
    device.Receive(command.data(), command.size());
    Bytes dump;
    uint8_t flags = 0;
    uint16_t silence = 0xFFFF;
    if (Transmission* said = device.current()) {
      // An over-long stream goes into the seed as the image and the padding flag.
      size_t length = std::min(said->length, options.image.size());
      dump.assign(said->bytes->begin(), said->bytes->begin() + static_cast<long>(length));
      if (said->length > options.image.size()) flags |= LinkPadToOversize;
      if (said->hangUpAfter) flags |= LinkFailsAfterDump;
      if (said->pauseAt != Transmission::kNoPause) silence = static_cast<uint16_t>(said->pauseAt);
    }
    Write(folder / seed.name, EncodeLinkInput(flags, 0, silence, identify, dump));
  }
  // The device's whole image over a slow line, padded by the harness.
  DeviceSession device(options);
  device.Receive(kIdentifyFrame, sizeof kIdentifyFrame);
  const Transmission* said = device.current();
  Bytes identify(said->bytes->begin(), said->bytes->begin() + said->length);
  Write(folder / "whole-image-slow-line", EncodeLinkInput(LinkPadToImage, 7, 0xFFFF, identify, options.image));
}

void BoundSeeds(const std::filesystem::path& folder) {
  const char* const texts[] = {"01/03/2010", "31/12/3000", "1/1/3001",    "29/02/2012", "31/04/2010",
                               " 1/ 2/2010xyz", "-5/3/2010", "0x1A",      "017",        "-1",
                               "99999999999", "  42abc",   "4294967296", "0X",         "08",
                               "1/-2147483648/2000", "31/12/2147483647", "-2147483648"};
  int index = 0;
  for (const char* text : texts) Write(folder / ("bound-" + std::to_string(++index)), Text(text));
}

void SettingsSeeds(const std::filesystem::path& folder) {
  // What the program itself writes, key by key.
  std::string written;
  const char* const entries[][2] = {{"Port", "COM3"},   {"BaudRate", "115200"}, {"FileName", "/tmp/123456.bin"},
                                    {"Start", "01/03/2010"}, {"End", "31/03/2010"}, {"Type", "2"},
                                    {"ShowFile", "1"}};
  for (const auto& entry : entries) written = IniAssign(written, "main", entry[0], entry[1]);
  Write(folder / "written", Text(written));
  Write(folder / "hand-edited",
        Text("; settings\n[Other]\nPort=COM9\n\n[ MAIN ]\r\n  port = \"COM2\"  \r\nFileName='a b.bin'\rType=12\n"
             "[main]\nShowFile=1"));
  Write(folder / "new-key", Text(std::string("main\0End\0 \"31/12/2011\" \0", 24) + written));
}

// What a device server says to the RFC 2217 line: the simulator's server
// answering the line's offers and settings, then the start of an image with
// an overrun told in it.
Bytes ServerConversation(uint32_t baud) {
  using namespace telnet;
  Bytes client;
  TelnetNegotiate(kWill, kComPort, &client);
  TelnetNegotiate(kWill, kBinary, &client);
  TelnetNegotiate(kDo, kBinary, &client);
  TelnetNegotiate(kDo, kSuppressGoAhead, &client);
  TelnetSubnegotiate(kComPort, {kSetBaudRate, static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                                static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)},
                     &client);
  for (uint8_t command : {kSetDataSize, kSetParity, kSetStopSize, kSetControl}) {
    uint8_t value = command == kSetDataSize ? 8 : 1;
    TelnetSubnegotiate(kComPort, {command, value}, &client);
  }
  TelnetSubnegotiate(kComPort, {kSetLineStateMask, kLineOverrun | kLineParityError | kLineFramingError}, &client);
  LineSettings settings;
  Rfc2217Framing server(&settings, 300);
  Bytes heard, said;
  server.FromHost(client.data(), client.size(), &heard, &said);
  const Bytes image = Generated(1, 2, 4);
  const Bytes reply = {0x0E, '1', '2', '3', '4', '5', '6', '\r', '\n'};
  server.ToHost(reply.data(), reply.size(), &said);
  server.ToHost(image.data(), 200, &said);
  server.ToHost(image.data() + 200, 400, &said);
  return said;
}

void TelnetSeeds(const std::filesystem::path& folder) {
  using namespace telnet;
  // ser2net's telnet accepter opens with these.
  const Bytes opening = {kIac, kWill, kSuppressGoAhead, kIac, kDo, kSuppressGoAhead, kIac, kWill, kEcho,
                         kIac, kDont, kEcho, kIac, kDo, kBinary, kIac, kWill, kBinary};
  Bytes seed = {0};
  seed.insert(seed.end(), opening.begin(), opening.end());
  seed.insert(seed.end(), {'P', 'o', 'r', 't', '\r', '\n'});
  Write(folder / "ser2net-opening", seed);
  Bytes conversation = {3};
  const Bytes said = ServerConversation(115200);
  conversation.insert(conversation.end(), said.begin(), said.end());
  Write(folder / "server-conversation", conversation);
  Bytes endless = {1, 'a', kIac, kSb, kComPort, 106};
  endless.insert(endless.end(), 300, 'x');
  Write(folder / "endless-subnegotiation", endless);
}

void Rfc2217Seeds(const std::filesystem::path& folder) {
  for (uint8_t speed = 0; speed < 5; ++speed) {
    static const uint32_t kBauds[5] = {9600, 19200, 38400, 57600, 115200};
    Bytes seed = {static_cast<uint8_t>(speed * 7), speed};
    const Bytes said = ServerConversation(kBauds[speed]);
    seed.insert(seed.end(), said.begin(), said.end());
    Write(folder / ("server-" + std::to_string(kBauds[speed])), seed);
  }
  // Binary refused, and a server that sets another speed.
  using namespace telnet;
  Bytes refusing = {0, 4, kIac, kDo, kComPort, kIac, kDont, kBinary, kIac, kWill, kBinary};
  Write(folder / "binary-refused", refusing);
  Bytes other = {0, 4};
  const Bytes said = ServerConversation(9600);
  other.insert(other.end(), said.begin(), said.end());
  Write(folder / "other-speed", other);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  std::error_code ec;
  for (const char* target : {"dump", "link", "bounds", "settings", "telnet", "rfc2217"}) {
    std::filesystem::create_directories(root / target, ec);
    if (ec) {
      std::fprintf(stderr, "fuzz_seeds: cannot create %s: %s\n", (root / target).string().c_str(),
                   ec.message().c_str());
      return 1;
    }
  }
  DumpSeeds(root / "dump");
  LinkSeeds(root / "link");
  BoundSeeds(root / "bounds");
  SettingsSeeds(root / "settings");
  TelnetSeeds(root / "telnet");
  Rfc2217Seeds(root / "rfc2217");
  return failed ? 1 : 0;
}
