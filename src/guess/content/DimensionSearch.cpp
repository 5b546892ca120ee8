#include "guess/content/DimensionSearch.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <utility>

namespace guess {

namespace {

// The middle element of Values, the upper one of an even count.
template <typename T> T MedianOf(std::vector<T> Values) {
  const auto middle = Values.begin() + std::ssize(Values) / 2;
  std::nth_element(Values.begin(), middle, Values.end());
  return *middle;
}

// Positions spread over the room without a stride that could line up with a
// row, keeping the brighter half: the dark background agrees with itself at
// every lag and would flatten the dips.
std::vector<int64_t> BrightPositions(std::span<const float> Values, int64_t Room,
                                     int32_t Positions) {
  const int64_t tries = std::min<int64_t>(Room, int64_t{4} * Positions);
  std::vector<int64_t> spread;
  uint64_t state = 0x9E3779B97F4A7C15u;
  for (int64_t t = 0; t < tries; ++t) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    spread.push_back(static_cast<int64_t>((state >> 11) % static_cast<uint64_t>(Room)));
  }
  std::sort(spread.begin(), spread.end());
  std::vector<float> levels;
  for (int64_t p : spread)
    levels.push_back(Values[static_cast<size_t>(p)]);
  const float median = MedianOf(std::move(levels));
  std::vector<int64_t> bright;
  for (int64_t p : spread)
    if (Values[static_cast<size_t>(p)] > median)
      bright.push_back(p);
  // On a sparse frame the spread rarely lands on a spot: look at every
  // position then, taking the spots in order, dark or bright.
  if (bright.size() < static_cast<size_t>(Positions) / 16) {
    bright.clear();
    for (int64_t p = 0; p < Room && std::ssize(bright) < Positions; ++p)
      if (Values[static_cast<size_t>(p)] != median)
        bright.push_back(p);
  }
  if (bright.size() < 16)
    bright = spread;
  if (bright.size() > static_cast<size_t>(Positions))
    bright.resize(static_cast<size_t>(Positions));
  return bright;
}

} // namespace

std::vector<double> LagDifferences(std::span<const float> Values, int32_t Stride, int32_t MaxSteps,
                                   int32_t Positions) {
  const auto count = static_cast<int64_t>(Values.size());
  if (Stride < 1 || Positions < 1)
    return {};
  // Half of the values stay free as starting points.
  const int64_t steps = std::min<int64_t>(MaxSteps, count / 2 / Stride);
  if (steps < 2)
    return {};
  const int64_t room = count - steps * Stride;
  const std::vector<int64_t> positions = BrightPositions(Values, room, Positions);
  std::vector<float> sums(static_cast<size_t>(steps + 1), 0.0f);
  for (int64_t p : positions) {
    const float* from = Values.data() + p;
    const float base = *from;
    for (int64_t k = 1; k <= steps; ++k)
      sums[static_cast<size_t>(k)] += std::fabs(base - from[k * Stride]);
  }
  std::vector<double> means(sums.size(), 0.0);
  for (size_t k = 1; k < sums.size(); ++k)
    means[k] = sums[k] / static_cast<double>(positions.size());
  return means;
}

