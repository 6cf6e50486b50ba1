// The C++ interface on its own: refused parameters, argument checks, value
// semantics and storage.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "host/host_layer.hpp"
#include "travo/travo.hpp"

using travo::Kind;
using travo::Parameters;
using travo::Status;

namespace {

struct Refusal {
    const char *name;
    std::function<void(Parameters &)> change;
    Status status;
    const char *rule_part;  // text the rule must contain
};

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

TEST(CppParameters, EachRefusalNamesItsStatusAndRule) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<Refusal> cases = {
        {"dimension 1", [](Parameters &p) { p.dim = 1; }, Status::bad_dimension, "from 2 to 1008 (it is 1)"},
        {"dimension 1009", [](Parameters &p) { p.dim = 1009; }, Status::bad_dimension, "(it is 1009)"},
        {"one minimum", [](Parameters &p) { p.num_minima = 1; }, Status::bad_minima_count, "at least 2 (it is 1)"},
        {"test 0", [](Parameters &p) { p.test_number = 0; }, Status::bad_test_number, "from 1 to 100 (it is 0)"},
        {"test 101", [](Parameters &p) { p.test_number = 101; }, Status::bad_test_number, "(it is 101)"},
        {"flat box", [](Parameters &p) { p.upper[1] = p.lower[1]; }, Status::bad_domain,
         "in coordinate 2 the lower bound -1 must lie below the upper bound -1 by more than 1e-10"},
        {"short box", [](Parameters &p) { p.upper.pop_back(); }, Status::bad_domain,
         "needs 2 lower and 2 upper bounds, one per coordinate (it has 2 and 1)"},
        {"box for another dimension", [](Parameters &p) { p.dim = 3; }, Status::bad_domain, "needs 3 lower"},
        {"global value 0", [](Parameters &p) { p.global_value = 0.0; }, Status::bad_global_value,
         "below -1e-10 (it is 0)"},
        {"distance too long", [](Parameters &p) { p.distance = 1.0; }, Status::bad_global_distance,
         "half the shortest box side minus 1e-10, 0.9999999999 here (it is 1)"},
        {"distance 0", [](Parameters &p) { p.distance = 0.0; }, Status::bad_global_distance, "(it is 0)"},
        {"radius too large", [](Parameters &p) {
             p.distance = 0.6;
             p.radius = 0.31;
         }, Status::bad_global_radius,
         "half the distance plus 1e-10, 0.3000000001 here (it is 0.31)"},
        {"NaN global value", [nan](Parameters &p) { p.global_value = nan; }, Status::no_global_minimum,
         "no minimizer takes the global value nan"},
    };
    for (const auto &c : cases) {
        Parameters p;
        c.change(p);
        const travo::Error e = refusal_of(p);
        EXPECT_EQ(e.status(), c.status) << c.name;
        EXPECT_NE(e.rule().find(c.rule_part), std::string::npos) << c.name << ": " << e.rule();
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("status " + std::to_string(static_cast<int>(c.status)) + " (", 0), 0u) << what;
        EXPECT_NE(what.find(std::string(travo::status_name(c.status))), std::string::npos) << what;
    }
}

TEST(CppParameters, RefusalsComeInTheLibrarysOrder) {
    Parameters p;
    p.test_number = 0;
    p.dim = 0;
    p.num_minima = 0;
    p.global_value = 1.0;
    EXPECT_EQ(refusal_of(p).status(), Status::bad_test_number);
    p.test_number = 1;
    EXPECT_EQ(refusal_of(p).status(), Status::bad_dimension);
    p.dim = 5;  // the box still has 2 bounds: the count comes first
    EXPECT_EQ(refusal_of(p).status(), Status::bad_minima_count);
    p.num_minima = 3;
    EXPECT_EQ(refusal_of(p).status(), Status::bad_domain);
    p = Parameters::in_cube(5);
    p.global_value = 1.0;
    p.distance = 5.0;
    EXPECT_EQ(refusal_of(p).status(), Status::bad_global_value);
}

TEST(CppParameters, BoxConstructors) {
    const Parameters p = Parameters::in_box({0.0, 0.0}, {4.0, 1.0});
    EXPECT_EQ(p.dim, 2u);
    EXPECT_EQ(p.distance, 1.0 / 3.0);
    EXPECT_EQ(p.radius, 1.0 / 6.0);
    const Parameters c = Parameters::in_cube(1008, 0.0, 3.0);
    EXPECT_EQ(c.lower.size(), 1008u);
    EXPECT_EQ(c.distance, 1.0);
    EXPECT_NO_THROW((void)travo::generate(c));
    EXPECT_THROW((void)Parameters::in_cube(1), travo::Error);
    EXPECT_THROW((void)Parameters::in_cube(1009), travo::Error);
    try {
        (void)Parameters::in_box({0.0, 0.0, 0.0}, {1.0, 1.0});
        ADD_FAILURE() << "mismatched box accepted";
    } catch (const travo::Error &e) {
        EXPECT_EQ(e.status(), Status::bad_domain);
    }
}

