#pragma once

#include "data/RowClassifier.h"

#include <cstdint>

// The mapped rows in AVX2 lanes, eight voxels at a time in one pass: decode,
// classify as the row classifier does (the same IEEE single arithmetic, step
// for step), pack the pixels and take in the range. Processors without AVX2,
// and the tests that check the other path, use the row classifier instead.
namespace widerow {

// Whether the AVX2 kernels run: the processor has them and they are not turned off.
bool Enabled();
// Lets the tests run every painting test through the path without AVX2 as well.
void SetEnabled(bool On);
// Whether MapRow takes 4-byte voxels sixteen at a time, with AVX-512: the
// processor has it, and neither it nor AVX2 is turned off.
bool Wider();
// Lets the tests run the painting tests through the AVX2 kernels alone.
void SetWider(bool On);

// The least and greatest value taken in so far, NaNs never compared.
struct TExtremes {
  float Low;
  float High;
};

// The pixel word of voxel X of the row through the exact path, for the few
// voxels the single arithmetic cannot settle.
struct TExact {
  uint32_t (*Word)(void* Context, int32_t X);
  void* Context;
};

// Maps voxels [0, Done) of a row, Done a multiple of 8 no more than Count, and
// returns Done. Writes their pixels into Row, with streaming stores when
// Stream is set, and takes them into Extremes unless that is null.
// Bytes are voxels of Params.Type, any of the 4- and 8-byte types (Params.Swap
// says whether their bytes are reversed); for another type Done is 0.
int32_t MapRow(const uint8_t* Bytes, int32_t Count, const rowclassifier::TParams& Params,
               uint32_t Under, uint32_t Over, uint8_t* Row, bool Stream, const TExact& Exact,
               TExtremes* Extremes);

// Paints voxels [0, Done) of a row of 1- or 2-byte voxels through Table, the
// pixel words by the voxels' bits (byte order applied), and returns Done, a
// multiple of 8 no more than Count.
int32_t TableRow(const uint8_t* Bytes, int32_t Count, int32_t BytesPerVoxel, bool Swap,
                 const uint32_t* Table, uint8_t* Row, bool Stream);

// The pixel words of the integers Low .. High, in order; Words[0] stands for
// every value below Low too and the last for every value above High.
struct TWindowTable {
  const uint32_t* Words;
  int64_t Low;
  int64_t High;
};

// Paints voxels [0, Done) of a row of 32- or 64-bit integers of Type through
// Table and takes them into Extremes; Done as for MapRow, 0 for another type.
int32_t WindowRow(const uint8_t* Bytes, int32_t Count, TVoxelType Type, bool Swap,
                  const TWindowTable& Table, uint8_t* Row, bool Stream, TExtremes& Extremes);

} // namespace widerow
