// The value and derivative expressions of the three kinds inside an
// attraction region, each written once.
//
// The values are templates over the number type: one double for the
// per-point operations, two lanes of a vector register for batch
// evaluation (src/evaluation/batch.cpp). Every lane rounds as the scalar
// instruction does and nothing is contracted or reassociated
// (-ffp-contract=off, no fast-math), so both give the same bits. What
// depends on the region alone (its height A, delta) comes from a `Terms`
// object: RegionTerms computes it from A at each use, batch evaluation
// reads it from a table filled once per region by RegionTerms itself.
//
// The derivatives are classes that compute what does not depend on the
// component index once; a single entry and a whole row both call the same
// entry function, so they have the same bits.
#pragma once

#include <cstdint>

namespace travo::core {

enum class Kind { ND, D, D2 };

// The terms of the value formulas that depend on the region's height A
// (|T - M|^2 + t - f), its radius and delta, each by the expression the
// formulas use; over the number type T (one double, or lanes).
template <class T>
struct BasicRegionTerms {
    T A, rho2, rho3;
    double delta;

    T nd_a() const { return A / rho2; }
    T d_a3() const { return 2.0 * A / rho3; }
    T d_a2() const { return 3.0 * A / rho2; }
    T d2_c3() const { return 10.0 * A / rho2; }
    T d2_c4() const { return 15.0 * A / rho2; }
    T d2_c5() const { return 6.0 * A / rho2; }
    double delta_half() const { return delta / 2.0; }
    double delta_15() const { return 1.5 * delta; }
    double delta_05() const { return 0.5 * delta; }
};
using RegionTerms = BasicRegionTerms<double>;

template <class T>
struct D2Coefficients {
    T c3, c4, c5;
};

// Coefficients of r^3/rho, r^4/rho^2 and r^5/rho^3 in the D2 polynomial;
// q = (x - M).(T - M) / r.
template <class T, class Terms>
inline D2Coefficients<T> d2_coefficients(const T &q, const T &rho, const Terms &a) {
    return {3.0 - 12.0 * q / rho + a.d2_c3() - a.delta_15(), -3.0 + 16.0 * q / rho - a.d2_c4() + a.delta_15(),
            1.0 - 6.0 * q / rho + a.d2_c5() - a.delta_05()};
}

// The value of kind K at distance r >= 1e-10 from the centre of a region
// with radius rho (rho2, rho3 its powers) and minimum value f.
template <Kind K, class T, class Terms>
inline T region_value(const T &q, const T &r, const T &rho, const T &rho2, const T &rho3, const T &f, const Terms &a) {
    const T r2 = r * r, r3 = r2 * r;
    if constexpr (K == Kind::ND) {
        return (1.0 - 2.0 * q / rho + a.nd_a()) * r2 + f;
    } else if constexpr (K == Kind::D) {
        return (2.0 * q / rho2 - a.d_a3()) * r3 + (1.0 - 4.0 * q / rho + a.d_a2()) * r2 + f;
    } else {
        const T r4 = r3 * r, r5 = r4 * r;
        const auto [c3, c4, c5] = d2_coefficients(q, rho, a);
        return a.delta_half() * r2 + c3 * r3 / rho + c4 * r4 / rho2 + c5 * r5 / rho3 + f;
    }
}

// The height A of a region whose centre lies at distance tm from the
// vertex: tm^2 + t - f, t the vertex value and f the region's minimum.
inline double region_height(double tm, double t, double f) { return tm * tm + t - f; }

// The paraboloid at distance `dist` from its vertex, whose value is t.
template <class T>
inline T paraboloid_value(const T &dist, double t) {
    return dist * dist + t;
}

// G for one component of a point in a region: e r - s d / r, with d = x - M,
// e = T - M for the component and s = (x - M).(T - M).
template <class T>
inline T gradient_g(const T &e, const T &r, const T &s, const T &d) {
    return e * r - s * d / r;
}

// Inside a region (r >= 1e-10): d = x - M and e = T - M by component.
struct RegionPoint {
    const double *x, *centre, *vertex;
    double r, s, q, A, rho, delta;  // s = (x - M).(T - M), q = s / r

    double d(uint32_t c) const { return x[c] - centre[c]; }
    double e(uint32_t c) const { return vertex[c] - centre[c]; }
    double G(uint32_t c) const { return gradient_g(e(c), r, s, d(c)); }
};

// The factors of the first partial derivatives of kind K (D or D2) in a
// region that do not depend on the component, over the number type T (one
// double, or the lanes of batch evaluation), and entry(d, G) for a component
// with its d and G.
template <Kind K, class T>
class FirstFactors {
    static_assert(K == Kind::D || K == Kind::D2);

public:
    FirstFactors(const T &rho, const T &r, const T &s, const T &q, const T &A, double delta) : r_(r), delta_(delta) {
        rho2_ = rho * rho;
        const T rho3 = rho2_ * rho;
        if constexpr (K == Kind::D) {
            a_ = 2.0 * r / rho2_ - 4.0 / rho;
            b_ = 2.0 + 6.0 * A / rho2_ + 6.0 * s / rho2_ - 6.0 * A * r / rho3 - 8.0 * q / rho;
        } else {
            const double dl = delta;
            const T r2 = r * r;
            const T P = (5.0 - 30.0 * q / rho + 30.0 * A / rho2_ - 2.5 * dl) / rho3;
            const T Q = (-12.0 + 64.0 * q / rho - 60.0 * A / rho2_ + 6.0 * dl) / rho2_;
            const T R = (9.0 - 36.0 * q / rho + 30.0 * A / rho2_ - 4.5 * dl) / rho;
            a_ = -6.0 * r2 / rho2_ + 16.0 * r / rho - 12.0;
            b_ = P * r2 + Q * r + R;
        }
    }

