#include "data/WideRow.h"

#include <gtest/gtest.h>

// Linked into a third build of the painting tests, so that a processor with
// AVX-512 passes the same sweeps through the AVX2 kernels as well.
namespace {

const bool TurnedOff = (widerow::SetWider(false), true);

TEST(WithoutAvx512, TheWidestKernelsStayOff) {
  EXPECT_TRUE(TurnedOff);
  EXPECT_FALSE(widerow::Wider());
}

} // namespace
