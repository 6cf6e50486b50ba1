// The block kernels on two doubles a vector: SSE2, the baseline of x86-64
// (GCC and Clang vector types give the same code on other processors).
#define TRAVO_SIMD_NS sse2
#define TRAVO_SIMD_WIDTH 2
#include "evaluation/batch_kernels.hpp"

namespace travo::core {

const BatchKernels *batch_kernels_sse2() { return &sse2::kKernels; }

}  // namespace travo::core
