#pragma once

#include "TempDir.h"
#include "guess/LayoutGuess.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testfiles {

// The layout of the single-file NIfTI-1 volume that WriteNiftiSample writes.
inline constexpr TLayout NiftiSampleLayout{352, 7, 5, 3, vtInt16, boLittleEndian};

// A little-endian NIfTI-1 file ("n+1"): the 348-byte header, four bytes of
// empty extension flag, then 7 x 5 x 3 int16 voxels of a smooth ramp.
inline std::string WriteNiftiSample(const TTempDir& Dir, const std::string& Name) {
  std::vector<uint8_t> bytes(352, 0);
  const auto put = [&bytes](size_t Offset, const auto& Value) {
    std::memcpy(bytes.data() + Offset, &Value, sizeof Value);
  };
  put(0, int32_t{348});                             // sizeof_hdr
  const int16_t dims[8] = {3, 7, 5, 3, 1, 1, 1, 1}; // dim
  put(40, dims);
  put(70, int16_t{4});  // datatype: int16
  put(72, int16_t{16}); // bitpix
  const float pixdim[8] = {1, 1, 1, 1, 0, 0, 0, 0};
  put(76, pixdim);
  put(108, float{352});                      // vox_offset
  put(112, float{1});                        // scl_slope
  std::memcpy(bytes.data() + 344, "n+1", 4); // magic
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) {
        const auto value = static_cast<uint16_t>(100 * z + 10 * y + x);
        bytes.push_back(static_cast<uint8_t>(value));
        bytes.push_back(static_cast<uint8_t>(value >> 8));
      }
  return Dir.MakeFile(Name, bytes);
}

} // namespace testfiles