namespace {

// How far Differences[k] falls below the mean of the lags around it, leaving
// out its own valley (the diagonal neighbours are alike too).
double DipAt(const std::vector<double>& Differences, const std::vector<double>& Prefix, int64_t K) {
  const auto last = static_cast<int64_t>(Differences.size()) - 1;
  const int64_t core = std::max<int64_t>(1, K / 16);
  const int64_t wide = std::max<int64_t>(4, K / 2);
  const int64_t lo = std::max<int64_t>(1, K - wide), hi = std::min(last, K + wide);
  const int64_t coreLo = std::max(lo, K - core), coreHi = std::min(hi, K + core);
  const auto sum = [&Prefix](int64_t From, int64_t To) { return Prefix[To + 1] - Prefix[From]; };
  const double around = sum(lo, hi) - sum(coreLo, coreHi);
  const int64_t n = (hi - lo + 1) - (coreHi - coreLo + 1);
  // Values near the ends of a float's range (a wrong reading's) may differ
  // by more than a float holds.
  if (n < 2 || !(around > 0.0) || !std::isfinite(around))
    return 0.0;
  const double dip = 1.0 - Differences[static_cast<size_t>(K)] / (around / static_cast<double>(n));
  return std::isfinite(dip) ? dip : 0.0;
}

// Whether N is Period times 2 or more, give or take one.
bool IsMultiple(int32_t N, int32_t Period) {
  const int32_t times = (N + Period / 2) / Period;
  return times >= 2 && std::abs(N - times * Period) <= 1;
}

// The strongest dip in Dips within a lag of K, or 0.
double DipNear(const std::vector<TPeriod>& Dips, int64_t K) {
  double strongest = 0.0;
  for (const TPeriod& dip : Dips)
    if (std::abs(dip.Count - K) <= 1)
      strongest = std::max(strongest, dip.Dip);
  return strongest;
}

// Whether voxels D apart agree nearly as well as 2 D apart, as neighbouring
// rows do; half a row apart they differ many times more than a row apart.
bool AgreesLikeItsDouble(const std::vector<double>& Differences, int64_t D) {
  return 2 * D < std::ssize(Differences) &&
         Differences[static_cast<size_t>(D)] <= 2.0 * Differences[static_cast<size_t>(2 * D)];
}

// The shortest period within Long: a lag at a clear dip that divides Long at
// least three times and whose double dips as well, or 0. A small volume
// repeats whole slices or volumes more faithfully than rows, yet a row apart
// still dips, and so do two rows apart; a chance dip has no such echo.
int32_t RepeatingDivisor(const std::vector<TPeriod>& Dips, const std::vector<double>& Differences,
                         int32_t Long, int32_t MinCount) {
  std::vector<int32_t> counts;
  for (const TPeriod& dip : Dips)
    counts.push_back(dip.Count);
  std::sort(counts.begin(), counts.end());
  for (int32_t count : counts)
    for (int32_t d : {count, count + 1, count - 1})
      if (d >= MinCount && 3 * d <= Long + 1 && IsMultiple(Long, d) && DipNear(Dips, d) >= 0.1 &&
          DipNear(Dips, int64_t{2} * d) > 0.0 && AgreesLikeItsDouble(Differences, d))
        return d;
  return 0;
}

} // namespace

std::vector<TPeriod> FindPeriods(const std::vector<double>& Differences, int32_t MinCount,
                                 int32_t MaxResults) {
  const auto size = static_cast<int64_t>(Differences.size());
  std::vector<double> prefix(Differences.size() + 1, 0.0);
  for (size_t k = 0; k < Differences.size(); ++k)
    prefix[k + 1] = prefix[k] + Differences[k];
  std::vector<TPeriod> dips;
  for (int64_t k = std::max(2, MinCount); k < size; ++k) {
    const double d = Differences[static_cast<size_t>(k)];
    if (d > Differences[static_cast<size_t>(k - 1)] ||
        (k + 1 < size && d > Differences[static_cast<size_t>(k + 1)]))
      continue;
    const double dip = DipAt(Differences, prefix, k);
    if (dip > 0.05)
      dips.push_back({static_cast<int32_t>(k), dip});
  }
  std::sort(dips.begin(), dips.end(),
            [](const TPeriod& A, const TPeriod& B) { return A.Dip > B.Dip; });
  std::vector<TPeriod> periods;
  for (const TPeriod& dip : dips) {
    const bool known = std::any_of(periods.begin(), periods.end(), [&](const TPeriod& P) {
      return std::abs(P.Count - dip.Count) <= std::max(1, P.Count / 16);
    });
    if (known)
      continue;
    // In a small volume, a slice apart can dip deeper than a row apart: a
    // dipping divisor goes first, with the multiple's strength.
    const int32_t divisor = RepeatingDivisor(dips, Differences, dip.Count, std::max(2, MinCount));
    if (divisor > 0 && std::none_of(periods.begin(), periods.end(),
                                    [&](const TPeriod& P) { return P.Count == divisor; }))
      periods.push_back({divisor, dip.Dip});
    else
      for (const TPeriod& other : dips)
        if (IsMultiple(dip.Count, other.Count) && other.Dip >= 0.4 * dip.Dip &&
            std::none_of(periods.begin(), periods.end(),
                         [&](const TPeriod& P) { return P.Count == other.Count; })) {
          periods.push_back({other.Count, dip.Dip});
          break;
        }
    periods.push_back(dip);
    if (static_cast<int32_t>(periods.size()) >= MaxResults)
      break;
  }
  // Two periods apart never agree better than one period apart: a multiple
  // that does not beat its divisor is only the echo of that divisor.
  for (TPeriod& period : periods)
    for (const TPeriod& other : periods)
      if (IsMultiple(period.Count, other.Count) &&
          Differences[static_cast<size_t>(other.Count)] <=
              1.1 * Differences[static_cast<size_t>(period.Count)]) {
        period.Dip *= 0.5;
        break;
      }
  std::stable_sort(periods.begin(), periods.end(),
                   [](const TPeriod& A, const TPeriod& B) { return A.Dip > B.Dip; });
  return periods;
}

