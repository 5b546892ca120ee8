#include "data/IntensityWindow.h"
#include "data/MappingModel.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

// Every mapped value is checked three ways: the fast Level, the software
// ExactLevel, and the independent model of MappingModel.h.

namespace {

using namespace mappingmodel;

constexpr int Cases(int Release) {
  return Release / CaseDivisor;
}

#define REQUIRE_HARDWARE_EXTENDED()                                                                \
  if constexpr (!HardwareExtended) {                                                               \
    GTEST_SKIP() << "long double is not the x87 extended format here";                             \
  }

constexpr int32_t Int32Min = std::numeric_limits<int32_t>::min();
constexpr int32_t Int32Max = std::numeric_limits<int32_t>::max();
constexpr float Infinity = std::numeric_limits<float>::infinity();

float FromBits(uint32_t Bits) {
  return std::bit_cast<float>(Bits);
}

// ---- the checker ----

std::string FloatText(float F) {
  char text[64];
  std::snprintf(text, sizeof text, "0x%08" PRIX32 " (%a)", std::bit_cast<uint32_t>(F),
                static_cast<double>(F));
  return text;
}

std::string Hex(uint32_t Value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06" PRIX32, Value);
  return text;
}

// Compares the window under test with the model over many values, reporting
// only the first few disagreements in full.
class TAgreement {
public:
  TAgreement(int32_t Min, int32_t Max, bool FlagOverUnder)
      : FWindow(Min, Max, FlagOverUnder)
      , FModel(MakeModel(Min, Max, FlagOverUnder)) {}

  void Check(float V) {
    const int32_t want = ModelLevel(FModel, V);
    const int32_t level = FWindow.Level(V);
    const int32_t exact = FWindow.ExactLevel(V);
    const uint32_t wantColour = ModelColour(FModel, V);
    const uint32_t colour = FWindow.ColourOf(V);
    if (level == want && exact == want && colour == wantColour) {
      return;
    }
    if (++FFailures <= MaxReported) {
      ADD_FAILURE() << "window " << FModel.Min << ".." << FModel.Max
                    << (FModel.FlagOverUnder ? " flagged" : "") << ", value " << FloatText(V)
                    << ": expected level " << want << " colour " << Hex(wantColour) << ", Level "
                    << level << ", ExactLevel " << exact << ", ColourOf " << Hex(colour);
    }
  }

