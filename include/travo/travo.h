/*
 * travo: test functions for global optimisation with known minima.
 *
 * Module-wide C interface. One member of the test class lives in the
 * module-wide state below at a time: set the parameters (directly or with
 * TRAVO_set_default), provide a box, call TRAVO_arg_generate, evaluate, and
 * release with TRAVO_free and TRAVO_domain_free.
 *
 * The module-wide state is shared and unlocked: one thread at a time. Code
 * that needs several members at once, or evaluation from several threads,
 * uses the reentrant interface of member.h (included below) or the C++
 * interface in travo.hpp.
 */
#ifndef TRAVO_TRAVO_H
#define TRAVO_TRAVO_H

#include <stdint.h>

#include <travo/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Value returned by an evaluation that cannot evaluate. */
#define TRAVO_ERROR_VALUE 1e+100

/* Largest dimension a member can have. */
#define TRAVO_MAX_DIM 1008u

/* Status of the generator and derivative operations; 0 is success. */
typedef int TravoStatus;

enum {
    TRAVO_STATUS_OK = 0,
    TRAVO_BAD_DIMENSION = 1,         /* dimension below 2 or above 1008 */
    TRAVO_BAD_MINIMA_COUNT = 2,      /* fewer than 2 minima */
    TRAVO_BAD_TEST_NUMBER = 3,       /* test number outside 1..100 */
    TRAVO_BAD_DOMAIN = 4,            /* box missing, too short, degenerate, not finite or too large */
    TRAVO_BAD_GLOBAL_VALUE = 5,      /* global value not below -1e-10, or too low to keep results finite */
    TRAVO_BAD_GLOBAL_DISTANCE = 6,   /* distance outside (1e-10, side/2 - 1e-10) */
    TRAVO_BAD_GLOBAL_RADIUS = 7,     /* radius outside (1e-10, dist/2 + 1e-10) */
    TRAVO_NO_MEMORY = 8,             /* an allocation returned no storage */
    TRAVO_BAD_DERIVATIVE = 9,        /* gradient or Hessian could not be evaluated */
    TRAVO_PARABOLA_COINCIDENCE = 14, /* a local minimizer sits on the vertex */
    TRAVO_MINIMA_COINCIDENCE = 15,   /* two minimizers coincide */
    TRAVO_NO_GLOBAL_MINIMUM = 16     /* no minimizer has the global value */
};

/* One row per minimizer: row 0 is the paraboloid vertex, row 1 the global
 * minimizer, rows 2..m-1 the other local minimizers. */
typedef struct MinimaTable {
    double **points; /* m rows of n coordinates */
    double *values;  /* value at each minimizer */
    double *weights; /* factor applied to each region radius */
    double *peaks;   /* depth drawn for each local minimizer */
    double *radii;   /* radius of each attraction region */
} MinimaTable;

/* Which rows are global minimizers: the first `count` entries of `indices`,
 * increasing; the other rows fill the array from its end backwards. */
typedef struct GlobalMinimaList {
    uint32_t count;
    uint32_t *indices;
} GlobalMinimaList;

/* Module-wide generator state. */
extern TRAVO_API uint32_t TRAVO_dim;         /* n */
extern TRAVO_API uint32_t TRAVO_num_minima;  /* m, the paraboloid vertex included */
extern TRAVO_API double *TRAVO_domain_left;  /* n lower bounds */
extern TRAVO_API double *TRAVO_domain_right; /* n upper bounds */
extern TRAVO_API double TRAVO_global_dist;   /* distance vertex - global minimizer */
extern TRAVO_API double TRAVO_global_radius; /* radius of the global region */
extern TRAVO_API double TRAVO_global_value;  /* global minimum value */
extern TRAVO_API MinimaTable TRAVO_minima;
extern TRAVO_API GlobalMinimaList TRAVO_glob;

/* Parameters, box and storage. */
TRAVO_API TravoStatus TRAVO_set_default(void);
TRAVO_API TravoStatus TRAVO_domain_alloc(void);
TRAVO_API void TRAVO_domain_free(void);
TRAVO_API TravoStatus TRAVO_parameters_check(void);
TRAVO_API TravoStatus TRAVO_alloc(void);
TRAVO_API void TRAVO_free(void);

/* Generation. */
TRAVO_API TravoStatus TRAVO_arg_generate(int32_t test_number);
TRAVO_API TravoStatus TRAVO_coincidence_check(void);
TRAVO_API TravoStatus TRAVO_set_basins(void);

/* Lagged-Fibonacci random source (module-wide state). */
TRAVO_API void ranf_start(int32_t seed);
/* Writes the next n numbers of the source into aa[0..n-1]. n must be at
 * least 100 (the long lag): with a smaller n, or a null aa, nothing is
 * written and the source keeps its state. */
TRAVO_API void ranf_array(double *aa, int32_t n);
TRAVO_API TravoStatus TRAVO_initialize_rnd(uint32_t dim, uint32_t num_minima, int32_t test_number);

/* Evaluation of the generated member. Indices count coordinates from 1. */
TRAVO_API double TRAVO_norm(const double *a, const double *b);
TRAVO_API double TRAVO_ND_func(const double *x);
TRAVO_API double TRAVO_D_func(const double *x);
TRAVO_API double TRAVO_D2_func(const double *x);
TRAVO_API double TRAVO_D_deriv(uint32_t i, const double *x);
TRAVO_API TravoStatus TRAVO_D_gradient(const double *x, double *g);
TRAVO_API double TRAVO_D2_deriv1(uint32_t i, const double *x);
TRAVO_API TravoStatus TRAVO_D2_gradient(const double *x, double *g);
TRAVO_API double TRAVO_D2_deriv2(uint32_t i, uint32_t j, const double *x);
TRAVO_API TravoStatus TRAVO_D2_hessian(const double *x, double **h);

/* Read access to the rest of the module-wide state. */
TRAVO_API double TRAVO_get_delta(void);          /* coefficient of the D2 kind, in [0, 10) */
TRAVO_API int TRAVO_get_is_arg_set(void);        /* 1 while a generated member is available */
TRAVO_API int32_t TRAVO_get_rnd_counter(void);   /* index of the next buffered number */
TRAVO_API const double *TRAVO_get_rnd_num(void); /* the 1009-number buffer */
TRAVO_API const double *TRAVO_get_ran_u(void);   /* the 100-number source state */

/* Library version, "major.minor.patch". */
TRAVO_API const char *TRAVO_library_version(void);

#ifdef __cplusplus
}
#endif

/* The reentrant interface: members behind handles, any number at once. */
#include <travo/member.h>

#endif /* TRAVO_TRAVO_H */
