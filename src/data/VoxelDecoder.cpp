#include "data/VoxelDecoder.h"

#include "data/PixelRow.h"

#include <bit>
#include <cstring>
#include <vector>

namespace voxeldecoder {
namespace {

using pixelrow::Load;

bool IsSignalling(uint16_t Bits) {
  return (Bits & 0x7C00u) == 0x7C00u && (Bits & 0x03FFu) != 0 && (Bits & 0x0200u) == 0;
}
bool IsSignalling(uint32_t Bits) {
  return (Bits & 0x7F800000u) == 0x7F800000u && (Bits & 0x007FFFFFu) != 0 &&
         (Bits & 0x00400000u) == 0;
}
bool IsSignalling(uint64_t Bits) {
  constexpr uint64_t exponent = 0x7FF0'0000'0000'0000u;
  constexpr uint64_t fraction = 0x000F'FFFF'FFFF'FFFFu;
  constexpr uint64_t quiet = 0x0008'0000'0000'0000u;
  return (Bits & exponent) == exponent && (Bits & fraction) != 0 && (Bits & quiet) == 0;
}

TVoxelValue SignedValue(int64_t V) {
  TVoxelValue value;
  value.Kind = TVoxelValue::Signed;
  value.SignedValue = V;
  return value;
}
TVoxelValue UnsignedValue(uint64_t V) {
  TVoxelValue value;
  value.Kind = TVoxelValue::Unsigned;
  value.UnsignedValue = V;
  return value;
}
TVoxelValue RealValue(double V) {
  TVoxelValue value;
  value.Kind = TVoxelValue::Real;
  value.RealValue = V;
  return value;
}

template <typename T> void ConvertRow(const uint8_t* Bytes, int32_t Count, bool Swap, float* Out) {
  for (int32_t x = 0; x < Count; ++x)
    Out[x] = static_cast<float>(Load<T>(Bytes, x, Swap));
}

void HalvesRow(const uint8_t* Bytes, int32_t Count, bool Swap, float* Out) {
  const float* singles = HalfSingles();
  for (int32_t x = 0; x < Count; ++x)
    Out[x] = singles[Load<uint16_t>(Bytes, x, Swap)];
}

} // namespace

float HalfToSingle(uint16_t Bits) {
  const uint32_t sign = uint32_t{Bits & 0x8000u} << 16;
  const uint32_t exponent = (Bits >> 10) & 0x1Fu;
  const uint32_t fraction = Bits & 0x03FFu;
  if (exponent == 0) {
    // Subnormal halves are fraction x 2^-24, normal singles all.
    const float magnitude = static_cast<float>(fraction) * 0x1p-24f;
    return sign ? -magnitude : magnitude;
  }
  // Infinities and NaNs keep their payload, the quiet bit landing on the single's.
  const uint32_t singleExponent = exponent == 0x1F ? 0xFFu : exponent - 15 + 127;
  return std::bit_cast<float>(sign | singleExponent << 23 | fraction << 13);
}

const float* HalfSingles() {
  static const std::vector<float> singles = [] {
    std::vector<float> all(65536);
    for (uint32_t bits = 0; bits < all.size(); ++bits)
      all[bits] = HalfToSingle(static_cast<uint16_t>(bits));
    return all;
  }();
  return singles.data();
}

TVoxelValue ZeroOf(TVoxelType Type) {
  switch (Type) {
  case vtUInt16:
  case vtUInt32:
  case vtUInt64:
    return UnsignedValue(0);
  case vtFloat16:
  case vtFloat32:
  case vtFloat64:
    return RealValue(0.0);
  case vtByte:
  case vtInt8:
  case vtInt16:
  case vtInt32:
  case vtInt64:
    break;
  }
  return SignedValue(0);
}

TVoxelValue DecodeVoxel(const uint8_t* Bytes, int64_t p, TVoxelType Type, TByteOrder Order) {
  const bool swap = pixelrow::NeedsSwap(Order);
  switch (Type) {
  case vtByte:
    return SignedValue(Bytes[p]);
  case vtInt8:
    return SignedValue(static_cast<int8_t>(Bytes[p]));
  case vtInt16:
    return SignedValue(Load<int16_t>(Bytes, p, swap));
  case vtUInt16:
    return UnsignedValue(Load<uint16_t>(Bytes, p, swap));
  case vtInt32:
    return SignedValue(Load<int32_t>(Bytes, p, swap));
  case vtUInt32:
    return UnsignedValue(Load<uint32_t>(Bytes, p, swap));
  case vtInt64:
    return SignedValue(Load<int64_t>(Bytes, p, swap));
  case vtUInt64:
    return UnsignedValue(Load<uint64_t>(Bytes, p, swap));
  // Widening a signalling NaN would raise the invalid-operation fault; the
  // readout shows such a voxel as 0 instead.
  case vtFloat16: {
    const auto bits = Load<uint16_t>(Bytes, p, swap);
    return RealValue(IsSignalling(bits) ? 0.0 : HalfToSingle(bits));
  }
  case vtFloat32: {
    const auto bits = Load<uint32_t>(Bytes, p, swap);
    return RealValue(IsSignalling(bits) ? 0.0 : std::bit_cast<float>(bits));
  }
  case vtFloat64: {
    const auto bits = Load<uint64_t>(Bytes, p, swap);
    return RealValue(IsSignalling(bits) ? 0.0 : std::bit_cast<double>(bits));
  }
  }
  return SignedValue(0);
}

float DecodeSingle(const uint8_t* Bytes, int64_t p, TVoxelType Type, TByteOrder Order) {
  const bool swap = pixelrow::NeedsSwap(Order);
  switch (Type) {
  case vtByte:
    return Bytes[p];
  case vtInt8:
    return static_cast<int8_t>(Bytes[p]);
  case vtInt16:
    return Load<int16_t>(Bytes, p, swap);
  case vtUInt16:
    return Load<uint16_t>(Bytes, p, swap);
  case vtInt32:
    return static_cast<float>(Load<int32_t>(Bytes, p, swap));
  case vtUInt32:
    return static_cast<float>(Load<uint32_t>(Bytes, p, swap));
  case vtInt64:
    return static_cast<float>(Load<int64_t>(Bytes, p, swap));
  case vtUInt64:
    return static_cast<float>(Load<uint64_t>(Bytes, p, swap));
  case vtFloat16:
    return HalfToSingle(Load<uint16_t>(Bytes, p, swap));
  case vtFloat32:
    return Load<float>(Bytes, p, swap);
  case vtFloat64:
    return static_cast<float>(Load<double>(Bytes, p, swap));
  }
  return 0.0f;
}

// The hardware conversions round to nearest with ties to even, as the
// mapping defines; one plain loop per type lets the compiler vectorise them.
void DecodeSingles(const uint8_t* Bytes, int32_t Count, TVoxelType Type, TByteOrder Order,
                   float* Singles) {
  const bool swap = pixelrow::NeedsSwap(Order);
  switch (Type) {
  case vtByte:
    return ConvertRow<uint8_t>(Bytes, Count, swap, Singles);
  case vtInt8:
    return ConvertRow<int8_t>(Bytes, Count, swap, Singles);
  case vtInt16:
    return ConvertRow<int16_t>(Bytes, Count, swap, Singles);
  case vtUInt16:
    return ConvertRow<uint16_t>(Bytes, Count, swap, Singles);
  case vtInt32:
    return ConvertRow<int32_t>(Bytes, Count, swap, Singles);
  case vtUInt32:
    return ConvertRow<uint32_t>(Bytes, Count, swap, Singles);
  case vtInt64:
    return ConvertRow<int64_t>(Bytes, Count, swap, Singles);
  case vtUInt64:
    return ConvertRow<uint64_t>(Bytes, Count, swap, Singles);
  case vtFloat16:
    return HalvesRow(Bytes, Count, swap, Singles);
  case vtFloat32:
    return ConvertRow<float>(Bytes, Count, swap, Singles);
  case vtFloat64:
    return ConvertRow<double>(Bytes, Count, swap, Singles);
  }
}

template <typename T>
void DecodeStored(const uint8_t* Bytes, int64_t First, int32_t Count, TByteOrder Order, T* Out) {
  const uint8_t* from = Bytes + First * static_cast<int64_t>(sizeof(T));
  if (pixelrow::NeedsSwap(Order))
    for (int32_t x = 0; x < Count; ++x)
      Out[x] = Load<T>(from, x, true);
  else if (Count > 0)
    std::memcpy(Out, from, static_cast<size_t>(Count) * sizeof(T));
}

template void DecodeStored(const uint8_t*, int64_t, int32_t, TByteOrder, uint8_t*);
template void DecodeStored(const uint8_t*, int64_t, int32_t, TByteOrder, int8_t*);
template void DecodeStored(const uint8_t*, int64_t, int32_t, TByteOrder, uint16_t*);
template void DecodeStored(const uint8_t*, int64_t, int32_t, TByteOrder, int16_t*);
template void DecodeStored(const uint8_t*, int64_t, int32_t, TByteOrder, uint32_t*);
template void DecodeStored(const uint8_t*, int64_t, int32_t, TByteOrder, int32_t*);
template void DecodeStored(const uint8_t*, int64_t, int32_t, TByteOrder, uint64_t*);
template void DecodeStored(const uint8_t*, int64_t, int32_t, TByteOrder, int64_t*);
template void DecodeStored(const uint8_t*, int64_t, int32_t, TByteOrder, float*);
template void DecodeStored(const uint8_t*, int64_t, int32_t, TByteOrder, double*);

} // namespace voxeldecoder