  int Failures() const { return FFailures; }

private:
  static constexpr int MaxReported = 3;
  TIntensityWindow FWindow;
  TModel FModel;
  int FFailures = 0;
};

struct TWindowCase {
  int32_t Min;
  int32_t Max;
};

// Runs Feed(check) for the window with and without flags; returns failures.
template <typename TFeed> int CheckBothFlags(const TWindowCase& Window, TFeed Feed) {
  int failures = 0;
  for (const bool flag : {false, true}) {
    TAgreement agreement(Window.Min, Window.Max, flag);
    Feed(agreement);
    failures += agreement.Failures();
  }
  return failures;
}

// ---- window parameters ----

struct TParameterCase {
  int32_t Min;
  int32_t Max;
  float MinF;
  float Width;
  float Scale;
};

TEST(IntensityWindowTest, ParametersAreSinglesRoundedOnce) {
  // Worked out with exact rational arithmetic, rounding to 24 bits by hand.
  const TParameterCase cases[] = {
      {0, 510, 0.0f, 0x1.fep+8f, 0x1p-1f},
      {0, 1000, 0.0f, 0x1.f4p+9f, 0x1.051eb8p-2f}, // 0.2549999952...
      {Int32Min, Int32Max, -0x1p+31f, 0x1p+32f, 0x1.fep-25f},
      {100, 100, 100.0f, 1.0f, 255.0f},
      {-1412376960, 737809024, -0x1.50bca6p+30f, 0x1.005278p+31f, 0x1.fd5beap-24f},
      {10, 20, 10.0f, 10.0f, 25.5f},
      {20, 10, 20.0f, -10.0f, -25.5f},
      {0, 1, 0.0f, 1.0f, 255.0f},
      {0, 0, 0.0f, 1.0f, 255.0f},
      {-7, -7, -7.0f, 1.0f, 255.0f},
      {0, 3, 0.0f, 3.0f, 85.0f},
      {Int32Min, Int32Min, -0x1p+31f, 1.0f, 255.0f},
      {Int32Max, Int32Max, 0x1p+31f, 1.0f, 255.0f},
      {Int32Min, Int32Min + 1, -0x1p+31f, 1.0f, 255.0f},
      {Int32Max - 1, Int32Max, 0x1p+31f, 1.0f, 255.0f},
      {Int32Max, Int32Min, 0x1p+31f, -0x1p+32f, -0x1.fep-25f},
      {16777217, 16777219, 0x1p+24f, 2.0f, 127.5f}, // 16777217 ties to the even 16777216
      {0, 16777217, 0.0f, 0x1p+24f, 0x1.fep-17f},
      {0, Int32Max, 0.0f, 0x1p+31f, 0x1.fep-24f},
      {Int32Min, 0, -0x1p+31f, 0x1p+31f, 0x1.fep-24f},
      {123456789, -987654321, 0x1.d6f346p+26f, -0x1.08e8d8p+30f, -0x1.ecd8f4p-23f},
      {-1000, 3000, -1000.0f, 4000.0f, 0x1.051eb8p-4f},
  };
  for (const TParameterCase& c : cases) {
    const TIntensityWindow window(c.Min, c.Max, false);
    EXPECT_EQ(std::bit_cast<uint32_t>(window.MinF()), std::bit_cast<uint32_t>(c.MinF))
        << c.Min << ".." << c.Max;
    EXPECT_EQ(std::bit_cast<uint32_t>(window.Width()), std::bit_cast<uint32_t>(c.Width))
        << c.Min << ".." << c.Max;
    EXPECT_EQ(std::bit_cast<uint32_t>(window.Scale()), std::bit_cast<uint32_t>(c.Scale))
        << c.Min << ".." << c.Max;
    // The model must agree with the hand-worked table, or its verdicts below mean nothing.
    const TModel model = MakeModel(c.Min, c.Max, false);
    EXPECT_EQ(model.MinF, c.MinF);
    EXPECT_EQ(model.Width, c.Width);
    EXPECT_EQ(model.Scale, c.Scale);
  }
}

// ---- worked examples ----

struct TGreyCase {
  int32_t Min;
  int32_t Max;
  float Value;
  int32_t Level;
};

TEST(IntensityWindowTest, WorkedExamplesGiveTheirGreyLevels) {
  REQUIRE_HARDWARE_EXTENDED();
  const TGreyCase cases[] = {
      {0, 510, 1.0f, 0},
      {0, 510, 3.0f, 2},
      {0, 510, 5.0f, 2},
      {0, 510, 509.0f, 254},
      {0, 510, 510.0f, 255},
      {0, 1000, 2.0f, 1},
      {0, 1000, 10.0f, 3},
      {Int32Min, Int32Max, 0.0f, 128}, // 127.5 ties to the even 128
      {Int32Min, Int32Max, -2147483648.0f, 0},
      {Int32Min, Int32Max, 2147483647.0f, 255},
      {100, 100, 99.0f, 0},
      {100, 100, 100.0f, 0},
      {100, 100, 101.0f, 255},
      {100, 100, 102.0f, 255},
      {100, 100, -1e30f, 0},
      // 1412376995 * Scale is 167.49999237..., which rounds to the single
      // 167.49998474...; rounding it through double first would give 167.5.
      {-1412376960, 737809024, 35.0f, 167},
      {0, 255, 0.5f, 0},
      {0, 255, 1.5f, 2},
      {0, 255, 2.5f, 2},
      {0, 255, 254.5f, 254},
      {Int32Max, Int32Min, 0.0f, 128}, // reversed full range: 127.5 again
      {20, 10, 20.0f, 0},
      {20, 10, 10.0f, 255},
      {20, 10, 15.0f, 128}, // 127.5
      {0, 1, Infinity, 255},
      {0, 1, -Infinity, 0},
      {1, 0, Infinity, 0},
      {1, 0, -Infinity, 255},
  };
  for (const TGreyCase& c : cases) {
    const TIntensityWindow window(c.Min, c.Max, false);
    EXPECT_EQ(window.Level(c.Value), c.Level) << c.Min << ".." << c.Max << " " << c.Value;
    EXPECT_EQ(window.ExactLevel(c.Value), c.Level) << c.Min << ".." << c.Max << " " << c.Value;
    EXPECT_EQ(window.ColourOf(c.Value), static_cast<uint32_t>(c.Level) * 0x010101u)
        << c.Min << ".." << c.Max << " " << c.Value;
    EXPECT_EQ(ModelLevel(MakeModel(c.Min, c.Max, false), c.Value), c.Level)
        << "model " << c.Min << ".." << c.Max << " " << c.Value;
  }
}

TEST(IntensityWindowTest, DoubleArithmeticWouldMissTheExtendedLevel) {
  // Shows that the 35 -> 167 case above is a real trap for a double implementation.
  const float minF = -1412376960.0f;
  const float scale = 0x1.fd5beap-24f;
  const double product =
      (static_cast<double>(35.0f) - static_cast<double>(minF)) * static_cast<double>(scale);
  const float m = static_cast<float>(product);
  EXPECT_EQ(m, 167.5f);
  EXPECT_EQ(RoundHalfEven(m), 168);
  EXPECT_EQ(TIntensityWindow(-1412376960, 737809024, false).Level(35.0f), 167);
}

struct TColourCase {
  int32_t Min;
  int32_t Max;
  float Value;
  uint32_t Colour;
};

TEST(IntensityWindowTest, FlaggedValuesAndBadNumbersGetWarningColours) {
  REQUIRE_HARDWARE_EXTENDED();
  const TColourCase cases[] = {
      {10, 20, 9.0f, colour::Green},
      {10, 20, 10.0f, 0x000000},
      {10, 20, 20.0f, 0xFFFFFF},
      {10, 20, 21.0f, colour::Red},
      {10, 20, 9.999999f, colour::Green},
      {10, 20, 20.000002f, colour::Red},
      {20, 10, 15.0f, colour::Red}, // under and over at once: over wins
      {20, 10, 25.0f, colour::Red},
      {20, 10, 5.0f, colour::Green},
      {0, 255, Infinity, colour::Red},
      {0, 255, -Infinity, colour::Green},
      {0, 255, FromBits(0x7FC00000), colour::Yellow},
      {0, 255, FromBits(0x7F800001), colour::Yellow},
      {0, 255, FromBits(0xFFA00000), colour::Yellow},
      {0, 1, 3e38f, colour::Yellow}, // overflows even though it is also over
      {0, 1, -3e38f, colour::Yellow},
      // The ends compare as integers, not as their single roundings.
      {16777217, 16777219, 16777216.0f, colour::Green},
      {16777217, 16777219, 16777218.0f, 0xFFFFFF},
      {16777217, 16777219, 16777220.0f, colour::Red},
      {0, Int32Max, 2147483648.0f, colour::Red}, // INT32_MAX read as a single is 2^31
      {Int32Min, Int32Max, -2147483648.0f, 0x000000},
  };
  for (const TColourCase& c : cases) {
    const TIntensityWindow window(c.Min, c.Max, true);
    EXPECT_EQ(window.ColourOf(c.Value), c.Colour)
        << c.Min << ".." << c.Max << " " << FloatText(c.Value);
    EXPECT_EQ(ModelColour(MakeModel(c.Min, c.Max, true), c.Value), c.Colour)
        << "model " << c.Min << ".." << c.Max << " " << FloatText(c.Value);
  }
}

TEST(IntensityWindowTest, BadNumbersHaveTheBadLevel) {
  const uint32_t nans[] = {0x7FC00000, 0x7F800001, 0xFFA00000, 0xFFFFFFFF, 0x7FBFFFFF, 0xFFC00001};
  const TIntensityWindow window(0, 1, false);
  for (const uint32_t bits : nans) {
    EXPECT_EQ(window.Level(FromBits(bits)), TIntensityWindow::BadLevel) << Hex(bits);
    EXPECT_EQ(window.ExactLevel(FromBits(bits)), TIntensityWindow::BadLevel) << Hex(bits);
    EXPECT_EQ(window.ColourOf(FromBits(bits)), colour::Yellow) << Hex(bits);
  }
  EXPECT_EQ(window.Level(3e38f), TIntensityWindow::BadLevel);
  EXPECT_EQ(window.Level(FLT_MAX), TIntensityWindow::BadLevel);
  EXPECT_EQ(window.Level(1e30f), 255);                            // 2.55e32 still fits a single
  EXPECT_EQ(TIntensityWindow(0, 255, false).Level(FLT_MAX), 255); // scale 1: no overflow
}

// ---- exhaustive integer inputs ----

const TWindowCase IntegerWindows[] = {
    {-1412376960, 737809024},
    {Int32Min, Int32Max},
    {Int32Max, Int32Min},
    {0, 1000},
    {0, 510},
    {0, 1020},
    {0, 255},
    {100, 100},
    {20, 10},
    {10, 20},
    {255, 0},
    {0, 1},
    {1, 0},
    {7, 8},
    {-3, 2},
    {0, 0},
    {-32768, 32767},
    {32767, -32768},
    {-1000, 3000},
    {Int32Min, Int32Min},
    {Int32Max, Int32Max},
    {16777217, 16777219},
};

TEST(IntensityWindowTest, EveryInt16ValueMatchesTheModel) {
  REQUIRE_HARDWARE_EXTENDED();
  for (const TWindowCase& window : IntegerWindows) {
    const int failures = CheckBothFlags(window, [](TAgreement& agreement) {
      for (int32_t v = -32768; v <= 32767; ++v) {
        agreement.Check(static_cast<float>(v));
      }
    });
    EXPECT_EQ(failures, 0) << "window " << window.Min << ".." << window.Max;
  }
}

TEST(IntensityWindowTest, EveryByteValueMatchesTheModel) {
  REQUIRE_HARDWARE_EXTENDED();
  for (const TWindowCase& window : IntegerWindows) {
    const int failures = CheckBothFlags(window, [](TAgreement& agreement) {
      for (int32_t v = 0; v <= 255; ++v) {
        agreement.Check(static_cast<float>(v));
      }
    });
    EXPECT_EQ(failures, 0) << "window " << window.Min << ".." << window.Max;
  }
}

// ---- random windows ----

class TSource {
public:
  explicit TSource(uint64_t Seed)
      : FRandom(Seed) {}

