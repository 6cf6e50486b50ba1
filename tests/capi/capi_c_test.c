/* The reentrant interface from C: two members held at once keep their own results while the other is made,
 * evaluated and released, and the module-wide member is left alone. */
#include <stdio.h>
#include <string.h>

#include "travo/travo.h"

static int failures = 0;

#define CHECK(cond)                                                            \
    do {                                                                       \
        if (!(cond)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            failures++;                                                        \
        }                                                                      \
    } while (0)

/* Values of the three kinds, the D2 gradient and Hessian at x, in out; the bits of `before` when given. */
static void results(const travo_member *f, const double *x, double *out, const double *before) {
    const uint32_t n = travo_member_dim(f);
    const size_t used = 3 + n + (size_t)n * n;
    CHECK(travo_member_value(f, TRAVO_KIND_ND, x, &out[0]) == TRAVO_STATUS_OK);
    CHECK(travo_member_value(f, TRAVO_KIND_D, x, &out[1]) == TRAVO_STATUS_OK);
    CHECK(travo_member_value(f, TRAVO_KIND_D2, x, &out[2]) == TRAVO_STATUS_OK);
    CHECK(travo_member_gradient(f, TRAVO_KIND_D2, x, &out[3]) == TRAVO_STATUS_OK);
    CHECK(travo_member_hessian(f, x, &out[3 + n]) == TRAVO_STATUS_OK);
    CHECK(before == NULL || memcmp(before, out, used * sizeof(double)) == 0);
}

int main(void) {
    const double lower[3] = {0.0, -2.0, 1.0}, upper[3] = {4.0, -1.25, 8.0};
    const double xa[2] = {0.1, -0.2}, xb[3] = {1.0, -1.5, 3.0};
    double a_alone[16], b_alone[16], again[16];
    char why[256] = "untouched";
    travo_member *a = NULL, *b = NULL;
    travo_params pa = travo_params_default(2), pb = travo_params_default(3);

    pb.lower = lower;
    pb.upper = upper;
    pb.distance = 0.2;
    pb.radius = 0.1;
    CHECK(travo_member_new(&pa, &a, why, sizeof why) == TRAVO_STATUS_OK && strcmp(why, "") == 0);
    results(a, xa, a_alone, NULL);
    CHECK(travo_member_new(&pb, &b, why, sizeof why) == TRAVO_STATUS_OK);
    CHECK(travo_member_dim(a) == 2 && travo_member_dim(b) == 3);
    results(a, xa, again, a_alone);
    results(b, xb, b_alone, NULL);
    travo_member_free(a);
    results(b, xb, again, b_alone);
    travo_member_free(b);

    CHECK(TRAVO_get_is_arg_set() == 0 && TRAVO_minima.points == NULL);
    if (failures == 0) printf("two members held at once: ok\n");
    return failures == 0 ? 0 : 1;
}
