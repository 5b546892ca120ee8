#include "data/WideRow.h"

#include <gtest/gtest.h>

// Linked into a second build of the painting tests, so that the path of
// processors without AVX2 passes the same sweeps on any machine.
namespace {

const bool TurnedOff = (widerow::SetEnabled(false), true);

TEST(WithoutAvx2, TheWideKernelsStayOff) {
  EXPECT_TRUE(TurnedOff);
  EXPECT_FALSE(widerow::Enabled());
}

} // namespace
