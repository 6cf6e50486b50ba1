// The C++ interface on its own: refused parameters, argument checks, value
// semantics and storage; the bad-input table holds one example of each exception.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "host/host_layer.hpp"
#include "travo/travo.hpp"

using travo::Kind;
using travo::Parameters;
using travo::Status;

namespace {

// Generates and returns the error, failing the test if none is thrown.
travo::Error refusal_of(const Parameters &p) {
    try {
        (void)travo::generate(p);
    } catch (const travo::Error &e) {
        return e;
    }
    ADD_FAILURE() << "parameters were accepted";
    return travo::Error(Status::ok, "");
}

}  // namespace

// The error carries the status, its name and the rule with the value that broke it (more rules: the tool's
// bad-input rows).
TEST(CppParameters, EachRefusalNamesItsStatusAndRule) {
    struct Refusal {
        void (*change)(Parameters &);
        Status status;
        const char *rule_part;
    };
    const Refusal cases[] = {
        {[](Parameters &p) { p.dim = 1; }, Status::bad_dimension, "from 2 to 1008 (it is 1)"},
        {[](Parameters &p) { p.num_minima = 1; }, Status::bad_minima_count, "at least 2 (it is 1)"},
        {[](Parameters &p) { p.test_number = 101; }, Status::bad_test_number, "from 1 to 100 (it is 101)"},
        {[](Parameters &p) { p.upper.pop_back(); }, Status::bad_domain,
         "needs 2 lower and 2 upper bounds, one per coordinate (it has 2 and 1)"},
        {[](Parameters &p) { p.dim = 3; }, Status::bad_domain, "needs 3 lower"},
        {[](Parameters &p) { p.global_value = std::numeric_limits<double>::quiet_NaN(); }, Status::no_global_minimum,
         "no minimizer takes the global value nan"},
        {[](Parameters &p) { p.lower[0] = std::nan(""); }, Status::bad_domain,
         "in coordinate 1 the bounds must be finite numbers (they are nan and 1)"},
        {[](Parameters &p) { p.radius = std::nan(""); }, Status::bad_global_radius, "(it is nan)"},
        {[](Parameters &p) { p.global_value = -std::numeric_limits<double>::infinity(); }, Status::bad_global_value,
         "must be a finite number below -1e-10 (it is -inf)"},
        {[](Parameters &p) { p.num_minima = 4294967295u; }, Status::no_memory,
         "the tables of 4294967295 minima in dimension 2 could not be allocated"},
    };
    for (const auto &c : cases) {
        Parameters p;
        c.change(p);
        const travo::Error e = refusal_of(p);
        EXPECT_EQ(e.status(), c.status) << c.rule_part;
        EXPECT_NE(e.rule().find(c.rule_part), std::string::npos) << e.rule();
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("status " + std::to_string(static_cast<int>(c.status)) + " (", 0), 0u) << what;
        EXPECT_NE(what.find(std::string(travo::status_name(c.status))), std::string::npos) << what;
    }
    EXPECT_THROW((void)Parameters::in_cube(1009), travo::Error);
    EXPECT_THROW((void)Parameters::in_box({0.0, 0.0, 0.0}, {1.0, 1.0}), travo::Error);
    EXPECT_NO_THROW((void)travo::generate(Parameters::in_cube(1008, 0.0, 3.0)));
    // A box of the wrong length is checked where a missing box is: after the minima count.
    Parameters p;
    p.dim = 5;
    p.num_minima = 1;
    EXPECT_EQ(refusal_of(p).status(), Status::bad_minima_count);
}

// What is left out: the dimension from the bounds, one bound for all, the radius half the distance, and just
// below half where half is refused (a box wider than about 1e6); names of kinds in any case.
TEST(CppParameters, ResolveDerivesWhatIsLeftOut) {
    Parameters::Given given;
    given.lower = std::vector<double>{0.0, 0.0, 0.0};
    given.upper = std::vector<double>{3.0};
    given.distance = 0.5;
    const Parameters box = Parameters::resolve(given);
    EXPECT_TRUE(box.dim == 3 && box.upper == std::vector<double>(3, 3.0) && box.radius == 0.25) << box.radius;
    given = {};
    given.lower = std::vector<double>{-1e7};
    given.upper = std::vector<double>{1e7};
    const Parameters wide = Parameters::resolve(given);
    EXPECT_EQ(wide.distance, 2e7 / 3.0);
    EXPECT_EQ(wide.radius, std::nextafter(wide.distance * 0.5, 0.0));
    EXPECT_NO_THROW((void)travo::generate(wide));
    EXPECT_EQ(Parameters::resolve({}).radius, Parameters{}.radius);
    given.upper = std::vector<double>{1.0, 1.0, 1.0};
    given.dim = 2;
    EXPECT_THROW((void)Parameters::resolve(given), travo::Error);  // three bounds for two coordinates
    EXPECT_TRUE(travo::parse_kind("d2") == Kind::D2 && travo::parse_kind("Nd") == Kind::ND && !travo::parse_kind("D3"));
    EXPECT_EQ(travo::kind_name(Kind::D2), "D2");
}

