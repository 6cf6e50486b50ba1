/**
 * @file travo.h
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

/** Value returned by an evaluation that cannot evaluate. */
#define TRAVO_ERROR_VALUE 1e+100

/** Largest dimension a member can have. */
#define TRAVO_MAX_DIM 1008u

/** Status of the generator and derivative operations; 0 is success. */
typedef int TravoStatus;

/** The statuses of the library (TravoStatus values). */
enum {
    TRAVO_STATUS_OK = 0,             /**< success */
    TRAVO_BAD_DIMENSION = 1,         /**< dimension below 2 or above 1008 */
    TRAVO_BAD_MINIMA_COUNT = 2,      /**< fewer than 2 minima */
    TRAVO_BAD_TEST_NUMBER = 3,       /**< test number outside 1..100 */
    TRAVO_BAD_DOMAIN = 4,            /**< box missing, too short, degenerate, not finite or too large */
    TRAVO_BAD_GLOBAL_VALUE = 5,      /**< global value not below -1e-10, or too low to keep results finite */
    TRAVO_BAD_GLOBAL_DISTANCE = 6,   /**< distance outside (1e-10, side/2 - 1e-10) */
    TRAVO_BAD_GLOBAL_RADIUS = 7,     /**< radius outside (1e-10, dist/2 + 1e-10) */
    TRAVO_NO_MEMORY = 8,             /**< an allocation returned no storage */
    TRAVO_BAD_DERIVATIVE = 9,        /**< gradient or Hessian could not be evaluated */
    TRAVO_PARABOLA_COINCIDENCE = 14, /**< a local minimizer sits on the vertex */
    TRAVO_MINIMA_COINCIDENCE = 15,   /**< two minimizers coincide */
    TRAVO_NO_GLOBAL_MINIMUM = 16     /**< no minimizer has the global value */
};

/** One row per minimizer: row 0 is the paraboloid vertex, row 1 the global
 * minimizer, rows 2..m-1 the other local minimizers. */
typedef struct MinimaTable {
    double **points; /**< m rows of n coordinates */
    double *values;  /**< value at each minimizer */
    double *weights; /**< factor applied to each region radius */
    double *peaks;   /**< depth drawn for each local minimizer */
    double *radii;   /**< radius of each attraction region */
} MinimaTable;

/** Which rows are global minimizers: the first `count` entries of `indices`,
 * increasing; the other rows fill the array from its end backwards. */
typedef struct GlobalMinimaList {
    uint32_t count;    /**< number of global minimizers */
    uint32_t *indices; /**< num_minima row numbers, the global ones first */
} GlobalMinimaList;

extern TRAVO_API uint32_t TRAVO_dim;          /**< n */
extern TRAVO_API uint32_t TRAVO_num_minima;   /**< m, the paraboloid vertex included */
extern TRAVO_API double *TRAVO_domain_left;   /**< n lower bounds */
extern TRAVO_API double *TRAVO_domain_right;  /**< n upper bounds */
extern TRAVO_API double TRAVO_global_dist;    /**< distance vertex - global minimizer */
extern TRAVO_API double TRAVO_global_radius;  /**< radius of the global region */
extern TRAVO_API double TRAVO_global_value;   /**< global minimum value */
extern TRAVO_API MinimaTable TRAVO_minima;    /**< the minima table of the generated member */
extern TRAVO_API GlobalMinimaList TRAVO_glob; /**< its global minimizers */

/* Parameters, box and storage. */

/** Sets the library's defaults: dimension 2, 10 minima, global value -1, a
 * box [-1, 1]^2 allocated when there is none (a box already set is kept),
 * the distance a third of the box's shortest side and the radius half the
 * distance. TRAVO_NO_MEMORY when the box cannot be allocated. */
TRAVO_API TravoStatus TRAVO_set_default(void);
/** Allocates a box of TRAVO_dim coordinates, [-1, 1] in each, into
 * TRAVO_domain_left and TRAVO_domain_right; an earlier box is not released.
 * TRAVO_BAD_DIMENSION for a dimension outside 2..1008, TRAVO_NO_MEMORY. */
TRAVO_API TravoStatus TRAVO_domain_alloc(void);
/** Releases the box and sets both bound pointers to NULL. */
TRAVO_API void TRAVO_domain_free(void);
/** Checks the module-wide parameters and box in the library's order
 * (dimension, minima count, box, global value, distance, radius) and
 * returns the first status that fails, or TRAVO_STATUS_OK. */
TRAVO_API TravoStatus TRAVO_parameters_check(void);
/** Allocates the minima table and the global list for TRAVO_num_minima
 * rows of TRAVO_dim coordinates; earlier tables are not released.
 * TRAVO_BAD_DIMENSION, TRAVO_BAD_MINIMA_COUNT or TRAVO_NO_MEMORY. */
TRAVO_API TravoStatus TRAVO_alloc(void);
/** Releases the minima table and the global list (the rows the library
 * allocated); the member is then no longer available. Call it before every
 * new generation. */
TRAVO_API void TRAVO_free(void);

/* Generation. */

