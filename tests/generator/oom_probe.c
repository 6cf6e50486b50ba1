/* Generates the default member with the number of minima given as the
 * argument and exits with the status of TRAVO_arg_generate. */
#include <stdlib.h>

#include "travo/travo.h"

int main(int argc, char **argv) {
    if (argc != 2 || TRAVO_set_default() != TRAVO_STATUS_OK) return 100;
    TRAVO_num_minima = (uint32_t)strtoul(argv[1], NULL, 10);
    return TRAVO_arg_generate(1);
}
