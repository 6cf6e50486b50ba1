// The sizing searches on two doubles a vector: SSE2, the baseline of x86-64
// (GCC and Clang vector types give the same code on other processors).
#define TRAVO_SIMD_WIDTH 2
#define TRAVO_SIMD_NS sizing_sse2
#include "generator/sizing_kernels.hpp"

namespace travo::core {

const SizingKernels *sizing_kernels_sse2() { return &sizing_sse2::kSizingKernels; }

}  // namespace travo::core