/** Generates member `test_number` (1 to 100) of the class the module-wide
 * parameters fix: checks them (test number, dimension, minima count, box,
 * global value, distance, radius), allocates fresh tables, places the
 * minimizers, draws delta and sizes the regions. Earlier tables are not
 * released: call TRAVO_free first. Returns the first status that fails; on
 * failure no member is available (TRAVO_get_is_arg_set() is 0). */
TRAVO_API TravoStatus TRAVO_arg_generate(int32_t test_number);
/** Checks the minima table: TRAVO_PARABOLA_COINCIDENCE when a local
 * minimizer lies within 1e-10 of the vertex, TRAVO_MINIMA_COINCIDENCE when
 * two minimizers do, TRAVO_NO_MEMORY when the tables are missing or were
 * allocated for another size. Generation runs it itself. */
TRAVO_API TravoStatus TRAVO_coincidence_check(void);
/** Sizes the attraction regions of the placed minimizers and draws the
 * local minimum values (the step of generation after placing the points),
 * from the module-wide random source. TRAVO_NO_MEMORY when the tables are
 * missing or were allocated for another size. */
TRAVO_API TravoStatus TRAVO_set_basins(void);

/* Lagged-Fibonacci random source (module-wide state). */

/** Starts the random source from `seed`. */
TRAVO_API void ranf_start(int32_t seed);
/** Writes the next n numbers of the source into aa[0..n-1]. n must be at
 * least 100 (the long lag): with a smaller n, or a null aa, nothing is
 * written and the source keeps its state. */
TRAVO_API void ranf_array(double *aa, int32_t n);
/** Starts the random source from the seed of member `test_number` in
 * dimension `dim` with `num_minima` minima, as generation does. Always
 * TRAVO_STATUS_OK. */
TRAVO_API TravoStatus TRAVO_initialize_rnd(uint32_t dim, uint32_t num_minima, int32_t test_number);

/* Evaluation of the generated member. Indices count coordinates from 1. */

/** Euclidean distance between a and b over TRAVO_dim coordinates, the
 * squares summed in increasing order. */
TRAVO_API double TRAVO_norm(const double *a, const double *b);
/** Value of the non-differentiable kind at x (TRAVO_dim coordinates);
 * TRAVO_ERROR_VALUE without a member, for a NULL x or for x more than
 * 1e-10 outside the box. */
TRAVO_API double TRAVO_ND_func(const double *x);
/** Value of the continuously differentiable kind at x, as TRAVO_ND_func. */
TRAVO_API double TRAVO_D_func(const double *x);
/** Value of the twice continuously differentiable kind at x, as
 * TRAVO_ND_func. */
TRAVO_API double TRAVO_D2_func(const double *x);
/** Derivative of the D kind along coordinate i (1 to TRAVO_dim) at x;
 * TRAVO_ERROR_VALUE for another i, and where the value is TRAVO_ERROR_VALUE. */
TRAVO_API double TRAVO_D_deriv(uint32_t i, const double *x);
/** Gradient of the D kind at x into g[0..n-1]. TRAVO_BAD_DERIVATIVE
 * without a member or output, or when a component is TRAVO_ERROR_VALUE
 * (the point lies outside the box). */
TRAVO_API TravoStatus TRAVO_D_gradient(const double *x, double *g);
/** Derivative of the D2 kind along coordinate i at x, as TRAVO_D_deriv. */
TRAVO_API double TRAVO_D2_deriv1(uint32_t i, const double *x);
/** Gradient of the D2 kind at x into g[0..n-1], as TRAVO_D_gradient. */
TRAVO_API TravoStatus TRAVO_D2_gradient(const double *x, double *g);
/** Second derivative of the D2 kind along coordinates i, then j (1 to
 * TRAVO_dim each) at x; TRAVO_ERROR_VALUE for other indices, and where
 * the value is TRAVO_ERROR_VALUE. */
TRAVO_API double TRAVO_D2_deriv2(uint32_t i, uint32_t j, const double *x);
/** Hessian of the D2 kind at x into the n rows h[0..n-1] (h[i][j]: along
 * i, then j). TRAVO_BAD_DERIVATIVE as TRAVO_D2_gradient. */
TRAVO_API TravoStatus TRAVO_D2_hessian(const double *x, double **h);

/* Read access to the rest of the module-wide state. */

TRAVO_API double TRAVO_get_delta(void);          /**< coefficient of the D2 kind, in [0, 10) */
TRAVO_API int TRAVO_get_is_arg_set(void);        /**< 1 while a generated member is available */
TRAVO_API int32_t TRAVO_get_rnd_counter(void);   /**< index of the next buffered number */
TRAVO_API const double *TRAVO_get_rnd_num(void); /**< the 1009-number buffer */
TRAVO_API const double *TRAVO_get_ran_u(void);   /**< the 100-number source state */

/** Library version, "major.minor.patch". */
TRAVO_API const char *TRAVO_library_version(void);

#ifdef __cplusplus
}
#endif

/* The reentrant interface: members behind handles, any number at once. */
#include <travo/member.h>

#endif /* TRAVO_TRAVO_H */