// A progress function hears fractions up to 1 and leaves the member's bits as they are; one that returns false or
// throws ends generation, releasing all, also in the steps that count no rows (allocating them, sorting them,
// building the trees and the region index), where it hears the same fraction again.
TEST(CppMember, GenerationProgressAndAbandonment) {
    Parameters p;
    p.num_minima = 150000;  // several rounds of kStopEvery rows in each step
    std::vector<double> fractions;
    // On one thread, so that the calls to the progress function are the same in every run.
    const travo::Member f = travo::generate(
        p,
        [&](double f) {
            fractions.push_back(f);
            return true;
        },
        1);
    ASSERT_FALSE(fractions.empty());
    EXPECT_EQ(fractions.back(), 1.0);
    const travo::Member plain = travo::generate(p);
    for (std::uint32_t row = 0; row < p.num_minima; row += 997) {
        ASSERT_EQ(std::vector<double>(f.minimizer(row).begin(), f.minimizer(row).end()),
                  std::vector<double>(plain.minimizer(row).begin(), plain.minimizer(row).end()));
        ASSERT_EQ(f.radii()[row], plain.radii()[row]);
    }
    const auto before = travo::host::live_blocks();
    EXPECT_THROW((void)travo::generate(p, [](double f) { return f < 0.5; }), travo::GenerationAbandoned);
    EXPECT_THROW((void)travo::generate(p, [](double) -> bool { throw std::logic_error("stop"); }), std::logic_error);
    // The first call of each run of repeated fractions, the last (the index) included.
    std::size_t steps = 0;
    for (std::size_t k = 1; k < fractions.size(); k++) {
        if (fractions[k] != fractions[k - 1] || (k >= 2 && fractions[k - 2] == fractions[k])) continue;
        steps++;
        std::size_t calls = 0;
        EXPECT_THROW((void)travo::generate(
                         p, [&](double) { return ++calls <= k; }, 1),
                     travo::GenerationAbandoned)
            << k;
        EXPECT_EQ(calls, k + 1);
    }
    EXPECT_GE(steps, 4u);
    EXPECT_EQ(travo::host::live_blocks(), before);
}

// The member is the same on any number of threads, sized by the tree (two dimensions) or by the scans in lanes
// (twenty); progress is told on the calling thread only, and stopping midway with other threads running releases all.
TEST(CppMember, GenerationOnThreads) {
    const auto same = [](std::span<const double> a, std::span<const double> b) {
        return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size_bytes()) == 0;
    };
    const auto caller = std::this_thread::get_id();
    Parameters flat;
    flat.num_minima = 20000;
    Parameters high = Parameters::in_cube(20);
    high.num_minima = 3000;
    for (const Parameters &p : {flat, high}) {
        SCOPED_TRACE(p.dim);
        const travo::Member plain = travo::generate(p, {}, 1);
        for (unsigned threads : {2u, 3u}) {
            bool elsewhere = false;
            const travo::Member f = travo::generate(
                p,
                [&](double) {
                    elsewhere = elsewhere || std::this_thread::get_id() != caller;
                    return true;
                },
                threads);
            EXPECT_FALSE(elsewhere);
            EXPECT_TRUE(same(f.radii(), plain.radii()) && same(f.minimum_values(), plain.minimum_values()) &&
                        same(f.minimizer(p.num_minima - 1), plain.minimizer(p.num_minima - 1)));
            const auto before = travo::host::live_blocks();
            EXPECT_THROW((void)travo::generate(
                             p, [](double f) { return f < 0.5; }, threads),
                         travo::GenerationAbandoned);
            EXPECT_EQ(travo::host::live_blocks(), before);
        }
    }
}

// A batch's progress function, asked on the calling thread only, hears growing fractions and leaves the results'
// bits as they are; one that returns false or throws stops every thread of the batch.
TEST(CppMember, BatchProgressAndAbandonment) {
    Parameters p;
    p.num_minima = 40;
    const travo::Member f = travo::generate(p);
    std::vector<double> pts(2 * 400000), want(400000), got(400000);
    for (std::size_t k = 0; k < pts.size(); k++) pts[k] = std::sin(double(k)) * 1.0000001;
    f.values(Kind::D2, pts, want, 1);
    for (unsigned threads : {1u, 2u, 3u}) {
        SCOPED_TRACE(threads);
        const std::thread::id caller = std::this_thread::get_id();
        std::vector<double> fractions;
        f.values(Kind::D2, pts, got, threads, [&](double fraction) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            fractions.push_back(fraction);
            return true;
        });
        EXPECT_EQ(got, want);
        ASSERT_GE(fractions.size(), 2u);
        EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()) && fractions.back() <= 1.0);
        std::size_t calls = 0;
        std::vector<std::int64_t> regions(want.size(), 7);
        EXPECT_THROW(f.regions(pts, regions, threads, [&](double) { return ++calls < 2; }), travo::BatchAbandoned);
        EXPECT_EQ(calls, 2u);
        EXPECT_NE(std::count(regions.begin(), regions.end(), 7), 0) << "a stopped batch went on to the end";
        std::vector<double> h(pts.size() * 2);
        EXPECT_THROW(f.hessians(pts, h, threads, [](double) -> bool { throw std::logic_error("stop"); }),
                     std::logic_error);
    }
}

