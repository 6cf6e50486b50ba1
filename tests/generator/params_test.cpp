// Parameters, their checks and the storage of the module-wide member.
#include "evaluation/evaluate.hpp"
#include "support/module_fixture.hpp"

using namespace travo::testing;
namespace host = travo::host;

class Parameters : public ModuleTest {};

// Several faults at once: the first failing check decides. A bad dimension, at either edge, allocates nothing.
TEST_F(Parameters, FirstFailingCheckWins) {
    TRAVO_dim = 5000;
    TRAVO_num_minima = 1;
    for (int32_t t : {0, 101, -1}) EXPECT_EQ(TRAVO_arg_generate(t), TRAVO_BAD_TEST_NUMBER) << t;
    for (uint32_t n : {0u, 1009u}) {
        TRAVO_dim = n;
        const auto before = host::allocation_count();
        EXPECT_EQ(TRAVO_parameters_check() + TRAVO_domain_alloc() + TRAVO_alloc(), 3 * TRAVO_BAD_DIMENSION) << n;
        EXPECT_EQ(host::allocation_count(), before) << n;
    }
    TRAVO_dim = 1008;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_MINIMA_COUNT);  // and no box
    TRAVO_dim = 2;
    TRAVO_num_minima = 1000000;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DOMAIN);
    ASSERT_EQ(TRAVO_domain_alloc(), TRAVO_STATUS_OK);
    TRAVO_global_value = TRAVO_global_dist = TRAVO_global_radius = 0.0;
    EXPECT_EQ(TRAVO_arg_generate(1), TRAVO_BAD_GLOBAL_VALUE);
    TRAVO_global_value = -1.0;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_GLOBAL_DISTANCE);
    TRAVO_global_dist = 0.5;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_GLOBAL_RADIUS);
}

// Each bound on both sides of its tolerance; a missing bound array is a bad box. Non-finite inputs are refused
// after every other rule; only a NaN global value passes (to status 16).
TEST_F(Parameters, BoundsAndTheirTolerances) {
    configure(2, 10, -1, 0.6, 0.2);
    const struct {
        double *field, value;
        TravoStatus expected;
    } cases[] = {
        {&TRAVO_domain_right[1], -1 + 1e-10, TRAVO_BAD_DOMAIN},
        {&TRAVO_domain_right[1], kInf, TRAVO_BAD_DOMAIN},
        {&TRAVO_global_value, -1e-10, TRAVO_BAD_GLOBAL_VALUE},
        {&TRAVO_global_value, kNaN, TRAVO_STATUS_OK},
        {&TRAVO_global_value, -kInf, TRAVO_BAD_GLOBAL_VALUE},
        {&TRAVO_global_dist, 1e-10, TRAVO_BAD_GLOBAL_DISTANCE},
        {&TRAVO_global_dist, 0.5, TRAVO_STATUS_OK},
        {&TRAVO_global_radius, 0.3 + 0.5e-10, TRAVO_STATUS_OK},
        {&TRAVO_global_radius, 0.31, TRAVO_BAD_GLOBAL_RADIUS},
        {&TRAVO_global_radius, 0.0, TRAVO_BAD_GLOBAL_RADIUS},
    };
    for (const auto &c : cases) {
        const double keep = *c.field;
        *c.field = c.value;
        EXPECT_EQ(TRAVO_parameters_check(), c.expected) << "case " << &c - cases;
        *c.field = keep;
    }
    double *right = TRAVO_domain_right;
    TRAVO_domain_right = nullptr;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DOMAIN);
    TRAVO_domain_right = right;
    TRAVO_domain_left[0] = kNaN;
    TRAVO_global_value = 0.0;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_GLOBAL_VALUE);
    TRAVO_global_value = TRAVO_global_dist = kNaN;
    EXPECT_EQ(TRAVO_arg_generate(1), TRAVO_NO_GLOBAL_MINIMUM);
}

