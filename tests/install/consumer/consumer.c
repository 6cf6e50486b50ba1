/* Uses the installed C interface: generates the default member and checks
 * that its global minimizer takes the global value. Built both through the
 * CMake package and with pkg-config. */
#include <stdio.h>

#include "travo/travo.h"

int main(void) {
    if (TRAVO_set_default() != TRAVO_STATUS_OK || TRAVO_arg_generate(1) != TRAVO_STATUS_OK) return 1;
    const double v = TRAVO_D2_func(TRAVO_minima.points[1]);
    const double outside[2] = {2.0, 0.0};
    const int ok = v == -1.0 && TRAVO_ND_func(outside) == TRAVO_ERROR_VALUE && TRAVO_glob.count >= 1;
    printf("travo %s: %u minima, global value %g: %s\n", TRAVO_library_version(), TRAVO_num_minima, v,
           ok ? "ok" : "WRONG");
    TRAVO_free();
    TRAVO_domain_free();
    return ok ? 0 : 1;
}
