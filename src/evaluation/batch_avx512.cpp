// The block kernels on eight doubles a vector, for processors with
// AVX-512F. The build compiles this file alone with -mavx512f; without that
// flag it holds no kernels.
#include "evaluation/batch.hpp"

#if defined(__AVX512F__)
#define TRAVO_SIMD_WIDTH 8
#define TRAVO_SIMD_NS avx512_16
#define TRAVO_SIMD_BLOCK 16
#include "evaluation/batch_kernels.hpp"
#undef TRAVO_SIMD_NS
#undef TRAVO_SIMD_BLOCK
#define TRAVO_SIMD_NS avx512_32
#define TRAVO_SIMD_BLOCK 32
#include "evaluation/batch_kernels.hpp"

namespace travo::core {

const BatchKernels *batch_kernels_avx512(uint32_t n) { return n == 2 ? &avx512_32::kKernels : &avx512_16::kKernels; }

}  // namespace travo::core
#else
namespace travo::core {

const BatchKernels *batch_kernels_avx512(uint32_t) { return nullptr; }

}  // namespace travo::core
#endif
