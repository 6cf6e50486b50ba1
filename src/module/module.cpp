// Module-wide C interface: every operation copies the module-wide state into
// a core member, runs the core on it and copies the result back.
#include "module/module_state.hpp"

#include "evaluation/evaluate.hpp"
#include "travo/travo.h"
#include "travo/version.h"

extern "C" {
uint32_t TRAVO_dim = 0;
uint32_t TRAVO_num_minima = 0;
double *TRAVO_domain_left = nullptr;
double *TRAVO_domain_right = nullptr;
double TRAVO_global_dist = 0.0;
double TRAVO_global_radius = 0.0;
double TRAVO_global_value = 0.0;
MinimaTable TRAVO_minima = {nullptr, nullptr, nullptr, nullptr, nullptr};
GlobalMinimaList TRAVO_glob = {0, nullptr};
}

namespace travo::module {

core::RandomSource rng;
int isArgSet = 0;
double delta = 0.0;

core::Member load() {
    core::Member mb;
    mb.dim = TRAVO_dim;
    mb.num_minima = TRAVO_num_minima;
    mb.domain_left = TRAVO_domain_left;
    mb.domain_right = TRAVO_domain_right;
    mb.global_dist = TRAVO_global_dist;
    mb.global_radius = TRAVO_global_radius;
    mb.global_value = TRAVO_global_value;
    mb.minima = TRAVO_minima;
    mb.glob = TRAVO_glob;
    mb.isArgSet = isArgSet;
    mb.delta = delta;
    return mb;
}

void store(const core::Member &mb) {
    TRAVO_dim = mb.dim;
    TRAVO_num_minima = mb.num_minima;
    TRAVO_domain_left = mb.domain_left;
    TRAVO_domain_right = mb.domain_right;
    TRAVO_global_dist = mb.global_dist;
    TRAVO_global_radius = mb.global_radius;
    TRAVO_global_value = mb.global_value;
    TRAVO_minima = mb.minima;
    TRAVO_glob = mb.glob;
    isArgSet = mb.isArgSet;
    delta = mb.delta;
}

namespace {

// What the library itself allocated, with the sizes it allocated it for:
// callers may change TRAVO_dim and TRAVO_num_minima at any time, and the
// library must not then read past its own arrays.
struct Owned {
    const double *left = nullptr;
    const double *right = nullptr;
    uint32_t box_length = 0;
    double *const *points = nullptr;
    uint32_t dim = 0;
    uint32_t num_minima = 0;
};
Owned owned;

void record(const core::Member &before, const core::Member &after) {
    if (after.domain_left != before.domain_left || after.domain_right != before.domain_right) {
        owned.left = after.domain_left;
        owned.right = after.domain_right;
        owned.box_length = after.dim;
    }
    if (after.minima.points != before.minima.points) {
        owned.points = after.minima.points;
        owned.dim = after.dim;
        owned.num_minima = after.num_minima;
    }
}

// A box the library allocated for fewer coordinates than the dimension.
bool box_too_short(const core::Member &mb) {
    return (mb.domain_left != nullptr && mb.domain_left == owned.left && mb.dim > owned.box_length) ||
           (mb.domain_right != nullptr && mb.domain_right == owned.right && mb.dim > owned.box_length);
}

// Tables the library allocated for another dimension or number of minima.
bool tables_resized(const core::Member &mb) {
    return mb.minima.points != nullptr && mb.minima.points == owned.points &&
           (mb.dim != owned.dim || mb.num_minima != owned.num_minima);
}

// Runs a core operation that may change the member, and writes it back.
template <class Op>
auto update(Op op) {
    core::Member mb = load();
    const core::Member before = mb;
    auto result = op(mb);
    store(mb);
    record(before, mb);
    return result;
}

// The member as evaluation and the checks may read it: a box too short for
// the dimension counts as missing, and tables of another size as nothing
// generated.
core::Member load_checked() {
    core::Member mb = load();
    if (box_too_short(mb)) {
        mb.domain_left = nullptr;
        mb.domain_right = nullptr;
    }
    if (tables_resized(mb)) mb.isArgSet = 0;
    return mb;
}

}  // namespace
}  // namespace travo::module

using travo::core::Kind;
namespace core = travo::core;
namespace module = travo::module;

