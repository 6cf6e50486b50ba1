// Generation: check values of three members, the regions, the global list and progress reports.
#include <algorithm>

#include "support/module_fixture.hpp"

using travo::core::norm;
using travo::testing::Near10;

class Generation : public travo::testing::ModuleTest {
protected:
    static void expect_all(const std::vector<double> &expected, const double *actual, const char *what) {
        for (size_t i = 0; i < expected.size(); i++) EXPECT_TRUE(Near10(expected[i], actual[i])) << what << i;
    }
    static std::vector<uint32_t> indices() { return {TRAVO_glob.indices, TRAVO_glob.indices + TRAVO_num_minima}; }
};

TEST_F(Generation, DefaultMemberCheckValues) {
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    expect_all({-0.7626144224, 0.597254085}, TRAVO_minima.points[0], "row 0, ");
    expect_all({-0.1355228527, 0.8235295977}, TRAVO_minima.points[1], "row 1, ");
    expect_all({-0.2444379433, -0.5879089938}, TRAVO_minima.points[9], "row 9, ");
    EXPECT_TRUE(Near10(9.129983492, TRAVO_get_delta()));
    expect_all({0.33, 0.3333333333, 0.6768267768, 0.07575647287, 0.1350953613, 0.363590233, 0.07575647287, 0.1706107216,
                0.3479007496, 0.1350953613},
               TRAVO_minima.radii, "radius ");
    expect_all({0, 0, 1.060439262, 0.085111501, 0.2602774154, 0.5613819964, 0.08227170306, 0.3232602332, 0.6509945484,
                0.2617708606},
               TRAVO_minima.peaks, "peak ");
    expect_all({0, -1, 0.6552107212, 1.876544797, 0.9331217827, -0.04401046144, 1.528956071, 1.540585799, 1.58603273,
                1.080109076},
               TRAVO_minima.values, "value ");
    EXPECT_EQ(TRAVO_glob.count, 1u);
    EXPECT_EQ(indices(), (std::vector<uint32_t>{1, 9, 8, 7, 6, 5, 4, 3, 2, 0}));
    EXPECT_EQ(TRAVO_get_rnd_counter(), 10);
}

// Three dimensions: the global minimizer's mirrored coordinate keeps it in the box.
TEST_F(Generation, ThreeDimensionalCheckValues) {
    configure(3, 4, -1, 0.5, 0.2);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    expect_all({-0.8754008708, -0.4373484429, 0.246244968}, TRAVO_minima.points[0], "row 0, ");
    expect_all({-0.4773110724, -0.2688563825, -0.005021698968}, TRAVO_minima.points[1], "row 1, ");
    expect_all({-0.7942876359, 0.7121882298, -0.1505992413}, TRAVO_minima.points[3], "row 3, ");
    EXPECT_TRUE(Near10(8.442680049, TRAVO_get_delta()));
    expect_all({0.297, 0.2, 0.05567532069, 0.05567532069}, TRAVO_minima.radii, "radius ");
    expect_all({0, 0, 0.07501357342, 0.07955236032}, TRAVO_minima.peaks, "peak ");
    expect_all({0, -1, 1.215896513, 1.273331286}, TRAVO_minima.values, "value ");
    EXPECT_EQ(indices(), (std::vector<uint32_t>{1, 3, 2, 0}));
}

// m = 2: nothing is drawn after delta; the vertex is widened only when R < d/2 - 1e-10.
TEST_F(Generation, TwoMinima) {
    configure(2, 2, -1, 0.9, 0.4);
    ASSERT_EQ(TRAVO_arg_generate(2), TRAVO_STATUS_OK);
    expect_all({0.2030228411, 0.7658001764}, TRAVO_minima.points[0], "row 0, ");
    expect_all({-0.006611221266, -0.1094446807}, TRAVO_minima.points[1], "row 1, ");
    EXPECT_EQ(TRAVO_get_delta(), 10.0 * TRAVO_get_rnd_num()[1]);
    EXPECT_TRUE(Near10(0.495, TRAVO_minima.radii[0]));  // 0.99 (d - R)
    EXPECT_EQ(indices(), (std::vector<uint32_t>{1, 0}));
    EXPECT_EQ(TRAVO_get_rnd_counter(), 2);
    TRAVO_free();
    configure(2, 2, -1, 0.9, 0.45);  // R = d/2: no widening
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_minima.radii[0], 0.99 * (0.5 * norm(2, TRAVO_minima.points[0], TRAVO_minima.points[1])));
}