// At the limits (box diagonal 1e48, lowest_global_value(d, R)) every result is finite and below the error value;
// one step beyond, generation is refused.
TEST_F(Parameters, OverflowLimitsKeepEveryResultFinite) {
    namespace core = travo::core;
    const struct {
        std::vector<double> upper;
        double d, r;
    } members[] = {
        {{1e48, 1.0}, 0.3, 0.15}, {{7e47, 7e47}, 2e47, 0.9e47}, {{1.0, 1.0}, 0.3, 1.5e-10}, {{1.0, 1.0}, 0.3, 0.15}};
    for (const auto &c : members) {
        const double g = core::lowest_global_value(c.d, c.r);
        TestMember own({0.0, 0.0}, c.upper, 40, g, c.d, c.r);
        ASSERT_LE(core::box_diagonal(2, own.mb.domain_left, own.mb.domain_right), core::kMaxBoxDiagonal);
        ASSERT_EQ(own.generate(3), TRAVO_STATUS_OK) << g;
        for (const auto &x : probes(own.mb, 1000, 5)) {
            const core::Site site = core::locate(own.mb, x.data());
            if (!std::isfinite(x[0] + x[1]) || site.where == core::Site::Refused) continue;
            double out[11] = {core::value(core::Kind::ND, site), core::value(core::Kind::D, site),
                              core::value(core::Kind::D2, site)};
            core::first_derivatives(core::Kind::D, site, 2, out + 3);
            core::first_derivatives(core::Kind::D2, site, 2, out + 5);
            core::second_derivatives(site, 1, 2, out + 7, 1);
            core::second_derivatives(site, 2, 2, out + 9, 1);
            for (double v : out) ASSERT_LT(std::fabs(v), TRAVO_ERROR_VALUE) << x[0] << "," << x[1];  // false for NaN
        }
        own.mb.global_value = std::nextafter(g, -kInf);
        EXPECT_EQ(core::parameters_check(own.mb), TRAVO_BAD_GLOBAL_VALUE);
        own.mb.global_value = g;
        own.mb.domain_right[0] = std::nextafter(c.upper[0], kInf);
        EXPECT_EQ(core::parameters_check(own.mb), c.upper[0] == 1e48 ? TRAVO_BAD_DOMAIN : TRAVO_STATUS_OK);
    }
}

// Each allocation of each allocating operation failing in turn: status 8, and the release operations give back
// all it took. Tables too large for 32-bit sizes are refused before the host is asked.
TEST_F(Parameters, EachFailedAllocationGivesNoMemoryAndLeaksNothing) {
    const struct {
        void (*prepare)();
        TravoStatus (*run)();
        void (*release)();
        int sites;
    } ops[] = {
        {[] { reset(); }, TRAVO_set_default, TRAVO_domain_free, 2},
        {[] { reset(), TRAVO_dim = 3; }, TRAVO_domain_alloc, TRAVO_domain_free, 2},
        {[] { configure(2, 4, -1, 0.5, 0.2); }, TRAVO_alloc, TRAVO_free, 1 + 4 + 4 + 1},
        {[] { configure(2, 4, -1, 0.5, 0.2); }, [] { return TRAVO_arg_generate(1); }, TRAVO_free, 1 + 4 + 4 + 1},
    };
    for (const auto &op : ops) {
        for (int k = 1; k < 100; k++) {
            op.prepare();
            const auto live = host::live_blocks();
            host::fail_allocation(k);
            const TravoStatus st = op.run();
            host::fail_allocation(0);
            EXPECT_EQ(st, k > op.sites ? TRAVO_STATUS_OK : TRAVO_NO_MEMORY) << &op - ops << ", allocation " << k;
            EXPECT_EQ(TRAVO_get_is_arg_set(), st == TRAVO_STATUS_OK && &op == &ops[3]);
            op.release();
            EXPECT_TRUE(host::live_blocks() == live && !TRAVO_get_is_arg_set()) << &op - ops << ", allocation " << k;
            if (st == TRAVO_STATUS_OK) break;
        }
    }
    configure(2, 536870912u, -1, 0.5, 0.2);  // m * 8 = 2^32
    const auto before = host::allocation_count();
    EXPECT_EQ(TRAVO_alloc(), TRAVO_NO_MEMORY);
    EXPECT_EQ(host::allocation_count(), before);
}

// A generation that fails before touching the tables leaves an earlier member usable; one that fails after
// replacing them (no storage, no global minimizer) leaves nothing to evaluate.
TEST_F(Parameters, FailedGenerationAfterASuccess) {
    const double x[2] = {0.1, -0.2};
    double g[2];
    configure(2, 4, -1, 0.5, 0.2);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_arg_generate(0), TRAVO_BAD_TEST_NUMBER);
    EXPECT_EQ(TRAVO_get_is_arg_set(), 1);
    EXPECT_LT(TRAVO_D2_func(x), TRAVO_ERROR_VALUE);
    for (int k = 1; k <= 11; k++) {
        configure(2, 4, -1, 0.5, 0.2);
        ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
        const MinimaTable earlier = TRAVO_minima;
        const GlobalMinimaList earlier_glob = TRAVO_glob;
        TRAVO_global_value = k <= 10 ? -1.0 : kNaN;
        host::fail_allocation(k <= 10 ? k : 0);
        EXPECT_EQ(TRAVO_arg_generate(1), k <= 10 ? TRAVO_NO_MEMORY : TRAVO_NO_GLOBAL_MINIMUM) << k;
        host::fail_allocation(0);
        EXPECT_EQ(TRAVO_get_is_arg_set(), 0) << k;
        EXPECT_EQ(TRAVO_D2_func(x), TRAVO_ERROR_VALUE) << k;
        EXPECT_EQ(TRAVO_D_gradient(x, g), TRAVO_BAD_DERIVATIVE) << k;
        TRAVO_free();  // generation does not release the earlier tables; the caller does
        TRAVO_minima = earlier;
        TRAVO_glob = earlier_glob;
        TRAVO_free();
    }
}
