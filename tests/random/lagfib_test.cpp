#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "random/lagfib.hpp"
#include "travo/travo.h"

using travo::core::RandomSource;

namespace {

constexpr double kUlp = 1.0 / 4503599627370496.0;

double ulps(double k) { return k * kUlp; }

std::vector<double> deliver(RandomSource &src, int n) {
    std::vector<double> out(n);
    src.array(out.data(), n);
    return out;
}

}  // namespace

TEST(LaggedFibonacci, CheckValuesOfTheDefaultSeed) {
    RandomSource src;
    src.start(2000900);
    auto a = deliver(src, 1009);
    EXPECT_EQ(a[0], ulps(534544799382057.0));
    EXPECT_EQ(a[1], ulps(3596696450974320.0));
    EXPECT_EQ(a[2], ulps(1428519609463552.0));
    EXPECT_EQ(a[1008], ulps(3789822735901963.0));
    a = deliver(src, 1009);
    EXPECT_EQ(a[0], ulps(496425064503744.0));

    src.start(0);
    EXPECT_EQ(src.ran_u[0], ulps(337432044646195.0));
}

TEST(LaggedFibonacci, OnlyTheLowThirtyBitsOfTheSeedCount) {
    RandomSource a, b;
    a.start(12345);
    b.start(12345 | (1 << 30));
    EXPECT_EQ(0, std::memcmp(a.ran_u, b.ran_u, sizeof a.ran_u));
    a.start(-1);
    b.start(0x3FFFFFFF);
    EXPECT_EQ(0, std::memcmp(a.ran_u, b.ran_u, sizeof a.ran_u));
    a.start(1 << 30);
    b.start(0);
    EXPECT_EQ(0, std::memcmp(a.ran_u, b.ran_u, sizeof a.ran_u));
}

TEST(LaggedFibonacci, SeedingForgetsEverythingBefore) {
    RandomSource a, b;
    a.start(77);
    deliver(a, 5000);
    a.start(99);
    b.start(99);
    EXPECT_EQ(0, std::memcmp(a.ran_u, b.ran_u, sizeof a.ran_u));
}

TEST(LaggedFibonacci, DeliveriesAreOneContiguousStream) {
    RandomSource a, b;
    a.start(2000900);
    b.start(2000900);
    const std::vector<double> state(a.ran_u, a.ran_u + 100);
    auto first100 = deliver(a, 100);
    EXPECT_EQ(first100, state);  // n = 100 returns the state as it stood

    a.start(2000900);
    auto x = deliver(a, 1009);
    auto y = deliver(a, 1009);
    auto whole = deliver(b, 2018);
    x.insert(x.end(), y.begin(), y.end());
    EXPECT_EQ(x, whole);
    for (double u : whole) {
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
        const double k = u / kUlp;
        ASSERT_EQ(k, std::floor(k)) << "not a multiple of 2^-52: " << u;
    }
}

TEST(LaggedFibonacci, ShortDeliveryWritesNothing) {
    RandomSource a;
    a.start(5);
    const std::vector<double> before(a.ran_u, a.ran_u + 100);
    std::vector<double> out(99, -1.0);
    a.array(out.data(), 99);
    a.array(nullptr, 1009);
    EXPECT_EQ(std::vector<double>(a.ran_u, a.ran_u + 100), before);
    EXPECT_EQ(out, std::vector<double>(99, -1.0));
}

TEST(LaggedFibonacci, DrawRefillsAtTheEndOfTheBuffer) {
    RandomSource a, b;
    a.start(3);
    b.start(3);
    a.refill();
    auto stream = deliver(b, 2 * 1009);
    for (int i = 0; i < 1008; i++) a.draw();
    EXPECT_EQ(a.rnd_counter, 1008);
    EXPECT_EQ(a.draw(), stream[1008]);
    EXPECT_EQ(a.rnd_counter, 0);
    EXPECT_EQ(a.draw(), stream[1009]);
}

TEST(LaggedFibonacci, ModuleSeedFormula) {
    EXPECT_EQ(travo::core::member_seed(2, 10, 1), 2000900);
    EXPECT_EQ(travo::core::member_seed(2, 2, 1), 2000100);
    EXPECT_EQ(travo::core::member_seed(3, 4, 1), 3000300);
    // Wraps in 32-bit two's complement.
    EXPECT_EQ(travo::core::member_seed(1000, 4294967295u, 1), static_cast<int32_t>(1000000000u - 100u - 100u));

    RandomSource ref;
    ref.start(2000900);
    EXPECT_EQ(TRAVO_initialize_rnd(2, 10, 1), TRAVO_STATUS_OK);
    EXPECT_EQ(0, std::memcmp(TRAVO_get_ran_u(), ref.ran_u, sizeof ref.ran_u));
    ranf_start(2000900);
    std::vector<double> a(1009), b(1009);
    ranf_array(a.data(), 1009);
    ref.array(b.data(), 1009);
    EXPECT_EQ(a, b);
}
