#include "data/Zoom.h"
#include "data/ZoomModel.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using testfiles::ZoomModel;

void ExpectModel(const TBitmap24& Zoomed, const testfiles::TZoomedModel& Model,
                 const std::string& What) {
  ASSERT_EQ(Zoomed.Width(), Model.Width) << What;
  ASSERT_EQ(Zoomed.Height(), Model.Height) << What;
  testfiles::ExpectPixels(
      Zoomed, [&](int64_t P) { return Model.Pixels[static_cast<size_t>(P)]; }, What);
}

// Sizes that divide by no step, by every step, a single voxel and nothing.
TEST(Zoom, EveryStepAgainstTheModel) {
  const std::pair<int32_t, int32_t> sizes[] = {{13, 7}, {16, 8}, {1, 1}, {9, 0}, {0, 5}, {24, 17}};
  for (int step = 0; step < zoom::ZoomStepCount; ++step)
    for (const auto& [width, height] : sizes) {
      TBitmap24 source;
      testfiles::FillRandom(source, width, height, static_cast<uint32_t>(step * 100 + width));
      TBitmap24 zoomed;
      zoom::Zoomed(source, step, zoomed);
      const zoom::TZoomStep s = zoom::ZoomSteps[step];
      ExpectModel(zoomed, ZoomModel(source, s.Up, s.Down),
                  zoom::StepName(step) + " " + std::to_string(width) + "x" +
                      std::to_string(height));
    }
}

// A part painted on its own, as a repaint of an exposed rectangle does,
// equals that part of the whole.
TEST(Zoom, APartEqualsThatPartOfTheWhole) {
  TBitmap24 source;
  testfiles::FillRandom(source, 23, 19, 7);
  std::mt19937 random(3);
  for (int step = 0; step < zoom::ZoomStepCount; ++step) {
    const zoom::TZoomStep s = zoom::ZoomSteps[step];
    const testfiles::TZoomedModel whole = ZoomModel(source, s.Up, s.Down);
    for (int trial = 0; trial < 20; ++trial) {
      const auto left = static_cast<int32_t>(random() % whole.Width);
      const auto top = static_cast<int32_t>(random() % whole.Height);
      const auto width = static_cast<int32_t>(1 + random() % (whole.Width - left));
      const auto height = static_cast<int32_t>(1 + random() % (whole.Height - top));
      const int64_t stride = width * 3 + 5; // not the bitmap's own padding
      std::vector<uint8_t> part(static_cast<size_t>(stride * height));
      zoom::PaintZoomed(source, step, left, top, width, height, part.data(), stride);
      for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
          const uint8_t* p = part.data() + y * stride + x * 3;
          const uint32_t got = uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
          ASSERT_EQ(got, whole.At(left + x, top + y)) << zoom::StepName(step) << " part at " << left
                                                      << "," << top << " pixel " << x << "," << y;
        }
    }
  }
}

// The voxel named for a pixel is the one whose block the model paints there.
TEST(Zoom, VoxelAtIsTheVoxelWhoseSquareHoldsThePixel) {
  for (int step = 0; step < zoom::ZoomStepCount; ++step) {
    const zoom::TZoomStep s = zoom::ZoomSteps[step];
    for (int32_t pixel = -50; pixel < 200; ++pixel) {
      const int32_t voxel = zoom::VoxelAt(pixel, step);
      if (s.Down > 1)
        EXPECT_EQ(voxel, pixel * s.Down) << zoom::StepName(step) << " " << pixel;
      else
        EXPECT_TRUE(voxel * s.Up <= pixel && pixel < (voxel + 1) * s.Up)
            << zoom::StepName(step) << " pixel " << pixel << " voxel " << voxel;
    }
  }
  const struct {
    const char* Step;
    int32_t Pixel;
    int32_t Voxel;
  } edges[] = {{"3", 2, 0},   {"3", 3, 1},   {"1/4", 1, 4},
               {"16", 15, 0}, {"16", 16, 1}, {"2", -1, -1}};
  for (const auto& edge : edges)
    EXPECT_EQ(zoom::VoxelAt(edge.Pixel, *zoom::ParseStep(edge.Step)), edge.Voxel)
        << edge.Step << " " << edge.Pixel;
  EXPECT_EQ(zoom::VoxelAt(INT32_MAX, 0), INT32_MAX);
}

TEST(Zoom, StepNamesReadBackAndNothingElseIsAStep) {
  EXPECT_EQ(zoom::StepNames(), "1/8, 1/4, 1/2, 1, 2, 3, 4, 6, 8, 12, 16");
  for (int step = 0; step < zoom::ZoomStepCount; ++step)
    EXPECT_EQ(zoom::ParseStep(zoom::StepName(step)), step);
  for (const char* bad :
       {"", "0", "5", "32", "1/3", "1/1", "2/1", "1/16", " 2", "2 ", "2.0", "+2", "-2", "02", "x"})
    EXPECT_FALSE(zoom::ParseStep(bad)) << '"' << bad << '"';
  EXPECT_EQ(zoom::StepIn(zoom::ZoomStepCount - 1), zoom::ZoomStepCount - 1);
  EXPECT_EQ(zoom::StepOut(0), 0);
  EXPECT_EQ(zoom::StepIn(zoom::ActualSize), *zoom::ParseStep("2"));
}

// The largest views the window takes: 10000 x 10000 is 300 MB at 1:1 and
// 1.2 GB at 2, and would be 2.7 GB at 3.
TEST(Zoom, AStepThatWouldPassTwoGibibytesStopsAtTheLargestThatFits) {
  const struct {
    int32_t Width;
    int32_t Height;
    const char* Asked;
    const char* Given;
  } cases[] = {{10000, 10000, "16", "2"}, {10000, 10000, "3", "2"},  {10000, 10000, "1/8", "1/8"},
               {10000, 1, "16", "16"},    {0, 10000, "16", "16"},    {10000, 0, "16", "16"},
               {2048, 2048, "16", "12"},  {INT32_MAX, 1, "1", "1/4"}};
  for (const auto& c : cases) {
    const int given = zoom::LargestFitting(c.Width, c.Height, *zoom::ParseStep(c.Asked));
    EXPECT_EQ(zoom::StepName(given), c.Given) << c.Width << "x" << c.Height << " at " << c.Asked;
    EXPECT_TRUE(zoom::Fits(c.Width, c.Height, given));
  }
  TBitmap24 source, target;
  source.SetSize(1, 1);
  EXPECT_NO_THROW(zoom::Zoomed(source, zoom::ZoomStepCount - 1, target));
  EXPECT_EQ(zoom::ZoomedLength(-5, zoom::ZoomStepCount - 1), 0);
}

} // namespace