  uint32_t Below(uint32_t Limit) { return static_cast<uint32_t>(FRandom() % Limit); }
  int32_t AnyInt32() { return static_cast<int32_t>(static_cast<uint32_t>(FRandom())); }
  int32_t Between(int64_t Low, int64_t High) {
    return static_cast<int32_t>(Low + static_cast<int64_t>(FRandom() % uint64_t(High - Low + 1)));
  }
  float AnyBits() { return FromBits(static_cast<uint32_t>(FRandom())); }

  // Plenty of tiny, reversed, extreme and ordinary windows.
  TWindowCase Window() {
    const int32_t a = Endpoint();
    switch (Below(4)) {
    case 0:
      return {a, Endpoint()};
    case 1:
      return {a, Saturate(int64_t{a} + Between(-300, 300))};
    case 2:
      return {a, Saturate(int64_t{a} + Between(-3, 3))};
    default:
      return {Between(-70000, 70000), Between(-70000, 70000)};
    }
  }

  // Values inside, around and far outside the window, including its ends.
  int32_t Int32Value(const TWindowCase& Window) {
    switch (Below(5)) {
    case 0:
      return AnyInt32();
    case 1:
      return Saturate(int64_t{Window.Min} + Between(-2, 2));
    case 2:
      return Saturate(int64_t{Window.Max} + Between(-2, 2));
    case 3: {
      const int64_t low = std::min(Window.Min, Window.Max);
      const int64_t high = std::max(Window.Min, Window.Max);
      return Saturate(
          Between(std::max<int64_t>(low - 10, Int32Min), std::min<int64_t>(high + 10, Int32Max)));
    }
    default: {
      const int32_t extremes[] = {Int32Min,     Int32Min + 1, -1,       0,        1,
                                  Int32Max - 1, Int32Max,     16777216, 16777217, -16777217};
      return extremes[Below(std::size(extremes))];
    }
    }
  }

