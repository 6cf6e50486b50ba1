/* Values of one two-dimensional member computed by the C library, printed
 * with 17 significant digits so that a reader gets the same doubles back.
 *
 * Usage: reference_values minima value distance radius test [x y]...
 *
 * Prints the minima count, then one line per minimizer (value, radius,
 * coordinates), then one line per point (x, y):
 *   ND D D2  D_deriv(1) D_deriv(2)  D2_deriv1(1) D2_deriv1(2)
 *   D2_deriv2(1,1) (1,2) (2,1) (2,2)  D_gradient(1) (2)  D2_gradient(1) (2)
 *   D2_hessian(1,1) (1,2) (2,1) (2,2)
 */
#include <stdio.h>
#include <stdlib.h>

#include "travo/travo.h"

static double arg(const char *s) { return strtod(s, NULL); }

int main(int argc, char **argv) {
    if (argc < 6 || (argc - 6) % 2 != 0) {
        fprintf(stderr, "usage: %s minima value distance radius test [x y]...\n", argv[0]);
        return 2;
    }
    TRAVO_dim = 2;
    if (TRAVO_domain_alloc() != TRAVO_STATUS_OK) return 1;
    TRAVO_num_minima = (uint32_t)strtoul(argv[1], NULL, 10);
    TRAVO_global_value = arg(argv[2]);
    TRAVO_global_dist = arg(argv[3]);
    TRAVO_global_radius = arg(argv[4]);
    TravoStatus status = TRAVO_arg_generate((int32_t)strtol(argv[5], NULL, 10));
    if (status != TRAVO_STATUS_OK) {
        fprintf(stderr, "generation failed with status %d\n", status);
        return 1;
    }
    printf("%u\n", TRAVO_num_minima);
    for (uint32_t i = 0; i < TRAVO_num_minima; i++) {
        printf("%.17g %.17g %.17g %.17g\n", TRAVO_minima.values[i], TRAVO_minima.radii[i],
               TRAVO_minima.points[i][0], TRAVO_minima.points[i][1]);
    }
    for (int k = 6; k + 1 < argc; k += 2) {
        const double x[2] = {arg(argv[k]), arg(argv[k + 1])};
        double dg[2], d2g[2], h0[2], h1[2];
        double *h[2] = {h0, h1};
        (void)TRAVO_D_gradient(x, dg);
        (void)TRAVO_D2_gradient(x, d2g);
        (void)TRAVO_D2_hessian(x, h);
        printf("%.17g %.17g %.17g", TRAVO_ND_func(x), TRAVO_D_func(x), TRAVO_D2_func(x));
        printf(" %.17g %.17g", TRAVO_D_deriv(1, x), TRAVO_D_deriv(2, x));
        printf(" %.17g %.17g", TRAVO_D2_deriv1(1, x), TRAVO_D2_deriv1(2, x));
        printf(" %.17g %.17g %.17g %.17g", TRAVO_D2_deriv2(1, 1, x), TRAVO_D2_deriv2(1, 2, x),
               TRAVO_D2_deriv2(2, 1, x), TRAVO_D2_deriv2(2, 2, x));
        printf(" %.17g %.17g %.17g %.17g", dg[0], dg[1], d2g[0], d2g[1]);
        printf(" %.17g %.17g %.17g %.17g\n", h0[0], h0[1], h1[0], h1[1]);
    }
    TRAVO_free();
    TRAVO_domain_free();
    return 0;
}
