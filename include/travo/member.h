/**
 * @file member.h
 * travo: test functions for global optimisation with known minima.
 *
 * Reentrant C interface. A travo_member is one generated member behind an
 * opaque handle, made from a travo_params and released with
 * travo_member_free. Handles share nothing: a program holds as many as it
 * likes, and one handle may be evaluated from many threads at once (every
 * operation on it only reads it). Results carry the bits of the C++
 * interface (travo.hpp) and of the module-wide interface (travo.h) for the
 * same parameters.
 *
 * @code{.c}
 *     travo_params p = travo_params_default(2);   // box [-1, 1]^2
 *     travo_member *f;
 *     char why[256];
 *     p.num_minima = 50;
 *     if (travo_member_new(&p, &f, why, sizeof why) != TRAVO_STATUS_OK) ...
 *     double x[2] = {0.1, -0.2}, v, g[2];
 *     travo_member_value_and_gradient(f, TRAVO_KIND_D2, x, &v, g);
 *     travo_member_free(f);
 * @endcode
 *
 * Every operation returns a TravoStatus: 0, a status of travo.h, or one of
 * the argument statuses below. No operation reads through a NULL pointer it
 * is given; points and output arrays hold dim() doubles (dim() * dim() for
 * a Hessian, row by row), batches `count` of them one after another.
 */
#ifndef TRAVO_MEMBER_H
#define TRAVO_MEMBER_H

#include <stddef.h>
#include <stdint.h>

#include <travo/export.h>
#include <travo/travo.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Statuses of the reentrant interface for arguments it refuses. They lie
 * apart from the generator statuses of travo.h. */
enum {
    TRAVO_NULL_ARGUMENT = 100, /**< a required pointer (handle, parameters, point, output) is NULL */
    TRAVO_BAD_KIND = 101,      /**< kind not a travo_kind, or ND where a derivative is asked */
    TRAVO_BAD_ARGUMENT = 102   /**< a batch too large to address */
};

/** The three kinds of member: non-differentiable, continuously
 * differentiable, twice continuously differentiable. */
typedef enum travo_kind { TRAVO_KIND_ND = 0, TRAVO_KIND_D = 1, TRAVO_KIND_D2 = 2 } travo_kind;

/** Everything that fixes a member. `lower` and `upper` point to `dim` bounds
 * each, owned by the caller and read only by travo_member_new. */
typedef struct travo_params {
    uint32_t dim;        /**< dimension, 2 to 1008 */
    uint32_t num_minima; /**< number of minima, the paraboloid vertex included */
    double global_value; /**< global minimum value, below -1e-10 */
    double distance;     /**< from the paraboloid vertex to the global minimizer */
    double radius;       /**< of the global minimizer's region */
    const double *lower; /**< `dim` lower bounds of the box */
    const double *upper; /**< `dim` upper bounds of the box */
    int32_t test_number; /**< 1 to 100 */
} travo_params;

/** The library's defaults in dimension `dim`, as the C++ interface's
 * Parameters::resolve derives them: 10 minima, global value -1, the box
 * [-1, 1]^dim (bounds in static storage of the library), distance a third
 * of its side and radius half of that, test number 1. For a dimension
 * outside 2..1008 the bounds are NULL and generation refuses the dimension. */
TRAVO_API travo_params travo_params_default(uint32_t dim);

/** Short name of a status, in lower-case words: "bad global distance",
 * "null argument"; "unknown status" for a number that is none. Static
 * storage. */
TRAVO_API const char *travo_status_name(TravoStatus status);

/** Name of a kind, in capitals: "ND", "D" or "D2"; NULL for a value that is
 * not a travo_kind. Static storage. */
TRAVO_API const char *travo_kind_name(travo_kind kind);

/** One generated member behind an opaque handle. */
typedef struct travo_member travo_member;

/** Generates the member fixed by `params` into *out (NULL on failure). A
 * refused generation returns the status of travo.h that the C++ interface
 * gives and writes the rule it broke, as travo::Error::rule() states it,
 * into `errbuf` (at most errlen bytes, NUL-terminated, cut short if need
 * be; nothing when errbuf is NULL or errlen 0). On success errbuf holds the
 * empty text. */
TRAVO_API TravoStatus travo_member_new(const travo_params *params, travo_member **out, char *errbuf, size_t errlen);

/** Releases a member; NULL is ignored. */
TRAVO_API void travo_member_free(travo_member *member);

/** The member's dimension; 0 for a NULL handle. */
TRAVO_API uint32_t travo_member_dim(const travo_member *member);
/** The member's number of minima, the paraboloid vertex included; 0 for a
 * NULL handle. */
