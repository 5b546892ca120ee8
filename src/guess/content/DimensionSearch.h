#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace guess {

// Finding the row length and the slice height of raw volume data from how
// alike values are at a given distance: voxels one row (or one slice) apart
// are neighbours in the image, so their differences dip against the lags
// around them.
struct TPeriod {
  int32_t Count = 0; // the period, in steps of the stride searched
  double Dip = 0.0;  // 0 .. 1, how far the difference falls below its surroundings
};

// The mean |Values[i] - Values[i + k * Stride]| for k = 0 .. MaxSteps over up
// to Positions positions i spread over the brighter part of Values; element 0
// is 0. Shorter when Values cannot hold MaxSteps steps past enough positions.
std::vector<double> LagDifferences(std::span<const float> Values, int32_t Stride, int32_t MaxSteps,
                                   int32_t Positions);

// The periods of Differences (as LagDifferences gives them) of MinCount (at
// least 2) steps or more, strongest dip first; a dip within a sixteenth of a
// stronger one is the same dip, and a dipping divisor of a dip goes before it.
std::vector<TPeriod> FindPeriods(const std::vector<double>& Differences, int32_t MinCount,
                                 int32_t MaxResults);

// How far Differences[K] falls below the lags around it, 0 .. 1; 0 where K is
// out of range.
double DipOf(const std::vector<double>& Differences, int64_t K);

// How clearly the rows of Width voxels wrap: the largest mean step between
// neighbours in one column of the row (from one row's end to the next row's
// start, where the image's right edge meets its left) against the median
// column's. Near 1 where rows of that width would not wrap in one place, as
// when the width is off by one and the seam drifts a voxel per row.
double WrapContrast(const std::vector<float>& Values, int32_t Width);

// Where, in Values read as rows of Width voxels, the rows turn into those of
// another image of a shorter row (a thumbnail or a second, smaller image
// after the first): the index of the first row of Width voxels that belongs
// to it, and its row. The first image's rows dip at Width and not at the shorter
// length; the other image's dip at its own length more than at Width.
struct TOtherImage {
  int64_t Row = -1;  // -1 where no other image follows
  int32_t Width = 0; // the other image's row, in voxels
};
TOtherImage OtherImage(const std::vector<float>& Values, int32_t Width);

// The height of frames stacked in Values read as rows of Width voxels, told
// by where they meet: the last row of one frame and the first of the next
// lie far apart in the scene (a camera panning, a bright scene after a dark
// one), so the step between them stands out, once a frame. 0 where no such
// steps recur a fixed number of rows apart.
int64_t SeamPeriod(const std::vector<float>& Values, int32_t Width);

// Where another image of the same shape at a smaller scale (a preview)
// begins, in rows of RowBytes from the start of DataBytes of data: of the
// rows near Seam, where OtherImage puts it, the one after which the rest of
// the data is whole rows of OtherRowBytes, as many as the rows before it
// scaled down, give or take one. -1 where none is.
int64_t SeamOfScaledCopy(int64_t Seam, int64_t DataBytes, int64_t RowBytes, int64_t OtherRowBytes);

} // namespace guess
