#pragma once

// The histogram's passes over 32- and 64-bit voxels in AVX2 lanes, for
// processors that have them (widerow::Enabled). Each takes voxels [0, Done)
// of a block of stored values in the machine's byte order, read as bytes,
// and returns Done; the plain loops take the rest.
#include "data/HistogramTally.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
#define ZANDREL_HISTOGRAM_WIDE 1
#else
#define ZANDREL_HISTOGRAM_WIDE 0
#endif

namespace histogramlanes {

// The counts beside the bins and the range, as TallyBody takes them.
template <typename E>
int32_t Tally(const uint8_t* Bytes, int32_t Count, const histogram::TEnds<E>& Ends,
              histogram::TTally<E>& Result);

// The bins, as BinBody puts them. Done is 0 when singles cannot hold a
// range of 32-bit values.
template <typename E, typename V>
int32_t Bin(const uint8_t* Bytes, int32_t Count, const histogram::TBinner<V>& Binner,
            histogram::TBinTables& Bins);

} // namespace histogramlanes
