// The block kernels on four doubles a vector, for processors with AVX2.
// The build compiles this file alone with -mavx2 (and without fused
// multiply-add); without that flag it holds no kernels.
#include "evaluation/batch.hpp"

#if defined(__AVX2__)
#define TRAVO_SIMD_NS avx2
#define TRAVO_SIMD_WIDTH 4
#include "evaluation/batch_kernels.hpp"

namespace travo::core {

const BatchKernels *batch_kernels_avx2() { return &avx2::kKernels; }

}  // namespace travo::core
#else
namespace travo::core {

const BatchKernels *batch_kernels_avx2() { return nullptr; }

}  // namespace travo::core
#endif