double DipOf(const std::vector<double>& Differences, int64_t K) {
  if (K < 1 || K >= std::ssize(Differences))
    return 0.0;
  std::vector<double> prefix(Differences.size() + 1, 0.0);
  for (size_t k = 0; k < Differences.size(); ++k)
    prefix[k + 1] = prefix[k] + Differences[k];
  return std::clamp(DipAt(Differences, prefix, K), 0.0, 1.0);
}

double WrapContrast(const std::vector<float>& Values, int32_t Width) {
  const auto count = std::ssize(Values);
  if (Width < 4 || count < int64_t{8} * Width)
    return 1.0;
  // A seam that drifts a voxel a row spreads over as many columns as there
  // are rows: a few hundred rows tell it from one that stays.
  const int64_t rows = std::min<int64_t>((count - 1) / Width, std::max<int64_t>(256, 4 * Width));
  std::vector<float> columns(static_cast<size_t>(Width), 0.0f);
  for (int64_t r = 0; r < rows; ++r) {
    const float* row = Values.data() + r * Width;
    for (int32_t c = 0; c < Width; ++c)
      columns[static_cast<size_t>(c)] += std::fabs(row[c + 1] - row[c]);
  }
  const float median = MedianOf(columns);
  const double peak = *std::max_element(columns.begin(), columns.end());
  return median > 0.0f ? peak / median : peak > 0.0 ? 1e3 : 1.0;
}

namespace {

// The mean |V[i] - V[i + Lag]| over the voxels of row Row of Width voxels.
double RowDifference(const std::vector<float>& Values, int32_t Width, int64_t Row, int32_t Lag) {
  const int64_t from = Row * Width;
  double sum = 0.0;
  for (int64_t i = from; i < from + Width; ++i)
    sum += std::fabs(Values[static_cast<size_t>(i)] - Values[static_cast<size_t>(i + Lag)]);
  return sum / Width;
}

} // namespace

TOtherImage OtherImage(const std::vector<float>& Values, int32_t Width) {
  const int64_t rows = std::ssize(Values) / std::max(Width, 1) - 1;
  if (Width < 16 || rows < 16)
    return {};
  const int64_t quarter = rows / 4 * Width;
  const std::span<const float> values(Values);
  const std::vector<double> headLags =
      LagDifferences(values.first(static_cast<size_t>(quarter)), 1, Width, 2048);
  const std::vector<double> tailLags =
      LagDifferences(values.last(static_cast<size_t>(quarter)), 1, Width, 2048);
  int32_t shorter = 0;
  for (const TPeriod& period : FindPeriods(tailLags, 4, 3))
    if (period.Count < Width - 2 && period.Dip >= 0.3 && DipOf(headLags, period.Count) < 0.1 &&
        DipOf(headLags, Width) >= 0.3) {
      shorter = period.Count;
      break;
    }
  if (shorter == 0)
    return {};
  // The split that the rows agree with best: before it, rows alike at Width;
  // after it, alike at the shorter length.
  std::vector<double> leaning; // > 0 where a row leans to the other image
  for (int64_t r = 0; r < rows; ++r)
    leaning.push_back(std::log((RowDifference(Values, Width, r, Width) + 1e-9) /
                               (RowDifference(Values, Width, r, shorter) + 1e-9)));
  double after = 0.0; // every row counted as the other image's
  for (double lean : leaning)
    after += lean;
  // Counted by rows, not by how far they lean: a few wild rows (an edge, a
  // caption) must not move the split.
  int64_t best = -1, votes = 0, top = 0;
  for (double lean : leaning)
    top += lean > 0.0 ? 1 : -1;
  for (int64_t r = 0, all = top; r < rows; ++r) {
    votes += leaning[static_cast<size_t>(r)] < 0.0 ? 2 : -2;
    if (all + votes > top)
      top = all + votes, best = r + 1;
  }
  // Both images need rows of their own, each leaning clearly its way.
  if (best < 4 || best > rows - 2)
    return {};
  double first = 0.0;
  for (int64_t r = 0; r < best; ++r)
    first += leaning[static_cast<size_t>(r)];
  if (first / best > -0.2 || (after - first) / (rows - best) < 0.1)
    return {};
  // Rows near the seam may pass for either: the seam itself, where the last
  // row of the one image meets the first of the other, differs the most.
  const int64_t near = std::max<int64_t>(3, rows / 16);
  int64_t seam = best;
  double widest = 0.0;
  for (int64_t r = std::max<int64_t>(1, best - near); r <= std::min(rows - 1, best + near); ++r)
    if (const double step = RowDifference(Values, Width, r - 1, Width); step > widest)
      widest = step, seam = r;
  return {seam, shorter};
}

