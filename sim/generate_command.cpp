// taxoscope-sim generate: a realistic dump image in a file.
#include <cstdio>
#include <string>
#include <vector>

#include "sim/command_args.h"
#include "sim/dump_builder.h"
#include "sim/sim_commands.h"

void PrintGenerateHelp() {
  std::printf(
      "usage: taxoscope-sim generate --out FILE [--seed N] [--variant 2|3] [--reports N]\n"
      "                              [--rates R1,R2,...] [--large]\n"
      "\n"
      "Writes the fiscal-memory image of a small shop's register, as the device\n"
      "sends it, to FILE. The same seed always gives the same bytes, and is the\n"
      "same register: fewer --reports give an earlier read of its memory.\n"
      "\n"
      "  --out FILE      the dump file to write (replaced if it exists)\n"
      "  --seed N        0 to 4294967295 (default 1)\n"
      "  --variant 2|3   model variant: 3 (default) has 334-byte reports with\n"
      "                  departments and payments and a 2,101,247-byte image;\n"
      "                  2 has 69-byte reports and a 131,071-byte image\n"
      "  --reports N     daily reports, 0 to 65535 (default 200); clamped to what\n"
      "                  fits below the decimal-mode area (about 6,000 on variant 3,\n"
      "                  about 1,700 on variant 2)\n"
      "  --rates R1,...  tax rates of groups 1 to 8 in percent, e.g. 20.00,9.00,7.50;\n"
      "                  0.00 to 655.34, groups not listed have none\n"
      "                  (default 20.00,9.00,0.00)\n"
      "  --large         every group with a rate turns over close to the top of\n"
      "                  the 4-byte counter (42,949,672.95) in each report\n"
      "\n"
      "Exit status: 0 written, 1 the file could not be written, 2 usage error.\n");
}

namespace {

// "20.00,9.00,7.50": up to eight rates in percent with at most two decimals,
// as hundredths. False for anything else.
bool ParseRates(const std::string& text, std::vector<uint16_t>* rates) {
  rates->clear();
  size_t at = 0;
  while (rates->size() < 8) {
    uint32_t whole = 0, hundredths = 0;
    int digits = 0, decimals = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4; ++at, ++digits)
      whole = whole * 10 + static_cast<uint32_t>(text[at] - '0');
    if (digits == 0) return false;
    if (at < text.size() && text[at] == '.')
      for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9' && decimals < 2; ++at, ++decimals)
        hundredths = hundredths * 10 + static_cast<uint32_t>(text[at] - '0');
    if (decimals == 1) hundredths *= 10;
    uint32_t rate = whole * 100 + hundredths;
    if (rate >= kRateUnset) return false;
    rates->push_back(static_cast<uint16_t>(rate));
    if (at == text.size()) return true;
    if (text[at++] != ',') return false;
  }
  return false;
}

}  // namespace

int RunGenerateCommand(int argc, char** argv) {
  CommandArgs args("generate", argc, argv);
  GenerateOptions options;
  std::string out;
  std::string name;
  while (args.Next(&name)) {
    uint64_t number = 0;
    if (name == "--out") {
      if (args.Value(&out) && out.empty()) args.Fail("--out needs a file name");
    } else if (name == "--seed") {
      if (args.Number(0, UINT32_MAX, &number)) options.seed = static_cast<uint32_t>(number);
    } else if (name == "--variant") {
      if (args.Number(2, 3, &number)) options.variant = static_cast<int>(number);
    } else if (name == "--reports") {
      if (args.Number(0, 65535, &number)) options.reports = static_cast<int>(number);
    } else if (name == "--rates") {
      std::string text;
      if (args.Value(&text) && !ParseRates(text, &options.rates))
        args.Fail("--rates takes up to 8 rates from 0.00 to 655.34, e.g. 20.00,9.00,7.50, not '" + text + "'");
    } else if (name == "--large") {
      options.largeAmounts = args.Flag();
    } else {
      args.Fail("unknown option " + name);
    }
  }
  if (args.failed()) return kExitUsage;
  if (out.empty()) {
    args.Fail("--out FILE is required");
    return kExitUsage;
  }

  int reports = 0;
  std::vector<uint8_t> image = GenerateDump(options, &reports);
  std::string error;
  if (!WriteDumpFile(out, image, &error)) return Failure("generate", error);
  std::printf("%s: %zu bytes, variant %d, %d reports, seed %u\n", out.c_str(), image.size(), options.variant,
              reports, static_cast<unsigned>(options.seed));
  if (reports < options.reports)
    std::fprintf(stderr, "taxoscope-sim generate: only %d of the %d reports fit below the decimal-mode area\n",
                 reports, options.reports);
  return kExitOk;
}
