/* The reentrant interface from C: two members held at once keep their own
 * tables and results while the other is made, evaluated and released, and
 * the module-wide member is left alone. */
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

/* Values of the three kinds, the D2 gradient and Hessian at x, in out[0..]. */
static size_t results(const travo_member *f, const double *x, double *out) {
    const uint32_t n = travo_member_dim(f);
    CHECK(travo_member_value(f, TRAVO_KIND_ND, x, &out[0]) == TRAVO_STATUS_OK);
    CHECK(travo_member_value(f, TRAVO_KIND_D, x, &out[1]) == TRAVO_STATUS_OK);
    CHECK(travo_member_value(f, TRAVO_KIND_D2, x, &out[2]) == TRAVO_STATUS_OK);
    CHECK(travo_member_gradient(f, TRAVO_KIND_D2, x, &out[3]) == TRAVO_STATUS_OK);
    CHECK(travo_member_hessian(f, x, &out[3 + n]) == TRAVO_STATUS_OK);
    return 3 + n + (size_t)n * n;
}

int main(void) {
    const double lower[3] = {0.0, -2.0, 1.0}, upper[3] = {4.0, -1.25, 8.0};
    const double xa[2] = {0.1, -0.2}, xb[3] = {1.0, -1.5, 3.0};
    double before[16], after[16], again[16];
    char why[256];
    travo_member *a = NULL, *b = NULL, *c = (travo_member *)&failures;
    travo_params pa = travo_params_default(2), pb = travo_params_default(3);
    size_t used;

    pb.lower = lower;
    pb.upper = upper;
    pb.distance = 0.2;
    pb.radius = 0.1;
    pb.num_minima = 30;
    pb.global_value = -2.5;
    pb.test_number = 9;
    CHECK(travo_member_new(&pa, &a, why, sizeof why) == TRAVO_STATUS_OK && strcmp(why, "") == 0);
    used = results(a, xa, before);

    CHECK(travo_member_new(&pb, &b, why, sizeof why) == TRAVO_STATUS_OK);
    CHECK(travo_member_dim(a) == 2 && travo_member_dim(b) == 3 && travo_member_num_minima(b) == 30);
    CHECK(travo_member_minimum_values(b)[1] == -2.5);
    CHECK(results(a, xa, after) == used && memcmp(before, after, used * sizeof(double)) == 0);

    travo_member_free(a);
    results(b, xb, before);
    pb.distance = 10.0; /* too long for the box: refused, b untouched */
    CHECK(travo_member_new(&pb, &c, why, sizeof why) == TRAVO_BAD_GLOBAL_DISTANCE && c == NULL);
    used = results(b, xb, again);
    CHECK(memcmp(before, again, used * sizeof(double)) == 0);
    travo_member_free(b);

    CHECK(TRAVO_get_is_arg_set() == 0 && TRAVO_minima.points == NULL);
    if (failures == 0) printf("two members held at once: ok\n");
    return failures == 0 ? 0 : 1;
}
