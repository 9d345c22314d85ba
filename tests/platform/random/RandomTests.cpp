// The random layer: buffers really get filled, and Uniform stays in range
// and reaches every value of a small bound.
#include "platform/random/Random.h"

#include <array>
#include <gtest/gtest.h>
#include <set>

using namespace vela5::platform;

TEST(Random, FillWritesBytesAndTwoDrawsDiffer)
{
    std::array<unsigned char, 32> first {};
    std::array<unsigned char, 32> second {};
    ASSERT_TRUE(Random::Fill(first.data(), first.size()));
    ASSERT_TRUE(Random::Fill(second.data(), second.size()));
    // 256 bits equal by chance, or left untouched, would mean a broken source.
    EXPECT_NE(first, second);
    EXPECT_NE(first, (std::array<unsigned char, 32> {}));
    EXPECT_TRUE(Random::Fill(nullptr, 0));
    EXPECT_FALSE(Random::Fill(nullptr, 4));
}

TEST(Random, UniformStaysBelowBoundAndCoversIt)
{
    EXPECT_EQ(Random::Uniform(0), 0u);
    EXPECT_EQ(Random::Uniform(1), 0u);
    for (const uint32_t bound : { 2u, 7u, 21u }) {
        std::set<uint32_t> seen;
        for (int i = 0; i < 2000; ++i) {
            const uint32_t value = Random::Uniform(bound);
            ASSERT_LT(value, bound);
            seen.insert(value);
        }
        // 2000 draws miss one of 21 values with odds far below 1e-30.
        EXPECT_EQ(seen.size(), bound) << "bound " << bound;
    }
    // A bound above 2^31 exercises the rejection path's arithmetic.
    const uint32_t large = 3000000000u;
    for (int i = 0; i < 100; ++i) {
        ASSERT_LT(Random::Uniform(large), large);
    }
}
