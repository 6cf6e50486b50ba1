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

// Runs a core operation that may change the member, and writes it back.
template <class Op>
auto update(Op op) {
    core::Member mb = load();
    auto result = op(mb);
    store(mb);
    return result;
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

TravoStatus TRAVO_parameters_check(void) { return core::parameters_check(module::load()); }

TravoStatus TRAVO_alloc(void) {
    return module::update([](core::Member &mb) { return core::alloc_tables(mb); });
}

void TRAVO_free(void) {
    module::update([](core::Member &mb) {
        core::free_tables(mb);
        return 0;
    });
}

TravoStatus TRAVO_arg_generate(int32_t test_number) {
    return module::update([test_number](core::Member &mb) {
        return core::arg_generate(mb, module::rng, test_number);
    });
}

TravoStatus TRAVO_coincidence_check(void) { return core::coincidence_check(module::load()); }

TravoStatus TRAVO_set_basins(void) {
    return module::update([](core::Member &mb) { return core::set_basins(mb, module::rng); });
}

void ranf_start(int32_t seed) { module::rng.start(seed); }

void ranf_array(double *aa, int32_t n) { module::rng.array(aa, n); }

TravoStatus TRAVO_initialize_rnd(uint32_t dim, uint32_t num_minima, int32_t test_number) {
    module::rng.start(core::member_seed(dim, num_minima, test_number));
    return TRAVO_STATUS_OK;
}

double TRAVO_norm(const double *a, const double *b) { return core::norm(TRAVO_dim, a, b); }

double TRAVO_ND_func(const double *x) { return core::value_at(module::load(), Kind::ND, x); }
double TRAVO_D_func(const double *x) { return core::value_at(module::load(), Kind::D, x); }
double TRAVO_D2_func(const double *x) { return core::value_at(module::load(), Kind::D2, x); }

double TRAVO_D_deriv(uint32_t i, const double *x) {
    return core::deriv_at(module::load(), Kind::D, i, x);
}

TravoStatus TRAVO_D_gradient(const double *x, double *g) {
    return core::gradient(module::load(), Kind::D, x, g);
}

double TRAVO_D2_deriv1(uint32_t i, const double *x) {
    return core::deriv_at(module::load(), Kind::D2, i, x);
}

TravoStatus TRAVO_D2_gradient(const double *x, double *g) {
    return core::gradient(module::load(), Kind::D2, x, g);
}

double TRAVO_D2_deriv2(uint32_t i, uint32_t j, const double *x) {
    return core::deriv2_at(module::load(), i, j, x);
}

TravoStatus TRAVO_D2_hessian(const double *x, double **h) {
    return core::hessian(module::load(), x, h);
}

double TRAVO_get_delta(void) { return module::delta; }
int TRAVO_get_is_arg_set(void) { return module::isArgSet; }
int32_t TRAVO_get_rnd_counter(void) { return module::rng.rnd_counter; }
const double *TRAVO_get_rnd_num(void) { return module::rng.rnd_num; }
const double *TRAVO_get_ran_u(void) { return module::rng.ran_u; }

const char *TRAVO_library_version(void) { return TRAVO_VERSION_STRING; }

}  // extern "C"
