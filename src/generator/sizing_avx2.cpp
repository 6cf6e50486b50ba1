// The sizing searches on four doubles a vector, for processors with AVX2.
// The build compiles this file alone with -mavx2 (and without fused
// multiply-add); without that flag it holds no kernels.
#include "generator/sizing.hpp"

#if defined(__AVX2__)
#define TRAVO_SIMD_WIDTH 4
#define TRAVO_SIMD_NS sizing_avx2
#include "generator/sizing_kernels.hpp"

namespace travo::core {

const SizingKernels *sizing_kernels_avx2() { return &sizing_avx2::kSizingKernels; }

}  // namespace travo::core
#else
namespace travo::core {

const SizingKernels *sizing_kernels_avx2() { return nullptr; }

}  // namespace travo::core
#endif
