/* Two members held at once through the reentrant C interface: a 2-D member
 * of the default class and a 5-D one in a box of its own. Prints where each
 * takes its global minimum, and evaluates a batch of points of the second on
 * two threads. */
#include <stdio.h>

#include "travo/travo.h"

static travo_member *make(const travo_params *p) {
    travo_member *f = NULL;
    char why[256];
    const TravoStatus status = travo_member_new(p, &f, why, sizeof why);
    if (status != TRAVO_STATUS_OK) fprintf(stderr, "generation refused (status %d): %s\n", status, why);
    return f;
}

int main(void) {
    const double lower[5] = {0, 0, 0, 0, 0}, upper[5] = {4, 4, 4, 4, 1};
    travo_params p = travo_params_default(2);
    travo_member *plane = make(&p);
    p = travo_params_default(5);
    p.lower = lower;
    p.upper = upper;
    p.distance = 0.3;
    p.radius = 0.1;
    p.num_minima = 100;
    p.test_number = 7;
    travo_member *box = make(&p);
    if (plane == NULL || box == NULL) return 1;

    const travo_member *both[2] = {plane, box};
    for (int k = 0; k < 2; k++) {
        const uint32_t n = travo_member_dim(both[k]);
        const double *x = travo_member_minimizer(both[k], 1);
        double v, g[5];
        travo_member_value_and_gradient(both[k], TRAVO_KIND_D2, x, &v, g);
        printf("member %d: dimension %u, %u minima, global minimum %g at (", k + 1, n, travo_member_num_minima(both[k]),
               v);
        for (uint32_t c = 0; c < n; c++) printf(c ? ", %.6f" : "%.6f", x[c]);
        printf(")\n");
    }

    double points[3 * 5] = {1, 1, 1, 1, 0.5, 2, 2, 2, 2, 0.5, 3, 1, 3, 1, 0.25}, values[3];
    travo_member_values(box, TRAVO_KIND_ND, points, 3, values, 2);
    printf("member 2, ND kind: %g %g %g\n", values[0], values[1], values[2]);

    travo_member_free(plane);
    travo_member_free(box);
    return 0;
}