    T entry(const T &d, const T &G) const {
        if constexpr (K == Kind::D) {
            return G * a_ + d * b_;
        } else {
            return delta_ * d + (G * r_ / rho2_) * a_ + d * r_ * b_;
        }
    }

private:
    T r_;
    double delta_;
    T rho2_;
    T a_, b_;  // D: factors of G and d; D2: the polynomials in r that G r / rho^2 and d r multiply
};

// First partial derivatives of kind K (D or D2) at a point in a region:
// entry(c) for component c (0-based).
template <Kind K>
class FirstDerivative {
public:
    explicit FirstDerivative(const RegionPoint &p) : p_(p), f_(p.rho, p.r, p.s, p.q, p.A, p.delta) {}

    double entry(uint32_t c) const { return f_.entry(p_.d(c), p_.G(c)); }

private:
    RegionPoint p_;
    FirstFactors<K, double> f_;
};

// The factors of the second partial derivatives of the D2 kind in a region
// that do not depend on the indices, over the number type T, and
// entry(di, ei, Gi, dj, Gj, diagonal) for the (i, j) entry with the d, e
// and G of components i and j.
template <class T>
class SecondFactors {
public:
    SecondFactors(const T &rho, const T &r, const T &s, const T &q, const T &A, double delta)
        : rho_(rho), r_(r), s_(s), delta_(delta) {
        const T rho2 = rho * rho, rho3 = rho2 * rho, rho4 = rho3 * rho;
        rho2_ = rho2;
        rho3_ = rho3;
        r2_ = r * r;
        r3_ = r2_ * r;
        const BasicRegionTerms<T> terms{A, rho2, rho3, delta};
        const auto c = d2_coefficients(q, rho, terms);
        c3_ = c.c3;
        c4_ = c.c4;
        c5_ = c.c5;
        k12_ = -12.0 / rho2;
        k8_ = 8.0 / rho2;
        k64_ = 64.0 / rho3;
        k16_ = 16.0 / rho3;
        k15_ = 15.0 / rho3;
        k6_ = -6.0 / rho4;
        k30_ = -30.0 / rho4;
        k36_ = -36.0 / rho2;
        k3_ = 3.0 / rho;
    }

    T entry(const T &di, const T &ei, const T &Gi, const T &dj, const T &Gj, bool diagonal) const {
        const T &r = r_, &s = s_, &r2 = r2_, &r3 = r3_;
        T H = ei * dj / r - Gj * di / r2;
        if (diagonal) H -= s / r;
        T sum = k12_ * (H * r + Gi * dj / r);
        sum += k8_ * (c4_ * di * dj);
        sum += k64_ * (Gj * di);
        sum += k16_ * (2.0 * Gi * dj + H * r2);
        sum += k15_ * (c5_ * di * dj * r);
        sum += k6_ * (H * r3 + 3.0 * Gi * dj * r);
        sum += k30_ * (Gj * di * r);
        sum += k36_ * (Gj * di / r);
        sum += k3_ * (c3_ * di * dj / r);
        if (diagonal) sum += 3.0 * c3_ * r / rho_ + 4.0 * c4_ * r2 / rho2_ + 5.0 * c5_ * r3 / rho3_ + delta_;
        return sum;
    }

private:
    T rho_, r_, s_;
    double delta_;
    T rho2_, rho3_, r2_, r3_;
    T c3_, c4_, c5_;
    T k12_, k8_, k64_, k16_, k15_, k6_, k30_, k36_, k3_;
};

// Second partial derivatives of the D2 kind at a point in a region: row(i)
// what depends on i alone, then entry(row, j) for the (i, j) entry
// (0-based).
class SecondDerivative {
public:
    explicit SecondDerivative(const RegionPoint &p) : p_(p), f_(p.rho, p.r, p.s, p.q, p.A, p.delta) {}

    struct Row {
        uint32_t i;
        double di, ei, Gi;
    };

    Row row(uint32_t i) const { return {i, p_.d(i), p_.e(i), p_.G(i)}; }

    double entry(const Row &ri, uint32_t j) const { return f_.entry(ri.di, ri.ei, ri.Gi, p_.d(j), p_.G(j), ri.i == j); }

private:
    RegionPoint p_;
    SecondFactors<double> f_;
};

}  // namespace travo::core
