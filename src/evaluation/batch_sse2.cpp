// The block kernels on two doubles a vector: SSE2, the baseline of x86-64
// (GCC and Clang vector types give the same code on other processors).
#define TRAVO_SIMD_WIDTH 2
#define TRAVO_SIMD_NS sse2_16
#define TRAVO_SIMD_BLOCK 16
#include "evaluation/batch_kernels.hpp"
#undef TRAVO_SIMD_NS
#undef TRAVO_SIMD_BLOCK
#define TRAVO_SIMD_NS sse2_32
#define TRAVO_SIMD_BLOCK 32
#include "evaluation/batch_kernels.hpp"

namespace travo::core {

const BatchKernels *batch_kernels_sse2(uint32_t n) { return n == 2 ? &sse2_32::kKernels : &sse2_16::kKernels; }

}  // namespace travo::core
