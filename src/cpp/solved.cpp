// travo::SolvedRule: whether a point counts as a global minimizer, by the box,
// distance or value rule.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

#include "travo/travo.hpp"

namespace travo {

SolvedRule::SolvedRule(const Member &f, Rule rule, Kind kind, double tolerance)
    : member_(f), rule_(rule), kind_(kind), tolerance_(tolerance) {
    const std::uint32_t n = f.dim();
    for (const std::uint32_t row : f.global_minimizers()) {
        const auto x = f.minimizer(row);
        targets_.insert(targets_.end(), x.begin(), x.end());
    }
    if (rule == Rule::box) {
        const Parameters &p = f.parameters();
        const double scale = std::pow(tolerance, 1.0 / n);
        for (std::uint32_t i = 0; i < n; ++i) limits_.push_back(scale * (p.upper[i] - p.lower[i]));
    }
}

SolvedRule SolvedRule::box(const Member &f, double accuracy) {
    if (!(accuracy > 0.0 && accuracy < 1.0))
        throw std::invalid_argument("accuracy must lie in (0, 1); got " + std::to_string(accuracy));
    return SolvedRule(f, Rule::box, Kind::D2, accuracy);
}

SolvedRule SolvedRule::distance(const Member &f, double tolerance) {
    if (!(tolerance >= 0.0))
        throw std::invalid_argument("the distance must be a number >= 0; got " + std::to_string(tolerance));
    return SolvedRule(f, Rule::distance, Kind::D2, tolerance);
}

SolvedRule SolvedRule::value(const Member &f, Kind kind, double tolerance) {
    if (!(tolerance >= 0.0))
        throw std::invalid_argument("the value tolerance must be a number >= 0; got " + std::to_string(tolerance));
    return SolvedRule(f, Rule::value, kind, tolerance);
}

bool SolvedRule::operator()(std::span<const double> x) const {
    for (const double c : x)
        if (std::isnan(c)) return false;
    return member_.contains(x) && meets_in_box(x);
}

bool SolvedRule::meets_in_box(std::span<const double> x) const {
    const std::size_t n = member_.dim();
    if (x.size() != n)
        throw std::invalid_argument("travo: the point has " + std::to_string(x.size()) + " coordinates, the member " +
                                    std::to_string(n));
    if (rule_ == Rule::value) return member_.value(kind_, x) - member_.minimum_values()[1] <= tolerance_;
    for (std::size_t r = 0; r < targets_.size(); r += n) {
        if (rule_ == Rule::box) {
            std::size_t i = 0;
            while (i < n && std::fabs(x[i] - targets_[r + i]) <= limits_[i]) ++i;
            if (i == n) return true;
        } else {
            double s = 0.0;
            for (std::size_t i = 0; i < n; ++i) s += (x[i] - targets_[r + i]) * (x[i] - targets_[r + i]);
            if (std::sqrt(s) <= tolerance_) return true;
        }
    }
    return false;
}

}  // namespace travo
