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
inline constexpr std::array<int32_t, VoxelTypeCount> BytesPerVoxel = {1, 2, 4, 4, 2, 1,
                                                                      4, 8, 8, 2, 8};
