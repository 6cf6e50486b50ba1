// The vector of doubles that the kernels of one instruction set work on,
// and its moves. Included by each kernel header (batch_kernels.hpp,
// sizing_kernels.hpp) inside the translation unit compiled for that set,
// with TRAVO_SIMD_NS naming the kernels' namespace and TRAVO_SIMD_WIDTH the
// doubles of a vector; once per namespace, so no include guard. Everything
// here has internal linkage, like the kernels themselves.
#include <cstddef>
#include <cstring>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace travo::core::TRAVO_SIMD_NS {
namespace {

constexpr std::size_t kWidth = TRAVO_SIMD_WIDTH;

using Lanes = double __attribute__((vector_size(kWidth * sizeof(double))));

// v in every lane (as it is: 0.0 + v would turn -0.0 into +0.0, and costs
// an addition), by the instruction: some compilers turn a loop over the
// lanes into one masked move a lane.
inline Lanes all(double v) {
#if TRAVO_SIMD_WIDTH == 8 && defined(__AVX512F__)
    return reinterpret_cast<Lanes>(_mm512_set1_pd(v));
#elif TRAVO_SIMD_WIDTH == 4 && defined(__AVX__)
    return reinterpret_cast<Lanes>(_mm256_set1_pd(v));
#elif TRAVO_SIMD_WIDTH == 2 && defined(__SSE2__)
    return reinterpret_cast<Lanes>(_mm_set1_pd(v));
#else
    Lanes r;
    for (std::size_t i = 0; i < kWidth; i++) r[i] = v;
    return r;
#endif
}

inline Lanes load(const double *p) {
    Lanes r;
    std::memcpy(&r, p, sizeof r);
    return r;
}

inline void store(double *p, const Lanes &v) { std::memcpy(p, &v, sizeof v); }

}  // namespace
}  // namespace travo::core::TRAVO_SIMD_NS
