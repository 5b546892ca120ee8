#include "data/VoxelDecoder.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr TVoxelType AllTypes[] = {vtByte,   vtInt16, vtInt32,  vtFloat32, vtUInt16, vtInt8,
                                   vtUInt32, vtInt64, vtUInt64, vtFloat16, vtFloat64};

bool SameSingle(float A, float B) {
  return std::bit_cast<uint32_t>(A) == std::bit_cast<uint32_t>(B) ||
         (std::isnan(A) && std::isnan(B));
}

// The colour table decodes voxel by voxel and rows decode in one pass; both
// must give the same single for every voxel, and the exact value must round
// to it.
TEST(VoxelDecoder, RowsVoxelsAndExactValuesAgree) {
  std::mt19937_64 random(20261208);
  std::vector<uint8_t> bytes(8 * 4096);
  for (size_t i = 0; i < bytes.size(); i += 8) {
    const uint64_t word = random();
    std::memcpy(bytes.data() + i, &word, 8);
  }
  // Patterns the random bytes hardly ever hit: NaNs, infinities, zeros.
  const uint8_t specials[][8] = {
      {0, 0, 0, 0, 0, 0, 0xF0, 0x7F}, {1, 0, 0, 0, 0, 0, 0xF0, 0xFF},
      {0, 0, 0, 0, 0, 0, 0, 0x80},    {0, 0x7C, 0x01, 0xFE, 0, 0, 0, 0},
      {0, 0, 0x80, 0x7F, 0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}};
  for (size_t i = 0; i < std::size(specials); ++i)
    std::memcpy(bytes.data() + 8 * i, specials[i], 8);
  std::vector<float> row(4096);
  for (TVoxelType type : AllTypes)
    for (TByteOrder order : {boLittleEndian, boBigEndian}) {
      const auto count = static_cast<int32_t>(bytes.size() / BytesPerVoxel[type]);
      row.resize(static_cast<size_t>(count));
      voxeldecoder::DecodeSingles(bytes.data(), count, type, order, row.data());
      int wrong = 0;
      for (int32_t p = 0; p < count; ++p) {
        const float single = voxeldecoder::DecodeSingle(bytes.data(), p, type, order);
        const TVoxelValue exact = voxeldecoder::DecodeVoxel(bytes.data(), p, type, order);
        const float fromExact =
            exact.Kind == TVoxelValue::Signed
                ? static_cast<float>(static_cast<long double>(exact.SignedValue))
            : exact.Kind == TVoxelValue::Unsigned
                ? static_cast<float>(static_cast<long double>(exact.UnsignedValue))
                : static_cast<float>(exact.RealValue);
        // A signalling NaN reads 0 exactly but stays a NaN for the painter.
        const bool signalling =
            exact.Kind == TVoxelValue::Real && exact.RealValue == 0.0 && std::isnan(single);
        if ((!SameSingle(row[p], single) || (!signalling && !SameSingle(fromExact, single))) &&
            ++wrong <= 3)
          ADD_FAILURE() << "type " << int{type} << " order " << int{order} << " voxel " << p
                        << ": row " << row[p] << ", voxel " << single << ", exact " << fromExact;
      }
    }
}

} // namespace
