#pragma once

#include <array>
#include <cstdint>

// The ordinals are also the item indices of the window's drop-down lists.
enum TVoxelType : uint8_t {
  vtByte = 0,
  vtInt16 = 1,
  vtInt32 = 2,
  vtFloat32 = 3,
  vtUInt16 = 4,
  vtInt8 = 5,
  vtUInt32 = 6,
  vtInt64 = 7,
  vtUInt64 = 8,
  vtFloat16 = 9,
  vtFloat64 = 10,
};
enum TByteOrder : uint8_t { boLittleEndian = 0, boBigEndian = 1 };
enum TViewKind : uint8_t { vkSlice = 0, vkNextSlice = 1, vkCrossSlice = 2, vkOtherVolume = 3 };

inline constexpr int ViewKindCount = 4;
inline constexpr int VoxelTypeCount = 11;

// What every layer needs to know of a voxel type, in one place.
struct TVoxelTypeFacts {
  const char* Name;    // as the command line and the guesser's reasons write it
  int32_t Bytes;       // stored size
  bool Signed;         // holds negative values (every float does)
  bool Float;          // IEEE floating point rather than an integer
  const char* Caption; // the item text of the window's type list
};

// Indexed by TVoxelType.
inline constexpr std::array<TVoxelTypeFacts, VoxelTypeCount> VoxelTypeTable = {{
    {"byte", 1, false, false, "Byte (unsigned)"},
    {"int16", 2, true, false, "Int-16  (signed)"},
    {"int32", 4, true, false, "Int-32 (signed)"},
    {"float32", 4, true, true, "Float-32"},
    {"uint16", 2, false, false, "UInt-16 (unsigned)"},
    {"int8", 1, true, false, "Int-8 (signed)"},
    {"uint32", 4, false, false, "UInt-32 (unsigned)"},
    {"int64", 8, true, false, "Int-64 (signed)"},
    {"uint64", 8, false, false, "UInt-64 (unsigned)"},
    {"float16", 2, true, true, "Float-16 (half)"},
    {"float64", 8, true, true, "Float-64 (double)"},
}};

constexpr const TVoxelTypeFacts& FactsOf(TVoxelType Type) {
  return VoxelTypeTable[Type];
}

// The stored sizes alone, for the loops that index by type.
inline constexpr std::array<int32_t, VoxelTypeCount> BytesPerVoxel = [] {
  std::array<int32_t, VoxelTypeCount> bytes{};
  for (int t = 0; t < VoxelTypeCount; ++t)
    bytes[t] = VoxelTypeTable[t].Bytes;
  return bytes;
}();