// Hand-placed rows: the list of global minimizers, its tolerance and the widening margin.
TEST(Basins, HandPlacedRows) {
    travo::testing::TestMember own({{0, 0}, {0.5, 0}, {-0.5, 0}, {0, 0.5}, {0, -0.9}}, 0.1);
    travo::core::Member &mb = own.mb;
    auto size = [&](double global_value) {
        mb.minima.values[1] = global_value;
        own.rng.start(1);
        own.rng.refill();
        own.rng.rnd_counter = 2;
        return travo::core::set_basins(mb, own.rng);
    };
    ASSERT_EQ(size(-1.0), TRAVO_STATUS_OK);
    EXPECT_EQ(std::vector<uint32_t>(mb.glob.indices, mb.glob.indices + 5), (std::vector<uint32_t>{1, 4, 3, 2, 0}));
    EXPECT_EQ(own.rng.rnd_counter, 5);
    // Row 0 stays at half its nearest distance; row 4 widens to the edge of row 0's region.
    EXPECT_EQ(mb.minima.radii[0], 0.99 * 0.25);
    EXPECT_EQ(mb.minima.radii[4], 0.99 * (0.9 - 0.25));
    // The list's tolerance includes both ends; one step beyond, nothing is global.
    EXPECT_EQ(size(-1.0 + 1e-10), TRAVO_STATUS_OK);
    EXPECT_EQ(size(-1.0 - 1e-10), TRAVO_STATUS_OK);
    EXPECT_EQ(mb.glob.count, 1u);
    EXPECT_EQ(size(-1.0 + 2e-10), TRAVO_NO_GLOBAL_MINIMUM);
    EXPECT_EQ(std::vector<uint32_t>(mb.glob.indices, mb.glob.indices + 5), (std::vector<uint32_t>{4, 3, 2, 1, 0}));
}

// A box too small to keep the minimizers 1e-10 apart: generation gives up instead of drawing forever.
TEST_F(Generation, HopelessCoincidencesEndGeneration) {
    configure(2, 60, -1.0, 3e-10, 1.2e-10);
    TRAVO_domain_left[0] = TRAVO_domain_left[1] = 0.0;
    TRAVO_domain_right[0] = TRAVO_domain_right[1] = 1e-9;
    const TravoStatus st = TRAVO_arg_generate(1);
    EXPECT_TRUE(st == TRAVO_PARABOLA_COINCIDENCE || st == TRAVO_MINIMA_COINCIDENCE) << st;
    EXPECT_EQ(TRAVO_get_is_arg_set(), 0);
}

// Progress grows to its total and changes no bit of the member, on every path; abandoning at any report
// releases the tables.
TEST(GenerationProgress, ReportsAndAbandons) {
    namespace core = travo::core;
    struct Log {
        std::vector<std::uint64_t> done;
        std::uint64_t total = 0;
        std::size_t stop_at = 0;  // 1-based report that returns false; 0 never
    };
    const auto report = [](void *context, std::uint64_t done, std::uint64_t total) {
        auto &log = *static_cast<Log *>(context);
        log.done.push_back(done);
        log.total = total;
        return log.done.size() != log.stop_at;
    };
    for (const core::Path path : {core::Path::Reference, core::Path::Tree, core::Path::Lanes}) {
        travo::testing::TestMember plain(3, 600), watched(3, 600);
        ASSERT_EQ(plain.generate(5, path), TRAVO_STATUS_OK);
        Log log;
        const core::Progress progress{report, &log};
        ASSERT_EQ(core::arg_generate(watched.mb, watched.rng, 5, path, &progress), TRAVO_STATUS_OK);
        EXPECT_TRUE(travo::testing::SameTables(plain.mb, watched.mb));
        ASSERT_GE(log.done.size(), 5u);  // at least one per stage
        EXPECT_TRUE(std::is_sorted(log.done.begin(), log.done.end()) && log.done.back() == log.total);
        for (std::size_t stop = 1; stop <= log.done.size(); stop++) {
            Log quitter{{}, 0, stop};
            const core::Progress asked{report, &quitter};
            core::free_tables(plain.mb);
            const auto before = travo::host::live_blocks();
            EXPECT_EQ(core::arg_generate(plain.mb, plain.rng, 5, path, &asked), core::kAbandoned) << stop;
            EXPECT_TRUE(plain.mb.minima.points == nullptr && plain.mb.isArgSet == 0);
            EXPECT_EQ(travo::host::live_blocks(), before);
        }
    }
    // The tree's build, a step that counts no rows, asks as well: the count at the end of the coincidence test is
    // reported again.
    const std::uint32_t m = core::kStopEvery + 10;
    travo::testing::TestMember big(2, m);
    Log log;
    const core::Progress progress{report, &log};
    ASSERT_EQ(core::arg_generate(big.mb, big.rng, 5, core::Path::Tree, &progress), TRAVO_STATUS_OK);
    EXPECT_GE(std::count(log.done.begin(), log.done.end(), 2 * std::uint64_t(m)), 2);
}
