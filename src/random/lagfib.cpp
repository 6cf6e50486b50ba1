#include "random/lagfib.hpp"

namespace travo::core {
namespace {

constexpr double kUlp = 1.0 / 4503599627370496.0;  // 2^-52
constexpr double kTwoUlp = 2.0 * kUlp;             // 2^-51
constexpr int32_t kSeedMask = 0x3FFFFFFF;
constexpr int kWork = 2 * RandomSource::kLong - 1;  // 199
constexpr int kPasses = 69;

// Fractional part of a sum of two numbers in [0, 1): exact in binary64.
inline double mod_sum(double x, double y) {
    const double s = x + y;
    return s - static_cast<double>(static_cast<int>(s));
}

}  // namespace

void RandomSource::array(double *a, int32_t n) {
    if (a == nullptr || n < kLong) return;
    int32_t i = 0, j = 0;
    for (j = 0; j < kLong; j++) a[j] = ran_u[j];
    for (; j < n; j++) a[j] = mod_sum(a[j - kLong], a[j - kShort]);
    for (i = 0; i < kShort; i++, j++) ran_u[i] = mod_sum(a[j - kLong], a[j - kShort]);
    for (; i < kLong; i++, j++) ran_u[i] = mod_sum(a[j - kLong], ran_u[i - kShort]);
}

void RandomSource::start(int32_t seed) {
    double w[kWork];  // values
    double l[kWork];  // marks: kUlp exactly where w is an odd multiple of 2^-52
    int32_t s = seed & kSeedMask;
    double v = (s + 2) * kTwoUlp;

    for (int j = 0; j < kLong; j++) {
        w[j] = v;
        l[j] = 0.0;
        v += v;
        if (v >= 1.0) v -= 1.0 - kTwoUlp;
    }
    for (int j = kLong; j < kWork; j++) {
        w[j] = 0.0;
        l[j] = 0.0;
    }
    w[1] += kUlp;
    l[1] = kUlp;

    for (int t = kPasses; t != 0;) {
        for (int j = kLong - 1; j > 0; j--) {
            l[j + j] = l[j];
            w[j + j] = w[j];
        }
        for (int j = kWork - 1; j > kLong - kShort; j -= 2) {
            l[kWork - j] = 0.0;
            w[kWork - j] = w[j] - l[j];
        }
        for (int j = kWork - 1; j >= kLong; j--) {
            if (l[j] != 0.0) {
                l[j - (kLong - kShort)] = kUlp - l[j - (kLong - kShort)];
                w[j - (kLong - kShort)] = mod_sum(w[j - (kLong - kShort)], w[j]);
                l[j - kLong] = kUlp - l[j - kLong];
                w[j - kLong] = mod_sum(w[j - kLong], w[j]);
            }
        }
        if (s & 1) {
            for (int j = kLong; j > 0; j--) {
                l[j] = l[j - 1];
                w[j] = w[j - 1];
            }
            l[0] = l[kLong];
            w[0] = w[kLong];
            if (l[kLong] != 0.0) {
                l[kShort] = kUlp - l[kShort];
                w[kShort] = mod_sum(w[kShort], w[kLong]);
            }
        }
        if (s != 0) {
            s >>= 1;
        } else {
            t--;
        }
    }
    for (int j = 0; j < kShort; j++) ran_u[j + kLong - kShort] = w[j];
    for (int j = kShort; j < kLong; j++) ran_u[j - kShort] = w[j];
}

void RandomSource::refill() {
    array(rnd_num, kBufferSize);
    rnd_counter = 0;
}

int32_t member_seed(uint32_t dim, uint32_t num_minima, int32_t test_number) {
    const uint32_t s = 1000000u * dim + 100u * num_minima + static_cast<uint32_t>(test_number) - 101u;
    return static_cast<int32_t>(s);
}

}  // namespace travo::core
