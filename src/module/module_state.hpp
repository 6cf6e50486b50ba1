// The module-wide instance behind the C interface: one random source and the
// two generator values that have no C name of their own. They live in a C++
// namespace so that short names such as `delta` never become global C
// linker symbols.
#pragma once

#include "generator/member.hpp"
#include "random/lagfib.hpp"

namespace travo::module {

extern core::RandomSource rng;
extern int isArgSet;
extern double delta;

// The module-wide state as a core member (a copy of the references and
// values), and the way back.
core::Member load();
void store(const core::Member &mb);

}  // namespace travo::module
