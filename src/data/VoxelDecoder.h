#pragma once

#include "data/VoxelTypes.h"

#include <cstdint>

// One voxel's value as stored: integers of every width as integers, floats
// widened to double, which holds every single, half and double exactly. A
// signalling NaN reads as 0, and so does a position that holds no file data
// (a Real 0 for the float types).
struct TVoxelValue {
  enum TKind : uint8_t { Signed, Unsigned, Real };
  TKind Kind = Signed;
  int64_t SignedValue = 0;
  uint64_t UnsignedValue = 0;
  double RealValue = 0.0;
  // The nearest double: 64-bit integers beyond 2^53 round.
  double AsDouble() const {
    switch (Kind) {
    case Signed:
      return static_cast<double>(SignedValue);
    case Unsigned:
      return static_cast<double>(UnsignedValue);
    case Real:
      break;
    }
    return RealValue;
  }
};

// The one place that knows how each voxel type is stored. The painter and the
// probe both decode through here, so a view and its readout cannot disagree.
namespace voxeldecoder {

// An IEEE binary16 value; every half is exactly a single.
float HalfToSingle(uint16_t Bits);

// HalfToSingle of every binary16 bit pattern, indexed by the pattern.
const float* HalfSingles();

// The 0 of a type's kind, for positions that hold no file data.
TVoxelValue ZeroOf(TVoxelType Type);

// Voxel p of Bytes exactly as stored, bytes reversed for big-endian.
TVoxelValue DecodeVoxel(const uint8_t* Bytes, int64_t p, TVoxelType Type, TByteOrder Order);

// Voxel p as the single the painter maps: rounded to nearest, ties to even;
// a double beyond the single range becomes an infinity and every NaN stays one.
float DecodeSingle(const uint8_t* Bytes, int64_t p, TVoxelType Type, TByteOrder Order);

// DecodeSingle of voxels 0 .. Count - 1 into Singles.
void DecodeSingles(const uint8_t* Bytes, int32_t Count, TVoxelType Type, TByteOrder Order,
                   float* Singles);

// Voxels First .. First + Count - 1 exactly as stored, in the host's byte
// order, for readers that go through whole views and need every bit: T is
// the type's own C++ type (uint16_t for the bits of a half). Defined for the
// integer types of 8 to 64 bits, float and double.
template <typename T>
void DecodeStored(const uint8_t* Bytes, int64_t First, int32_t Count, TByteOrder Order, T* Out);

} // namespace voxeldecoder
