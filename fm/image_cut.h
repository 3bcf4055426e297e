#pragma once
// Whether an image read from the device is cut short. The device ends an
// image only by falling silent, so a device that dies in the middle of its
// image, or a line that stalls for longer than the silence that ends one,
// looks like the end. The bytes themselves still tell two things:
//   - a record's type fixes its length, so an image whose last record runs
//     past its end stopped inside that record (an image cut at the size cap
//     of a read is the exception: it was cut on purpose);
//   - a fiscal memory only grows: what a dump of the same device already
//     holds, a later image of it holds too, at the same place, and it is at
//     least as long.
// A memory that ends in erased bytes or on a record's end is whole as far as
// its bytes can tell. These are rules over bytes: whoever reads a device (the
// dialog, the command line, a server that collects) asks them the same way.
#include <cstdint>
#include <string>

#include "fm/daily_report.h"
#include "fm/dump_image.h"

enum class ImageCut {
  None,               // nothing shows the image cut short
  EndsInsideRecord,   // its last record runs past its end
  ShorterThanStored,  // shorter than the dump already stored for the device
  LacksStoredRecord,  // a record with a good CRC in the stored dump is not in it
};

struct ImageCutFinding {
  ImageCut cut = ImageCut::None;
  // EndsInsideRecord: the record cut (length: what its type needs), and how
  // many of its bytes the image holds. LacksStoredRecord: the stored record
  // the image lacks.
  RecordFrame record;
  int64_t present = 0;
  int64_t size = 0;        // the image's size
  int64_t storedSize = 0;  // the stored dump's size (0 when none was given)

  bool cutShort() const { return cut != ImageCut::None; }
};

// The image on its own. capReached: the read stopped at its size cap, which
// cuts an image on purpose, wherever it falls.
ImageCutFinding FindImageEndCut(const uint8_t* image, int64_t size, bool capReached);

// The image against the dump already stored for the same device.
ImageCutFinding FindCutAgainstStored(const uint8_t* image, int64_t size, const uint8_t* stored,
                                     int64_t storedSize);

// Both, the image's own end first; `stored` null when no dump is stored.
ImageCutFinding FindImageCut(const uint8_t* image, int64_t size, bool capReached,
                             const DumpBytes* stored);

// What the finding shows, as part of a sentence: "it ends inside a record
// (type 4 at byte 56832 needs 334 bytes, 153 came)". Empty for None.
std::string DescribeImageCut(const ImageCutFinding& finding);