  float FloatValue(const TWindowCase& Window) {
    switch (Below(4)) {
    case 0:
      return AnyBits();
    case 1: {
      const double low = std::min(Window.Min, Window.Max);
      const double high = std::max(Window.Min, Window.Max);
      const double span = high - low + 1.0;
      std::uniform_real_distribution<double> value(low - span, high + span);
      return static_cast<float>(value(FRandom));
    }
    case 2:
      return static_cast<float>(Int32Value(Window));
    default: { // a few ulps beside a window end
      const float end = static_cast<float>(Below(2) == 0 ? Window.Min : Window.Max);
      return StepUlps(end, Between(-4, 4));
    }
    }
  }

  static float StepUlps(float F, int32_t Steps) {
    return FromBits(static_cast<uint32_t>(std::bit_cast<uint32_t>(F) + Steps));
  }

private:
  int32_t Endpoint() {
    switch (Below(4)) {
    case 0:
      return AnyInt32();
    case 1:
      return Between(-1000, 1000);
    case 2:
      return Below(2) == 0 ? Between(Int32Min, Int32Min + 300) : Between(Int32Max - 300, Int32Max);
    default:
      return Between(-70000, 70000);
    }
  }

  static int32_t Saturate(int64_t Value) {
    return static_cast<int32_t>(std::clamp<int64_t>(Value, Int32Min, Int32Max));
  }

