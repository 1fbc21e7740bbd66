#include "random/Random.hpp"

#include <gtest/gtest.h>

namespace valdoria {
namespace {

TEST(Random, SeedOneGivesTheKnownSequence) {
  seedRandom(1);
  EXPECT_EQ(drawRandom(), 41);
  EXPECT_EQ(drawRandom(), 18467);
  EXPECT_EQ(drawRandom(), 6334);
  EXPECT_EQ(drawRandom(), 26500);
  EXPECT_EQ(drawRandom(), 19169);
}

} // namespace
} // namespace valdoria
