// The vector instruction sets of the kernels compiled more than once (batch
// evaluation, region sizing) and how one is chosen at run time: the widest
// the processor has, or at most the one named by the environment variable
// TRAVO_SIMD ("sse2", "avx2", "avx512"). Every set gives the same bits.
#pragma once

namespace travo::core {

// Narrowest first.
enum class Simd { SSE2, AVX2, AVX512 };

const char *simd_name(Simd simd);

// Whether the processor runs the instructions of `simd`.
bool processor_has(Simd simd);

// The set named by TRAVO_SIMD, or AVX512 when it names none.
Simd simd_cap();

// The widest set at or below `cap` that `built` accepts and the processor
// runs; SSE2, the baseline, when none does.
template <class Built>
Simd widest_simd(Simd cap, const Built &built) {
    for (int s = static_cast<int>(cap); s > 0; s--) {
        const Simd simd = static_cast<Simd>(s);
        if (built(simd) && processor_has(simd)) return simd;
    }
    return Simd::SSE2;
}

}  // namespace travo::core
