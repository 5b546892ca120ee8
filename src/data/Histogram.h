#pragma once

#include "data/ReadProgress.h"
#include "data/VoxelDecoder.h"
#include "data/VoxelTypes.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

// The voxels of a view as its last render read them: only the first Count
// came from the file, and only those are counted.
struct THistogramSource {
  const uint8_t* Bytes = nullptr;
  int64_t Count = 0;
  TVoxelType Type = vtByte;
  TByteOrder Order = boLittleEndian;
  // A guess of the smallest and largest finite value, such as the slice
  // range the render found; when right, the wide types are read once instead
  // of twice. A wrong one costs time, never a count.
  double GuessLow = NAN;
  double GuessHigh = NAN;
  // When given, a render is still filling the bytes: Count is only the most
  // it can make final, and the count takes each piece as Progress tells it is
  // final, while it is still in the cache, and ends with the render's count.
  const TReadProgress* Progress = nullptr;
};

// The counts of a view's values.
//
// The 8-bit types have one bin per value of the type. Every other type has
// WideBins equal bins over Low .. High, its smallest and largest finite value:
// v falls into bin floor((v - Low) / (High - Low) x WideBins), High into the
// last. That floor is decided exactly, never by rounded arithmetic, so a value
// on an edge lies in the bin the edge opens, and the edges of the integer
// types are integers, exact at 64 bits too.
struct THistogram {
  enum TShape : uint8_t {
    NoValues,  // nothing of the view lies in the file
    NoNumbers, // every value is a NaN or an infinity
    OneValue,  // every finite value is the same one
    Spread,    // the bins hold the finite values
  };
  static constexpr int WideBins = 512;
  static constexpr int NarrowBins = 256;

  TShape Shape = NoValues;
  TVoxelType Type = vtByte;
  int64_t Values = 0; // everything counted: the voxels that lie in the file
  // Against the window's ends, each on its own: with the ends reversed a
  // value can be both. The infinities count here too, as the views flag them.
  int64_t Under = 0;
  int64_t Over = 0;
  int64_t NaN = 0;
  int64_t PlusInfinity = 0;
  int64_t MinusInfinity = 0;
  TVoxelValue Low;  // the smallest finite value, as stored
  TVoxelValue High; // the largest
  // Filled when the shape is Spread, and for the 8-bit types whenever a
  // finite value was met.
  std::vector<int64_t> Bins;
  // Edges[k] is the smallest value that falls into bin k; the last element is
  // the largest value the last bin holds (High, or the type's largest).
  std::vector<TVoxelValue> Edges;

  int BinCount() const { return static_cast<int>(Bins.size()); }
  // Whether the bins are one per value, so that each edge is its bin's only value.
  bool OnePerValue() const { return Bins.size() == NarrowBins; }
};

THistogram ComputeHistogram(const THistogramSource& Source, int32_t WindowMin, int32_t WindowMax);

// An intensity window: both ends within the 32-bit range of the edits.
struct TWindowEnds {
  int32_t Min = 0;
  int32_t Max = 0;
};

// The window from the value at 0.5 % to the value at 99.5 % of the finite
// values in ascending order (ranks floor(N / 200) and N - 1 - floor(N / 200)),
// found exactly, then rounded outward to integers and held within the 32-bit
// range. Nothing when no value is finite.
std::optional<TWindowEnds> PercentileWindow(const THistogramSource& Source);

// Whether large views are read the second time on two threads, which they
// are where more than two cores are; lets the tests take either path
// anywhere. Returns the setting before.
bool SetHistogramSecondThread(bool On);
