/* Generates test number 1 of the default class and prints its minima table:
 * one row per minimizer with its value, region radius and coordinates. */
#include <stdio.h>

#include "travo/travo.h"

int main(void) {
    TravoStatus status = TRAVO_set_default();
    if (status == TRAVO_STATUS_OK) status = TRAVO_arg_generate(1);
    if (status != TRAVO_STATUS_OK) {
        fprintf(stderr, "generation failed with status %d\n", status);
        return 1;
    }
    printf("# dimension %u, %u minima, global value %g, delta %.10g\n", TRAVO_dim, TRAVO_num_minima, TRAVO_global_value,
           TRAVO_get_delta());
    printf("%4s %16s %16s", "row", "value", "radius");
    for (uint32_t c = 0; c < TRAVO_dim; c++) printf(" %15s%u", "x", c + 1);
    printf("\n");
    for (uint32_t i = 0; i < TRAVO_num_minima; i++) {
        printf("%4u %16.10f %16.10f", i, TRAVO_minima.values[i], TRAVO_minima.radii[i]);
        for (uint32_t c = 0; c < TRAVO_dim; c++) printf(" %16.10f", TRAVO_minima.points[i][c]);
        printf("\n");
    }
    printf("# global minimizers:");
    for (uint32_t k = 0; k < TRAVO_glob.count; k++) printf(" %u", TRAVO_glob.indices[k]);
    printf("\n");
    TRAVO_free();
    TRAVO_domain_free();
    return 0;
}