extern "C" {

TravoStatus TRAVO_set_default(void) {
    return module::update([](core::Member &mb) { return core::set_default(mb); });
}

TravoStatus TRAVO_domain_alloc(void) {
    return module::update([](core::Member &mb) { return core::domain_alloc(mb); });
}

void TRAVO_domain_free(void) {
    module::update([](core::Member &mb) {
        core::domain_free(mb);
        return 0;
    });
}

TravoStatus TRAVO_parameters_check(void) { return core::parameters_check(module::load_checked()); }

TravoStatus TRAVO_alloc(void) {
    return module::update([](core::Member &mb) { return core::alloc_tables(mb); });
}

void TRAVO_free(void) {
    module::update([](core::Member &mb) {
        // The rows are walked by the count the tables were made for.
        const uint32_t m = mb.num_minima;
        if (mb.minima.points != nullptr && mb.minima.points == module::owned.points) {
            mb.num_minima = module::owned.num_minima;
        }
        core::free_tables(mb);
        mb.num_minima = m;
        return 0;
    });
}

TravoStatus TRAVO_arg_generate(int32_t test_number) {
    return module::update([test_number](core::Member &mb) {
        // A box too short for the dimension is refused as a missing one;
        // generation never changes the box itself.
        double *const left = mb.domain_left, *const right = mb.domain_right;
        if (module::box_too_short(mb)) mb.domain_left = mb.domain_right = nullptr;
        const TravoStatus status = core::arg_generate(mb, module::rng, test_number);
        mb.domain_left = left;
        mb.domain_right = right;
        return status;
    });
}

TravoStatus TRAVO_coincidence_check(void) {
    const core::Member mb = module::load();
    if (module::tables_resized(mb)) return TRAVO_NO_MEMORY;
    return core::coincidence_check(mb);
}

TravoStatus TRAVO_set_basins(void) {
    if (module::tables_resized(module::load())) return TRAVO_NO_MEMORY;
    return module::update([](core::Member &mb) { return core::set_basins(mb, module::rng); });
}

void ranf_start(int32_t seed) { module::rng.start(seed); }

void ranf_array(double *aa, int32_t n) { module::rng.array(aa, n); }

TravoStatus TRAVO_initialize_rnd(uint32_t dim, uint32_t num_minima, int32_t test_number) {
    module::rng.start(core::member_seed(dim, num_minima, test_number));
    return TRAVO_STATUS_OK;
}

double TRAVO_norm(const double *a, const double *b) { return core::norm(TRAVO_dim, a, b); }

double TRAVO_ND_func(const double *x) { return core::value_at(module::load_checked(), Kind::ND, x); }
double TRAVO_D_func(const double *x) { return core::value_at(module::load_checked(), Kind::D, x); }
double TRAVO_D2_func(const double *x) { return core::value_at(module::load_checked(), Kind::D2, x); }

double TRAVO_D_deriv(uint32_t i, const double *x) { return core::deriv_at(module::load_checked(), Kind::D, i, x); }

TravoStatus TRAVO_D_gradient(const double *x, double *g) {
    return core::gradient(module::load_checked(), Kind::D, x, g);
}

double TRAVO_D2_deriv1(uint32_t i, const double *x) { return core::deriv_at(module::load_checked(), Kind::D2, i, x); }

TravoStatus TRAVO_D2_gradient(const double *x, double *g) {
    return core::gradient(module::load_checked(), Kind::D2, x, g);
}

double TRAVO_D2_deriv2(uint32_t i, uint32_t j, const double *x) {
    return core::deriv2_at(module::load_checked(), i, j, x);
}

TravoStatus TRAVO_D2_hessian(const double *x, double **h) { return core::hessian(module::load_checked(), x, h); }

double TRAVO_get_delta(void) { return module::delta; }
int TRAVO_get_is_arg_set(void) { return module::isArgSet; }
int32_t TRAVO_get_rnd_counter(void) { return module::rng.rnd_counter; }
const double *TRAVO_get_rnd_num(void) { return module::rng.rnd_num; }
const double *TRAVO_get_ran_u(void) { return module::rng.ran_u; }

const char *TRAVO_library_version(void) { return TRAVO_VERSION_STRING; }

}  // extern "C"
