#include "data/TestFiles.h"
#include "guess/content/HeaderFields.h"

#include <gtest/gtest.h>
#include <vector>

using namespace guess;

namespace {

std::vector<uint8_t> HeaderWith(int32_t FieldBytes, TByteOrder Order, int64_t At,
                                std::vector<double> Values) {
  std::vector<uint8_t> header(At, 0);
  for (double v : Values)
    testfiles::AppendVoxel(header, FieldBytes == 2 ? vtUInt16 : vtUInt32, Order, v);
  header.resize(256, 0);
  return header;
}

TEST(HeaderFields, FindsAWidthAndHeightStoredInEitherSizeAndOrder) {
  const struct {
    int64_t At;
    std::vector<double> Fields; // width first
    int32_t Width, Height;
    bool Stated;
  } cases[] = {
      {8, {300, 200}, 300, 200, true},
      {4, {640, 7777777, 480}, 640, 480, true},  // one field between them
      {0, {512, 1, 1, 1, 384}, 512, 384, false}, // too far apart
      {12, {20000, 300}, 20000, 300, false},     // past the largest dimension
      {16, {3, 100}, 3, 100, false},             // a row of three voxels is no image
  };
  for (const auto& c : cases)
    for (int32_t bytes : {2, 4})
      for (TByteOrder order : {boLittleEndian, boBigEndian}) {
        if (bytes == 2 && c.Fields.size() > 2 && c.Fields[1] > 65535)
          continue;
        const std::vector<uint8_t> header = HeaderWith(bytes, order, c.At, c.Fields);
        const std::vector<TStatedShape> shapes =
            StatedShapes(DimensionFields(header.data(), std::ssize(header)));
        const int64_t heightStart = c.At + bytes * (std::ssize(c.Fields) - 1);
        EXPECT_EQ(StatesShape(shapes, 256, c.Width, c.Height), c.Stated)
            << c.Width << "x" << c.Height << " in " << bytes << "-byte fields, order " << order;
        // Fields the data would start inside of are not the header's.
        EXPECT_FALSE(StatesShape(shapes, heightStart, c.Width, c.Height)) << c.Width;
      }
}

} // namespace
