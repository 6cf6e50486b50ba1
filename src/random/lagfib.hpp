// Additive lagged-Fibonacci source (lags 100 and 37) computed exactly on
// doubles modulo 1, and the 1009-number buffer that generation draws from.
#pragma once

#include <cstdint>

namespace travo::core {

class RandomSource {
public:
    static constexpr int kLong = 100;  // long lag, size of the state
    static constexpr int kShort = 37;  // short lag
    static constexpr int kBufferSize = 1009;

    // Seeds from the low 30 bits of `seed`; replaces the whole state.
    void start(int32_t seed);

    // Writes the next n numbers of the sequence to a[0..n-1] and advances the
    // state past them. Requires n >= 100; a smaller n (or a null array) writes
    // nothing and leaves the state as it is.
    void array(double *a, int32_t n);

    // Refill: one 1009-number delivery into the buffer, counter back to 0.
    void refill();

    // Draw: the buffered number at the counter; the counter advances and the
    // buffer is refilled when it reaches its end.
    double draw() {
        const double u = rnd_num[rnd_counter];
        if (++rnd_counter == kBufferSize) refill();
        return u;
    }

    double ran_u[kLong] = {};
    double rnd_num[kBufferSize] = {};
    int32_t rnd_counter = 0;
};

// Seed of a member: 1000000*dim + 100*num_minima + test - 101, wrapping in
// 32-bit two's complement.
int32_t member_seed(uint32_t dim, uint32_t num_minima, int32_t test_number);

}  // namespace travo::core