// Spans of the wrong length are refused; points beyond the box tolerance give false and the error value.
TEST(CppMember, ArgumentChecksAndPointsOutsideTheBox) {
    const travo::Member f = travo::generate(Parameters{});
    const std::vector<double> x3 = {0.1, 0.2, 0.3}, x2 = {0.1, 0.2};
    std::vector<double> g1(1), h3(3), out(2), out3(3);
    EXPECT_THROW((void)f.contains(std::span<const double>(x3.data(), 1)), std::invalid_argument);
    EXPECT_THROW((void)f.region(std::vector<double>{0.0}), std::invalid_argument);
    EXPECT_THROW((void)f.gradient(Kind::D, x2, g1), std::invalid_argument);
    EXPECT_THROW((void)f.hessian(x2, h3), std::invalid_argument);
    EXPECT_THROW(f.values(Kind::D2, x3, out), std::invalid_argument);  // 1.5 points
    EXPECT_THROW(f.values(Kind::D2, x2, out), std::invalid_argument);  // 1 point, 2 outputs
    EXPECT_THROW(f.gradients(Kind::D, x2, out3), std::invalid_argument);
    EXPECT_THROW(f.hessians(x2, out3), std::invalid_argument);
    EXPECT_NO_THROW(f.values(Kind::D2, {}, {}));
    EXPECT_THROW((void)f.minimizer(10), std::out_of_range);

    const std::vector<double> inside = {1.0 + 0.5e-10, -1.0}, outside = {1.0 + 2e-10, 0.0};
    EXPECT_TRUE(f.contains(inside) && !f.contains(outside));
    std::vector<double> g(2, 0.0), h(4, 0.0);
    EXPECT_TRUE(f.gradient(Kind::D, inside, g));
    EXPECT_FALSE(f.gradient(Kind::D2, outside, g) || f.hessian(outside, h));
    EXPECT_EQ(g, std::vector<double>(2, travo::error_value));
    EXPECT_EQ(h, std::vector<double>(4, travo::error_value));
}

// The three rules of SolvedRule at their edges: the box rule's gap in each coordinate, the distance, the value;
// never a point outside the box or with a NaN coordinate; tolerances out of range are refused.
TEST(CppMember, SolvedRules) {
    Parameters p;
    p.test_number = 3;
    const travo::Member f = travo::generate(p);
    const auto star = f.minimizer(1);
    const double gap = std::pow(1e-4, 1.0 / 2) * 2.0;  // box side 2
    const auto moved = [&](std::size_t i, double by) {
        std::vector<double> x(star.begin(), star.end());
        x[i] += star[i] > 0 ? -by : by;  // inward
        return x;
    };
    const auto box = travo::SolvedRule::box(f, 1e-4);
    EXPECT_TRUE(box(moved(0, gap * 0.999)) && box(moved(1, gap * 0.999)));
    EXPECT_FALSE(box(moved(1, gap * 1.001)) || box(f.minimizer(2)));
    const auto near = travo::SolvedRule::distance(f, 1e-3);
    EXPECT_TRUE(near(moved(0, 0.999e-3)) && !near(moved(0, 1.001e-3)));
    const auto low = travo::SolvedRule::value(f, Kind::D, 1e-12);
    EXPECT_TRUE(low(star) && !low(f.minimizer(0)));
    const auto any = travo::SolvedRule::distance(f, 10.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(any(std::vector<double>{2.0, 0.0}) || any(std::vector<double>{nan, 0.0}) ||
                 box(std::vector<double>{star[0], nan}));
    EXPECT_THROW((void)box(std::vector<double>{0.0}), std::invalid_argument);
    for (const double bad : {0.0, 1.0, nan}) EXPECT_THROW(travo::SolvedRule::box(f, bad), std::invalid_argument);
    EXPECT_THROW(travo::SolvedRule::distance(f, -1.0), std::invalid_argument);
    EXPECT_THROW(travo::SolvedRule::value(f, Kind::D2, nan), std::invalid_argument);
}

// Copies and moves share the member, which outlives the original; a moved-from member takes a new one by
// assignment; the last copy gives the tables back.
TEST(CppMember, CopiesAndMovesShareTheMember) {
    const auto before = travo::host::live_blocks();
    {
        const std::vector<double> x = {0.25, -0.5};
        Parameters p;
        p.test_number = 77;
        std::vector<travo::Member> kept;
        travo::Member f = travo::generate(p);
        const double expected = f.value(Kind::D2, x);
        kept.push_back(f);
        kept.push_back(std::move(f));
        p.test_number = 78;
        kept.push_back(travo::generate(p));
        EXPECT_EQ(kept[1].value(Kind::D2, x), expected);
        EXPECT_NE(kept[2].value(Kind::D2, x), expected);
        f = kept[0];
        kept.clear();
        EXPECT_EQ(f.value(Kind::D2, x), expected);
    }
    EXPECT_EQ(travo::host::live_blocks(), before);
}