  std::mt19937_64 FRandom;
};

TEST(IntensityWindowTest, EveryInt16ValueMatchesTheModelForRandomWindows) {
  REQUIRE_HARDWARE_EXTENDED();
  TSource source(0x1D0001);
  for (int i = 0; i < Cases(12); ++i) {
    const TWindowCase window = source.Window();
    const int failures = CheckBothFlags(window, [](TAgreement& agreement) {
      for (int32_t v = -32768; v <= 32767; ++v) {
        agreement.Check(static_cast<float>(v));
      }
    });
    ASSERT_EQ(failures, 0) << "window " << window.Min << ".." << window.Max;
  }
}

TEST(IntensityWindowTest, Int32ValuesMatchTheModelForRandomWindows) {
  REQUIRE_HARDWARE_EXTENDED();
  TSource source(0x1D0002);
  const int windows = Cases(4000);
  for (int i = 0; i < windows; ++i) {
    const TWindowCase window = source.Window();
    const int failures = CheckBothFlags(window, [&source, &window](TAgreement& agreement) {
      for (int k = 0; k < 200; ++k) {
        agreement.Check(static_cast<float>(source.Int32Value(window)));
      }
    });
    ASSERT_EQ(failures, 0) << "window " << window.Min << ".." << window.Max;
  }
}

TEST(IntensityWindowTest, Float32ValuesMatchTheModelForRandomWindows) {
  REQUIRE_HARDWARE_EXTENDED();
  TSource source(0x1D0003);
  const int windows = Cases(4000);
  for (int i = 0; i < windows; ++i) {
    const TWindowCase window = source.Window();
    const int failures = CheckBothFlags(window, [&source, &window](TAgreement& agreement) {
      for (int k = 0; k < 200; ++k) {
        agreement.Check(source.FloatValue(window));
      }
    });
    ASSERT_EQ(failures, 0) << "window " << window.Min << ".." << window.Max;
  }
}

// ---- special floats ----

TEST(IntensityWindowTest, SpecialFloatsMatchTheModel) {
  REQUIRE_HARDWARE_EXTENDED();
  const uint32_t patterns[] = {
      0x7FC00000, 0x7F800001, 0x7FBFFFFF, 0xFFA00000, 0xFFC00000, 0xFFFFFFFF, // NaNs
      0x7F800000, 0xFF800000,                                                 // infinities
      0x00000000, 0x80000000,                                                 // zeros
      0x00000001, 0x80000001, 0x007FFFFF, 0x807FFFFF, 0x00400000,             // subnormals
      0x00800000, 0x80800000, 0x7F7FFFFF, 0xFF7FFFFF, 0x7F000000, 0x7E800000,
      0x3F000000, 0x3F800000, 0xBF800000, 0x4F000000, 0xCF000000, 0x4EFFFFFF,
  };
  TSource source(0x1D0004);
  int failures = 0;
  for (const TWindowCase& window : IntegerWindows) {
    failures += CheckBothFlags(window, [&patterns](TAgreement& agreement) {
      for (const uint32_t bits : patterns) {
        agreement.Check(FromBits(bits));
      }
    });
  }
  for (int i = 0; i < Cases(2000); ++i) {
    failures += CheckBothFlags(source.Window(), [&patterns](TAgreement& agreement) {
      for (const uint32_t bits : patterns) {
        agreement.Check(FromBits(bits));
      }
    });
  }
  EXPECT_EQ(failures, 0);
}

// Smallest magnitude with the given sign whose mapped level overflows, found
// by bisection on the model (the mapping grows with |V| far from the window),
// or 0 when no finite value of that sign overflows.
uint32_t OverflowThreshold(const TModel& Model, uint32_t Sign) {
  const auto bad = [&](uint32_t Magnitude) {
    return ModelLevel(Model, FromBits(Sign | Magnitude)) == BadLevel;
  };
  uint32_t good = 0;
  uint32_t badMagnitude = 0x7F7FFFFF;
  if (!bad(badMagnitude)) {
    return 0;
  }
  while (badMagnitude - good > 1) {
    const uint32_t middle = good + (badMagnitude - good) / 2;
    (bad(middle) ? badMagnitude : good) = middle;
  }
  return badMagnitude;
}

TEST(IntensityWindowTest, ValuesAroundTheOverflowThresholdMatchTheModel) {
  REQUIRE_HARDWARE_EXTENDED();
  const TWindowCase windows[] = {
      {0, 1},
      {1, 0},
      {7, 8},
      {100, 100},
      {0, 2},
      {0, 200},
      {-5, 250},
      {0, 254},
      {Int32Max, Int32Max},
      {Int32Min, Int32Min + 1},
      {Int32Max - 46, Int32Max},
      {Int32Min + 46, Int32Min},
      {-1000000000, -999999990},
  };
  int thresholds = 0;
  int failures = 0;
  for (const TWindowCase& window : windows) {
    const TModel model = MakeModel(window.Min, window.Max, false);
    for (const uint32_t sign : {0u, 0x80000000u}) {
      const uint32_t threshold = OverflowThreshold(model, sign);
      if (threshold == 0) {
        continue;
      }
      ++thresholds;
      // The bisection's premise: finite just below, overflowing from here on.
      EXPECT_NE(ModelLevel(model, FromBits(sign | (threshold - 1))), BadLevel);
      failures += CheckBothFlags(window, [&](TAgreement& agreement) {
        for (int32_t step = -40; step <= 40; ++step) {
          const uint32_t magnitude = threshold + static_cast<uint32_t>(step);
          if (magnitude <= 0x7F7FFFFF) {
            agreement.Check(FromBits(sign | magnitude));
          }
        }
      });
    }
  }
  EXPECT_GE(thresholds, 20); // every window above but the scale-1 ones overflows both ways
  EXPECT_EQ(failures, 0);
}

// Values whose mapped level lies exactly on, or within a few ulps of, a half
// level: the extended product is rounded to a single before the integer
// rounding, so a product just off k + 1/2 can still become the tie.
TEST(IntensityWindowTest, ValuesNearHalfLevelsMatchTheModel) {
  REQUIRE_HARDWARE_EXTENDED();
  const TWindowCase windows[] = {
      {0, 255},
      {0, 510},
      {0, 1020},
      {1000, 1255},
      {255, 0},
      {0, 1000},
      {0, 1},
      {7, 8},
      {-3, 2},
      {-1412376960, 737809024},
      {Int32Min, Int32Max},
      {Int32Max, Int32Min},
      {12345, 23456},
      {-70000, 65000},
      {20, 10},
  };
  int failures = 0;
  for (const TWindowCase& window : windows) {
    const TModel model = MakeModel(window.Min, window.Max, false);
    failures += CheckBothFlags(window, [&](TAgreement& agreement) {
      for (int32_t k = -1; k <= 255; ++k) {
        const long double target = static_cast<long double>(k) + 0.5L;
        const float centre = static_cast<float>(static_cast<long double>(model.MinF) +
                                                target / static_cast<long double>(model.Scale));
        for (int32_t step = -12; step <= 12; ++step) {
          agreement.Check(TSource::StepUlps(centre, step));
        }
      }
    });
  }
  EXPECT_EQ(failures, 0);
}

// ---- double-rounding traps ----

// Inverse of an odd number modulo 2^64, by Newton's iteration.
uint64_t InverseOfOdd(uint64_t Odd) {
  uint64_t inverse = Odd;
  for (int i = 0; i < 6; ++i) {
    inverse *= 2 - Odd * inverse;
  }
  return inverse;
}

int32_t DoubleLevel(const TModel& Model, float V) {
  const double product =
      (static_cast<double>(V) - static_cast<double>(Model.MinF)) * static_cast<double>(Model.Scale);
  return RoundHalfEven(std::clamp(static_cast<float>(product), 0.0f, 255.0f));
}

struct TTrap {
  TWindowCase Window;
  float Value;
};

// Inputs whose exact product D * Scale lies one or two units of 2^-47 beside
// a midpoint of singles next to a half level k + 1/2. Rounded to double, such
// a product mostly falls exactly on the midpoint and then ties to k + 1/2,
// while the extended product rounds away from it: the inputs where a fast path
// that trusts double arithmetic would paint the wrong grey.
//
// With Scale = s * 2^(F - 47) and D = Dint * 2^-F, the level lies in
// [2^L, 2^(L+1)) and the midpoint is m * 2^(L-24) with m = (2k+1) * 2^(23-L) +- 1,
// so Dint * s = m * 2^(L+23) + delta, that is
// Dint * s == 2^46 +- 2^(L+23) + delta (mod 2^47), which fixes Dint modulo 2^47 given s.
std::vector<TTrap> NearMidpointInputs(int32_t FractionBits, int32_t LevelBinade, size_t Wanted) {
  constexpr uint64_t Modulus = uint64_t{1} << 47;
  std::vector<TTrap> inputs;
  for (uint64_t s = (1u << 23) + 1; s < (1u << 24) && inputs.size() < Wanted; s += 2) {
    const float scale = std::ldexp(static_cast<float>(s), FractionBits - 47);
    const uint64_t inverse = InverseOfOdd(s);
    for (const int64_t delta : {-2, -1, 1, 2}) {
      for (const int64_t side : {-1, 1}) {
        const int64_t target =
            (int64_t{1} << 46) + side * (int64_t{1} << (LevelBinade + 23)) + delta;
        const uint64_t dInt = (static_cast<uint64_t>(target) * inverse) & (Modulus - 1);
        // Below 2^33 the product fits 64 bits; above it the level exceeds 255 anyway.
        if (dInt >> 33 != 0 || (dInt * s) >> (LevelBinade + 47) != 1) {
          continue; // the level would lie in another binade
        }
        const long double d = std::ldexp(static_cast<long double>(dInt), -FractionBits);
        const int64_t whole = static_cast<int64_t>(d);
        const int64_t minF = -(whole & ~int64_t{127}); // a multiple of 128: a single
        const int64_t width = std::llround(255.0L / static_cast<long double>(scale));
        if (minF <= Int32Min || minF + width > Int32Max) {
          continue;
        }
        const float value = static_cast<float>(d + static_cast<long double>(minF));
        for (int64_t w = width - 2; w <= width + 2; ++w) {
          const TModel model =
              MakeModel(static_cast<int32_t>(minF), static_cast<int32_t>(minF + w), false);
          if (model.Scale == scale && static_cast<long double>(value) - minF == d) {
            inputs.push_back({{model.Min, model.Max}, value});
            break;
          }
        }
      }
    }
  }
  return inputs;
}

TEST(IntensityWindowTest, DoubleRoundingTrapsMatchTheModel) {
  REQUIRE_HARDWARE_EXTENDED();
  int traps = 0;
  int failures = 0;
  for (const int32_t fractionBits : {0, 4, 8, 11}) {
    for (const int32_t levelBinade : {6, 7}) {
      for (const TTrap& input : NearMidpointInputs(fractionBits, levelBinade, 40)) {
        const TModel model = MakeModel(input.Window.Min, input.Window.Max, false);
        traps += ModelLevel(model, input.Value) != DoubleLevel(model, input.Value) ? 1 : 0;
        // Mirrored: the window reversed around zero maps -V to the same level.
        const TWindowCase mirrored{-input.Window.Min, -input.Window.Max};
        failures += CheckBothFlags(input.Window,
                                   [&](TAgreement& agreement) { agreement.Check(input.Value); });
        failures +=
            CheckBothFlags(mirrored, [&](TAgreement& agreement) { agreement.Check(-input.Value); });
      }
    }
  }
  // Double arithmetic misses about a quarter of these inputs (those where delta
  // points away from the half level and the tie goes to the wrong even
  // neighbour); far fewer would mean the construction no longer finds traps.
  EXPECT_GE(traps, 40);
  EXPECT_EQ(failures, 0);
}

} // namespace