int64_t SeamPeriod(const std::vector<float>& Values, int32_t Width) {
  // Enough rows for dozens of frames, few enough to stay fast for narrow rows.
  const int64_t rows = std::min<int64_t>(std::ssize(Values) / std::max(Width, 1) - 1, 8192);
  if (Width < 4 || rows < 8)
    return 0;
  // Steps from row r to row r + 1, over a few hundred columns at most: a
  // seam crosses the whole row.
  const int64_t stride = Width / 256 + 1;
  std::vector<double> steps;
  for (int64_t r = 0; r < rows; ++r) {
    double sum = 0.0;
    for (int64_t i = r * Width; i < (r + 1) * Width; i += stride)
      sum += std::fabs(Values[static_cast<size_t>(i)] - Values[static_cast<size_t>(i + Width)]);
    steps.push_back(sum);
  }
  const double median = MedianOf(steps);
  std::vector<double> away = steps;
  for (double& step : away)
    step = std::fabs(step - median);
  const double spread = MedianOf(std::move(away));
  // Rows of the sample need not start where the file's do, so a seam may
  // show in two rows running, as may an edge across a frame: one seam each.
  std::vector<int64_t> seams;
  bool inSeam = false;
  for (int64_t r = 0; r < rows && seams.size() < 4096; ++r) {
    const double step = steps[static_cast<size_t>(r)];
    const bool stands = step > 0.0 && step > std::max(3.0 * median, median + 8.0 * spread);
    if (stands && !inSeam)
      seams.push_back(r + 1);
    inSeam = stands;
  }
  // The distance at which most seams have another, counted over the next
  // few seams: an edge that every frame holds recurs at the same distance.
  // Frames are 8 rows high at least: a seam every few rows is texture.
  if (seams.size() < 3 || std::ssize(seams) * 8 > rows)
    return 0;
  std::vector<int32_t> followed(static_cast<size_t>(rows) + 1, 0);
  for (size_t i = 0; i < seams.size(); ++i)
    for (size_t j = i + 1; j < std::min(seams.size(), i + 9); ++j)
      ++followed[static_cast<size_t>(seams[j] - seams[i])];
  int64_t period = 0, most = 0;
  for (int64_t distance = 8; distance <= rows; ++distance)
    if (followed[static_cast<size_t>(distance)] > most)
      period = distance, most = followed[static_cast<size_t>(distance)];
  const auto later =
      std::count_if(seams.begin(), seams.end(), [&](int64_t Row) { return Row + period <= rows; });
  return period >= 8 && most >= 2 && 4 * most >= 3 * later ? period : 0;
}

int64_t SeamOfScaledCopy(int64_t Seam, int64_t DataBytes, int64_t RowBytes, int64_t OtherRowBytes) {
  if (OtherRowBytes <= 0 || OtherRowBytes >= RowBytes)
    return -1;
  const int64_t near = std::max<int64_t>(3, DataBytes / RowBytes / 16);
  for (int64_t away = 0; away <= near; ++away)
    for (const int64_t row : {Seam - away, Seam + away}) {
      const int64_t rest = DataBytes - row * RowBytes;
      if (row < 1 || rest <= 0 || rest % OtherRowBytes != 0)
        continue;
      const double scaled = static_cast<double>(row) * OtherRowBytes / RowBytes;
      if (std::fabs(static_cast<double>(rest / OtherRowBytes) - scaled) <= 1.0)
        return row;
    }
  return -1;
}

} // namespace guess
