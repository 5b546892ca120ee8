#include "data/IntensityWindow.h"

#include "data/ExtendedFloat.h"

TIntensityWindow::TIntensityWindow(int32_t IntensityMin, int32_t IntensityMax, bool FlagOverUnder)
    : FIntensityMin(IntensityMin)
    , FIntensityMax(IntensityMax)
    , FFlagOverUnder(FlagOverUnder)
    , FMinF(static_cast<float>(IntensityMin)) {
  // The difference of two 32-bit ends can exceed 32 bits; take it exactly.
  FWidth = static_cast<float>(static_cast<int64_t>(IntensityMax) - IntensityMin);
  if (FWidth == 0.0f)
    FWidth = 1.0f;
  // A quotient of singles rounded to double and then to single is the quotient
  // rounded once to single, so no extended division is needed here.
  FScale = static_cast<float>(255.0 / static_cast<double>(FWidth));
  FMinD = FMinF;
  FScaleD = FScale;
}

int32_t TIntensityWindow::ExactLevel(float V) const {
  if (std::isnan(V))
    return BadLevel;
  const auto mapped = extended::ToSingle(extended::Product(extended::Difference(V, FMinF), FScale));
  if (mapped.Overflow)
    return BadLevel;
  float m = mapped.Value;
  if (m > 255.0f)
    m = 255.0f;
  if (m < 0.0f)
    m = 0.0f;
  const float whole = std::floor(m);
  auto level = static_cast<int32_t>(whole);
  const float fraction = m - whole;
  if (fraction > 0.5f || (fraction == 0.5f && level % 2 != 0))
    ++level;
  return level;
}
