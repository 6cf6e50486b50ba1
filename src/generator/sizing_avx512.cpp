// The sizing searches on eight doubles a vector, for processors with
// AVX-512F. The build compiles this file alone with -mavx512f; without that
// flag it holds no kernels.
#include "generator/sizing.hpp"

#if defined(__AVX512F__)
#define TRAVO_SIMD_WIDTH 8
#define TRAVO_SIMD_NS sizing_avx512
#include "generator/sizing_kernels.hpp"

namespace travo::core {

const SizingKernels *sizing_kernels_avx512() { return &sizing_avx512::kSizingKernels; }

}  // namespace travo::core
#else
namespace travo::core {

const SizingKernels *sizing_kernels_avx512() { return nullptr; }

}  // namespace travo::core
#endif
