// The block kernels on four doubles a vector, for processors with AVX2.
// The build compiles this file alone with -mavx2 (and without fused
// multiply-add); without that flag it holds no kernels.
#include "evaluation/batch.hpp"

#if defined(__AVX2__)
#define TRAVO_SIMD_WIDTH 4
#define TRAVO_SIMD_NS avx2_16
#define TRAVO_SIMD_BLOCK 16
#include "evaluation/batch_kernels.hpp"
#undef TRAVO_SIMD_NS
#undef TRAVO_SIMD_BLOCK
#define TRAVO_SIMD_NS avx2_32
#define TRAVO_SIMD_BLOCK 32
#include "evaluation/batch_kernels.hpp"

namespace travo::core {

const BatchKernels *batch_kernels_avx2(uint32_t n) { return n == 2 ? &avx2_32::kKernels : &avx2_16::kKernels; }

}  // namespace travo::core
#else
namespace travo::core {

const BatchKernels *batch_kernels_avx2(uint32_t) { return nullptr; }

}  // namespace travo::core
#endif
