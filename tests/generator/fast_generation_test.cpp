// The fast region sizing and coincidence test against the scans, bit for bit; the geometry of generated members.
#include <string>

#include "support/module_fixture.hpp"

using namespace travo::testing;
using travo::core::Path;
namespace core = travo::core;

namespace {

struct Form {
    Path path;
    core::Execution execution;
    std::string name;
};

// Every fast form of region sizing: the tree and the scans in lanes, each on every instruction set the processor
// runs, on one thread; and each on two and on three threads (more than the rows of a small member's chunks, and
// than this machine's cores).
std::vector<Form> fast_forms() {
    std::vector<Form> forms;
    for (const auto &[path, name] : {std::pair{Path::Tree, "tree"}, std::pair{Path::Lanes, "lanes"}}) {
        for (core::Simd s : {core::Simd::SSE2, core::Simd::AVX2, core::Simd::AVX512}) {
            if (core::processor_has(s)) forms.push_back({path, {1, s}, std::string(name) + ", " + core::simd_name(s)});
        }
        for (unsigned threads : {2u, 3u}) {
            forms.push_back({path, {threads, {}}, std::string(name) + ", " + std::to_string(threads) + " threads"});
        }
    }
    return forms;
}

bool same_source(const core::RandomSource &a, const core::RandomSource &b) {
    return a.rnd_counter == b.rnd_counter && std::memcmp(a.rnd_num, b.rnd_num, sizeof a.rnd_num) == 0 &&
           std::memcmp(a.ran_u, b.ran_u, sizeof a.ran_u) == 0;
}

// Region sizing along the scans and every fast form on copies of a hand-built member, from the same random state.
void expect_same_basins(const Rows &rows, double global_radius) {
    TestMember ref(rows, global_radius);
    ref.rng.start(12345);
    ref.rng.refill();
    ref.rng.rnd_counter = static_cast<int32_t>(rows[0].size());
    const core::RandomSource start = ref.rng;
    const TravoStatus status = core::set_basins_reference(ref.mb, ref.rng);
    for (const Form &form : fast_forms()) {
        SCOPED_TRACE(form.name);
        TestMember fast(rows, global_radius);
        fast.rng = start;
        EXPECT_EQ(core::set_basins(fast.mb, fast.rng, form.path, nullptr, form.execution), status);
        EXPECT_TRUE(SameTables(ref.mb, fast.mb));
        EXPECT_TRUE(same_source(ref.rng, fast.rng));
    }
}

}  // namespace

// Cubes and stretched boxes away from the origin, small and large radii, up to 50 dimensions, peaks past the end
// of the random buffer, widening in several blocks of rows. The geometry: the global minimizer at d from the
// vertex, the others in the box and at least 2R from it, regions that never overlap.
TEST(FastGeneration, GeneratedMembersMatchTheScansAndKeepTheirGeometry) {
    const struct {
        uint32_t n, m;
        int32_t test;
        double lo, hi, stretch, radius_share;  // R as a share of d/2
    } cases[] = {
        {2, 10, 1, -1, 1, 0, 1.0},        {2, 1500, 3, 0, 1, 0, 0.2},       {3, 900, 9, 10, 11, 0.75, 0.3},
        {5, 500, 11, 100, 101.5, 0, 1.0}, {16, 200, 13, 10, 11, 0.75, 0.5}, {50, 100, 21, 10, 11, 0.75, 0.9},
        {2, 2, 1, -1, 1, 0, 1.0},         {4, 3, 8, -1, 1, 0, 1.0},         {20, 3000, 2, -1, 1, 0, 1.0},
        {9, 1001, 5, -1, 1, 0.25, 0.6},   {7, 37, 4, 0, 1, 0, 1.0},         {17, 203, 6, -2, 2, 0, 0.8},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "n=" << c.n << " m=" << c.m << " test=" << c.test);
        std::vector<double> lo, hi;
        for (uint32_t k = 0; k < c.n; k++) {
            lo.push_back(c.lo + 0.5 * c.stretch * k);
            hi.push_back(c.hi + 1.5 * c.stretch * k);
        }
        const double d = (c.hi - c.lo) / 3.0, r = 0.5 * d * c.radius_share;
        TestMember ref(lo, hi, c.m, -1.0, d, r);
        ASSERT_EQ(ref.generate(c.test, Path::Reference), TRAVO_STATUS_OK);
        for (const Form &form : fast_forms()) {
            SCOPED_TRACE(form.name);
            TestMember fast(lo, hi, c.m, -1.0, d, r);
            ASSERT_EQ(fast.generate(c.test, form.path, form.execution), TRAVO_STATUS_OK);
            EXPECT_TRUE(SameTables(ref.mb, fast.mb));
            EXPECT_TRUE(same_source(ref.rng, fast.rng));
        }

        double *const *p = ref.mb.minima.points;
        const double *radii = ref.mb.minima.radii;
        EXPECT_TRUE(Near10(d, core::norm(c.n, p[0], p[1])));
        EXPECT_EQ(radii[1], r);
        for (uint32_t i = 0; i < c.m; i++) {
            for (uint32_t k = 0; k < c.n && i != 1; k++) ASSERT_TRUE(p[i][k] >= lo[k] && p[i][k] < hi[k]);
            ASSERT_TRUE(i < 2 || core::norm(c.n, p[i], p[1]) >= 2 * r - 1e-10) << i;
            for (uint32_t j = i + 1; j < c.m; j += 1 + c.m / 50) {
                ASSERT_LE(radii[i] + radii[j], core::norm(c.n, p[i], p[j]) + 1e-12) << i << "," << j;
            }
        }
        EXPECT_EQ(core::coincidence_check(ref.mb), TRAVO_STATUS_OK);
        if (c.n + c.m > 1009 + 2) {  // the peaks ran past the end of the buffer
            EXPECT_EQ(ref.rng.rnd_counter, int32_t((c.n + c.m - 2) % 1009));
        }
    }
}

