#include "common/simd.hpp"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace travo::core {

const char *simd_name(Simd simd) {
    switch (simd) {
    case Simd::SSE2:
        return "sse2";
    case Simd::AVX2:
        return "avx2";
    case Simd::AVX512:
        return "avx512";
    }
    return "?";
}

bool processor_has(Simd simd) {
#if defined(__x86_64__) || defined(__i386__)
    // Idempotent; needed where this runs before the runtime's own
    // initialisation (a constructor of a module loaded by a host).
    __builtin_cpu_init();
    switch (simd) {
    case Simd::SSE2:
        return __builtin_cpu_supports("sse2");
    case Simd::AVX2:
        return __builtin_cpu_supports("avx2");
    case Simd::AVX512:
        return __builtin_cpu_supports("avx512f");
    }
    return false;
#else
    return simd == Simd::SSE2;  // the two-lane kernels are plain vector types there
#endif
}

Simd simd_cap() {
    if (const char *env = std::getenv("TRAVO_SIMD"); env != nullptr) {
        for (Simd s : {Simd::SSE2, Simd::AVX2, Simd::AVX512}) {
            if (std::strcmp(env, simd_name(s)) == 0) return s;
        }
    }
    return Simd::AVX512;
}

}  // namespace travo::core
