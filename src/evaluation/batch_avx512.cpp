// The block kernels on eight doubles a vector, for processors with
// AVX-512F. The build compiles this file alone with -mavx512f; without that
// flag it holds no kernels.
#include "evaluation/batch.hpp"

#if defined(__AVX512F__)
#define TRAVO_SIMD_NS avx512
#define TRAVO_SIMD_WIDTH 8
#include "evaluation/batch_kernels.hpp"

namespace travo::core {

const BatchKernels *batch_kernels_avx512() { return &avx512::kKernels; }

}  // namespace travo::core
#else
namespace travo::core {

const BatchKernels *batch_kernels_avx512() { return nullptr; }

}  // namespace travo::core
#endif