// Lattices (ties in distance and in widened radii), clusters, duplicates and scales in one table, a chain
// widened row by row in one pass, and NaN, infinite or huge coordinates or radius (where the scans take over).
TEST(FastGeneration, HandBuiltMembersMatchTheScans) {
    for (uint32_t n : {2u, 3u}) {
        Rows rows;
        const int side = n == 2 ? 30 : 9;
        for (int a = 0; a < side * side * (n == 2 ? 1 : side); a++) {
            rows.push_back({double(a % side), double(a / side % side)});
            if (n == 3) rows.back().push_back(double(a / side / side));
        }
        for (double big_r : {0.5, 0.25, 1.0}) expect_same_basins(rows, big_r);
    }
    auto rows = random_rows(1500, 3, 77);
    for (size_t i = 2; i < rows.size(); i += 7) (rows[i] = rows[i - 1])[0] += 1e-9 * double(i % 5);
    for (size_t i = 5; i < rows.size(); i += 31) rows[i] = rows[i - 3];
    for (size_t i = 3; i < rows.size(); i += 97) {
        for (double &v : rows[i]) v *= 1e6;
    }
    for (double big_r : {0.05, 1e-9}) expect_same_basins(rows, big_r);
    Rows chain = {{0.0, 0.0}, {100.0, 100.0}};
    for (int i = 0; i < 200; i++) chain.push_back({chain.back()[0] + 1.0 + 0.01 * (i % 7), 0.0});
    expect_same_basins(chain, 1.0);
    const auto base = random_rows(300, 2, 5);
    for (const auto &[row, v] : {std::pair<size_t, double>{17, kNaN}, {40, kInf}, {3, 1e200}}) {
        auto changed = base;
        changed[row][row % 2] = v;
        expect_same_basins(changed, 0.05);
    }
    for (double big_r : {kNaN, kInf, 1e300}) expect_same_basins(base, big_r);
}

// The coincidence test gives the scan's first failure on every path (14: a local minimizer within 1e-10 of the
// vertex, 15: two minimizers within 1e-10, strictly), also for tables too small to sweep.
TEST(FastCoincidence, MatchesTheScan) {
    const struct {
        const char *name;
        void (*apply)(Rows &);
        TravoStatus expected;
    } variants[] = {
        {"none", [](Rows &) {}, TRAVO_STATUS_OK},
        {"vertex within 1e-10", [](Rows &r) { (r[77] = r[0])[1] += 5e-11; }, TRAVO_PARABOLA_COINCIDENCE},
        {"global and local", [](Rows &r) { r[999] = r[1]; }, TRAVO_MINIMA_COINCIDENCE},
        {"both kinds", [](Rows &r) { r[400] = r[401], r[600] = r[0]; }, TRAVO_PARABOLA_COINCIDENCE},
        {"pair exactly 1e-10 apart", [](Rows &r) { r[150].assign(r[150].size(), 0.0), (r[151] = r[150])[0] = 1e-10; },
         TRAVO_STATUS_OK},
        {"pair just within", [](Rows &r) { r[152].assign(r[152].size(), 0.25), (r[153] = r[152])[1] += 9.9999e-11; },
         TRAVO_MINIMA_COINCIDENCE},
        {"vertex and global only", [](Rows &r) { r[1] = r[0]; }, TRAVO_STATUS_OK},
        {"pair apart across axes",
         [](Rows &r) {
             for (double &v : (r[903] = r[14])) v += 6e-11;
         },
         TRAVO_STATUS_OK},
        {"NaN row", [](Rows &r) { r[50][1] = kNaN; }, TRAVO_STATUS_OK},
        {"NaN row and pair", [](Rows &r) { r[50][0] = kNaN, r[70] = r[71]; }, TRAVO_MINIMA_COINCIDENCE},
        {"infinite rows", [](Rows &r) { r[60][1] = kInf, r[61][1] = kInf; }, TRAVO_STATUS_OK},
    };
    for (const auto &v : variants) {
        for (uint32_t n : {3u, 12u}) {
            SCOPED_TRACE(::testing::Message() << v.name << " n=" << n);
            auto rows = random_rows(1000, n, 99);
            v.apply(rows);
            TestMember hm(rows, 0.05);
            EXPECT_EQ(core::coincidence_check_reference(hm.mb), v.expected);
            EXPECT_EQ(core::coincidence_check(hm.mb, Path::Tree), v.expected);
            EXPECT_EQ(core::coincidence_check(hm.mb), v.expected);
        }
    }
    for (uint32_t m : {2u, 3u}) {
        auto rows = random_rows(m, 2, 1);
        rows[m - 1] = rows[1];
        TestMember hm(rows, 0.05);
        EXPECT_EQ(core::coincidence_check(hm.mb, Path::Tree), core::coincidence_check_reference(hm.mb));
    }
}