TEST(CppParameters, FailedAllocationReportsNoMemoryAndLeaksNothing) {
    const auto before = travo::host::live_blocks();
    for (int k = 1; k <= 8; k++) {
        travo::host::fail_allocation(k);
        Parameters p;
        p.num_minima = 4;
        try {
            (void)travo::generate(p);
            ADD_FAILURE() << "allocation " << k << " failed silently";
        } catch (const travo::Error &e) {
            EXPECT_EQ(e.status(), Status::no_memory);
            EXPECT_NE(e.rule().find("4 minima in dimension 2"), std::string::npos);
        }
        travo::host::fail_allocation(0);
        EXPECT_EQ(travo::host::live_blocks(), before) << "allocation " << k;
    }
}

TEST(CppMember, TableShapeAndRoles) {
    Parameters p = Parameters::in_cube(4);
    p.num_minima = 12;
    p.global_value = -2.0;
    const travo::Member f = travo::generate(p);
    EXPECT_EQ(f.dim(), 4u);
    EXPECT_EQ(f.minimum_values().size(), 12u);
    EXPECT_EQ(f.radii().size(), 12u);
    EXPECT_EQ(f.minimum_values()[0], 0.0);
    EXPECT_EQ(f.minimum_values()[1], -2.0);
    EXPECT_EQ(f.radii()[1], p.radius);
    EXPECT_GE(f.delta(), 0.0);
    EXPECT_LT(f.delta(), 10.0);
    ASSERT_FALSE(f.global_minimizers().empty());
    EXPECT_EQ(f.global_minimizers()[0], 1u);
    for (std::uint32_t row : f.global_minimizers()) EXPECT_NEAR(f.minimum_values()[row], -2.0, 1e-10);
    // The global minimizer is a minimizer of every kind.
    for (Kind k : {Kind::ND, Kind::D, Kind::D2}) EXPECT_EQ(f.value(k, f.minimizer(1)), -2.0);
    EXPECT_EQ(f.minimizer(11).size(), 4u);
    EXPECT_THROW((void)f.minimizer(12), std::out_of_range);
}

TEST(CppMember, ArgumentsOfTheWrongLengthAreRefusedBeforeAnyRead) {
    const travo::Member f = travo::generate(Parameters{});
    const std::vector<double> x3 = {0.1, 0.2, 0.3}, x2 = {0.1, 0.2};
    std::vector<double> g1(1), g2(2), h3(3);
    EXPECT_THROW((void)f.value(Kind::D, x3), std::invalid_argument);
    EXPECT_THROW((void)f.contains(std::span<const double>(x3.data(), 1)), std::invalid_argument);
    EXPECT_THROW((void)f.gradient(Kind::D, x2, g1), std::invalid_argument);
    EXPECT_THROW((void)f.gradient(Kind::ND, x2, g2), std::invalid_argument);
    EXPECT_THROW((void)f.hessian(x2, h3), std::invalid_argument);
    EXPECT_THROW((void)f.value_and_gradient(Kind::ND, x2, g2), std::invalid_argument);
    std::vector<double> out(2);
    EXPECT_THROW(f.values(Kind::D2, x3, out), std::invalid_argument);           // 1.5 points
    EXPECT_THROW(f.values(Kind::D2, x2, out), std::invalid_argument);           // 1 point, 2 outputs
    EXPECT_THROW(f.gradients(Kind::D, x2, out = std::vector<double>(3)), std::invalid_argument);
    EXPECT_THROW(f.hessians(x2, out = std::vector<double>(3)), std::invalid_argument);
    std::vector<double> none;
    EXPECT_NO_THROW(f.values(Kind::D2, none, none));
}

TEST(CppMember, PointsOutsideTheBoxGiveTheErrorValue) {
    const travo::Member f = travo::generate(Parameters{});
    const std::vector<double> inside = {1.0 + 0.5e-10, -1.0}, outside = {1.0 + 2e-10, 0.0};
    EXPECT_TRUE(f.contains(inside));
    EXPECT_FALSE(f.contains(outside));
    EXPECT_LT(f.value(Kind::D2, inside), travo::error_value);
    EXPECT_EQ(f.value(Kind::ND, outside), travo::error_value);
    std::vector<double> g(2, 0.0), h(4, 0.0);
    EXPECT_TRUE(f.gradient(Kind::D, inside, g));
    EXPECT_FALSE(f.gradient(Kind::D2, outside, g));
    EXPECT_EQ(g, std::vector<double>(2, travo::error_value));
    EXPECT_FALSE(f.hessian(outside, h));
    EXPECT_EQ(h, std::vector<double>(4, travo::error_value));
    EXPECT_EQ(f.value_and_gradient(Kind::D, outside, g), travo::error_value);
}

TEST(CppMember, CopiesShareTheMemberAndOutliveTheOriginal) {
    const auto before = travo::host::live_blocks();
    {
        std::vector<travo::Member> kept;
        const std::vector<double> x = {0.25, -0.5};
        double expected = 0.0;
        {
            Parameters p;
            p.test_number = 77;
            const travo::Member original = travo::generate(p);
            expected = original.value(Kind::D2, x);
            kept.push_back(original);
            kept.push_back(kept.front());
        }
        EXPECT_EQ(kept[1].value(Kind::D2, x), expected);
        EXPECT_EQ(kept[0].parameters().test_number, 77);
        // Another member alongside differs and leaves this one alone.
        Parameters q;
        q.test_number = 78;
        kept.push_back(travo::generate(q));
        EXPECT_NE(kept[2].value(Kind::D2, x), expected);
        EXPECT_EQ(kept[0].value(Kind::D2, x), expected);
    }
    EXPECT_EQ(travo::host::live_blocks(), before) << "tables of released members were kept";
}