TRAVO_API uint32_t travo_member_num_minima(const travo_member *member);
/** The coefficient delta of the D2 kind, in [0, 10); 0 for a NULL handle. */
TRAVO_API double travo_member_delta(const travo_member *member);

/* The minima table, valid while the handle lives (row 0 the paraboloid
 * vertex, row 1 the global minimizer). */

/** The value at each minimizer, num_minima entries; NULL for a NULL handle. */
TRAVO_API const double *travo_member_minimum_values(const travo_member *member);
/** The radius of each minimizer's attraction region, num_minima entries;
 * NULL for a NULL handle. */
TRAVO_API const double *travo_member_radii(const travo_member *member);
/** The dim coordinates of minimizer `row`; NULL for a NULL handle or a row
 * beyond the table. */
TRAVO_API const double *travo_member_minimizer(const travo_member *member, uint32_t row);
/** The rows whose value is the global value (within 1e-10), increasing, and
 * their number in *count. NULL for a NULL handle, with *count set to 0 when
 * count is not NULL. */
TRAVO_API const uint32_t *travo_member_global_rows(const travo_member *member, uint32_t *count);

/** Row of the minima table (1..num_minima-1) whose attraction region holds
 * x, or -1 when x lies in no region or outside the box: more than 1e-10
 * outside it, or with a NaN coordinate (which, unlike the module-wide
 * interface, every operation here counts as outside). */
TRAVO_API TravoStatus travo_member_region(const travo_member *member, const double *x, int64_t *region);

/** Value of a kind at x; TRAVO_ERROR_VALUE outside the box. */
TRAVO_API TravoStatus travo_member_value(const travo_member *member, travo_kind kind, const double *x, double *value);

/** Gradient of the D or D2 kind at x into g. TRAVO_BAD_DERIVATIVE when a
 * component is TRAVO_ERROR_VALUE (the point lies outside the box), as
 * TRAVO_D_gradient does; TRAVO_BAD_KIND for the ND kind. */
TRAVO_API TravoStatus travo_member_gradient(const travo_member *member, travo_kind kind, const double *x, double *g);
/** Value into *value and gradient into g of the D or D2 kind at x, from the
 * same region lookup; statuses as travo_member_gradient. */
TRAVO_API TravoStatus travo_member_value_and_gradient(const travo_member *member, travo_kind kind, const double *x,
                                                      double *value, double *g);

/** Hessian of the D2 kind, row by row: h[i * dim + j]. TRAVO_BAD_DERIVATIVE
 * when an entry is TRAVO_ERROR_VALUE. */
TRAVO_API TravoStatus travo_member_hessian(const travo_member *member, const double *x, double *h);

/* Batch forms over `count` points stored one after another; each result has
 * the bits of the single-point form at that point, and points outside the
 * box give TRAVO_ERROR_VALUE entries without a status. `threads`: 0 spreads
 * a large batch over the hardware's threads, k > 0 uses k threads, 1 only
 * the calling thread; the results are the same for every number. With
 * count 0 the arrays may be NULL. */

/** Values of a kind at `count` points into values[0..count-1] (batch form of
 * travo_member_value: see the batch forms above for `threads`). */
TRAVO_API TravoStatus travo_member_values(const travo_member *member, travo_kind kind, const double *points,
                                          size_t count, double *values, unsigned threads);
/** Gradients of the D or D2 kind at `count` points into count * dim
 * components, one gradient after another (batch form of
 * travo_member_gradient). */
TRAVO_API TravoStatus travo_member_gradients(const travo_member *member, travo_kind kind, const double *points,
                                             size_t count, double *gradients, unsigned threads);
/** Values and gradients at `count` points together (batch form of
 * travo_member_value_and_gradient). */
TRAVO_API TravoStatus travo_member_values_and_gradients(const travo_member *member, travo_kind kind,
                                                        const double *points, size_t count, double *values,
                                                        double *gradients, unsigned threads);
/** Hessians of the D2 kind at `count` points into count * dim * dim
 * entries, each row by row (batch form of travo_member_hessian). */
TRAVO_API TravoStatus travo_member_hessians(const travo_member *member, const double *points, size_t count,
                                            double *hessians, unsigned threads);
/** Region rows of `count` points, as travo_member_region gives them (batch
 * form). */
TRAVO_API TravoStatus travo_member_regions(const travo_member *member, const double *points, size_t count,
                                           int64_t *regions, unsigned threads);

#ifdef __cplusplus
}
#endif

#endif /* TRAVO_MEMBER_H */
