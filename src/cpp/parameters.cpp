// Parameters of the C++ interface, the statuses and the rules behind them.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include "common/constants.hpp"
#include "cpp/rules.hpp"
#include "generator/member.hpp"
#include "travo/travo.hpp"

namespace travo {

using core::kTol;

std::string_view status_name(Status status) noexcept {
    switch (status) {
    case Status::ok:
        return "ok";
    case Status::bad_dimension:
        return "bad dimension";
    case Status::bad_minima_count:
        return "bad minima count";
    case Status::bad_test_number:
        return "bad test number";
    case Status::bad_domain:
        return "bad box";
    case Status::bad_global_value:
        return "bad global value";
    case Status::bad_global_distance:
        return "bad global distance";
    case Status::bad_global_radius:
        return "bad global radius";
    case Status::no_memory:
        return "no memory";
    case Status::bad_derivative:
        return "bad derivative";
    case Status::parabola_coincidence:
        return "parabola coincidence";
    case Status::minima_coincidence:
        return "minima coincidence";
    case Status::no_global_minimum:
        return "no global minimum";
    }
    return "unknown status";
}

Error::Error(Status status, const std::string &rule)
    : std::runtime_error("status " + std::to_string(static_cast<int>(status)) + " (" +
                         std::string(status_name(status)) + "): " + rule),
      status_(status),
      rule_(rule) {}

std::string_view kind_name(Kind kind) noexcept {
    switch (kind) {
    case Kind::ND:
        return "ND";
    case Kind::D:
        return "D";
    case Kind::D2:
        return "D2";
    }
    return "unknown kind";
}

std::optional<Kind> parse_kind(std::string_view name) noexcept {
    for (const Kind kind : {Kind::ND, Kind::D, Kind::D2}) {
        const std::string_view canonical = kind_name(kind);
        if (name.size() == canonical.size() &&
            std::equal(name.begin(), name.end(), canonical.begin(),
                       [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; })) {
            return kind;
        }
    }
    return std::nullopt;
}

Parameters Parameters::resolve(const Given &given) {
    const std::size_t lowers = given.lower ? given.lower->size() : 0;
    const std::size_t uppers = given.upper ? given.upper->size() : 0;
    const std::size_t dim = given.dim ? *given.dim : std::max({std::size_t{min_dimension}, lowers, uppers});
    if (dim < min_dimension || dim > max_dimension) {
        throw Error(Status::bad_dimension, detail::rule(Status::bad_dimension, dim));
    }
    Parameters p;
    p.dim = static_cast<std::uint32_t>(dim);
    // A single bound stands for every coordinate.
    const auto bounds = [dim](const std::optional<std::vector<double>> &b, double fallback) {
        if (!b) return std::vector<double>(dim, fallback);
        if (b->size() == 1) return std::vector<double>(dim, b->front());
        return *b;
    };
    p.lower = bounds(given.lower, -1.0);
    p.upper = bounds(given.upper, 1.0);
    if (p.lower.size() != dim || p.upper.size() != dim)
        throw Error(Status::bad_domain, detail::rule(Status::bad_domain, p));
    p.num_minima = given.num_minima.value_or(p.num_minima);
    p.global_value = given.global_value.value_or(p.global_value);
    p.test_number = given.test_number.value_or(p.test_number);
    p.distance = given.distance ? *given.distance : detail::shortest_side(p.lower, p.upper) / 3.0;
    if (given.radius) {
        p.radius = *given.radius;
    } else {
        p.radius = p.distance * 0.5;
        // Half the distance is refused once the tolerance vanishes beside
        // it: the double just below is accepted, and changes no set that
        // the check accepts.
        if (p.radius >= 0.5 * p.distance + kTol) p.radius = std::nextafter(p.radius, 0.0);
    }
    return p;
}

Parameters Parameters::in_cube(std::uint32_t dim, double lo, double hi) {
    Given given;
    given.dim = dim;
    given.lower = std::vector<double>{lo};
    given.upper = std::vector<double>{hi};
    return resolve(given);
}

Parameters Parameters::in_box(std::vector<double> lower, std::vector<double> upper) {
    if (lower.size() != upper.size()) {
        throw Error(Status::bad_domain, "the box has " + std::to_string(lower.size()) + " lower and " +
                                            std::to_string(upper.size()) +
                                            " upper bounds; it needs one of each per coordinate");
    }
    if (lower.size() < min_dimension || lower.size() > max_dimension) {
        throw Error(Status::bad_dimension, detail::rule(Status::bad_dimension, lower.size()));
    }
    Given given;
    given.lower = std::move(lower);
    given.upper = std::move(upper);
    return resolve(given);
}

namespace detail {

std::string number(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

double shortest_side(const std::vector<double> &lower, const std::vector<double> &upper) {
    const std::size_t n = std::min(lower.size(), upper.size());
    return n == 0 ? 0.0 : core::shortest_side(n, lower.data(), upper.data());
}

std::string rule(Status status, std::size_t value) {
    const std::string v = std::to_string(value);
    switch (status) {
    case Status::bad_dimension:
        return "the dimension must lie from 2 to 1008 (it is " + v + ")";
    case Status::bad_minima_count:
        return "the number of minima must be at least 2 (it is " + v + ")";
    default:
        return "status " + std::to_string(static_cast<int>(status));
    }
}

std::string rule(Status status, const Parameters &p) {
    switch (status) {
    case Status::bad_test_number:
        return "the test number must lie from 1 to 100 (it is " + std::to_string(p.test_number) + ")";
    case Status::bad_dimension:
        return rule(status, p.dim);
    case Status::bad_minima_count:
        return rule(status, p.num_minima);
    case Status::bad_domain: {
        if (p.lower.size() != p.dim || p.upper.size() != p.dim) {
            return "the box needs " + std::to_string(p.dim) + " lower and " + std::to_string(p.dim) +
                   " upper bounds, one per coordinate (it has " + std::to_string(p.lower.size()) + " and " +
                   std::to_string(p.upper.size()) + ")";
        }
        for (std::size_t i = 0; i < p.dim; i++) {
            if (p.lower[i] >= p.upper[i] - kTol) {
                return "in coordinate " + std::to_string(i + 1) + " the lower bound " + number(p.lower[i]) +
                       " must lie below the upper bound " + number(p.upper[i]) + " by more than 1e-10";
            }
        }
        for (std::size_t i = 0; i < p.dim; i++) {
            if (!std::isfinite(p.lower[i]) || !std::isfinite(p.upper[i])) {
                return "in coordinate " + std::to_string(i + 1) + " the bounds must be finite numbers (they are " +
                       number(p.lower[i]) + " and " + number(p.upper[i]) + ")";
            }
        }
        const double diagonal = core::box_diagonal(p.dim, p.lower.data(), p.upper.data());
        return "the diagonal of the box must not exceed 1e48, so that every value and derivative is finite and "
               "below 1e+100 (it is " +
               (std::isinf(diagonal) ? std::string("beyond the largest double") : number(diagonal)) + ")";
    }
    case Status::bad_global_value: {
        if (p.global_value >= -kTol) {
            return "the global value must lie below -1e-10 (it is " + number(p.global_value) + ")";
        }
        if (!std::isfinite(p.global_value)) {
            return "the global value must be a finite number below -1e-10 (it is " + number(p.global_value) + ")";
        }
        return "the global value must not lie below " + number(core::lowest_global_value(p.distance, p.radius)) +
               " with this distance and radius, so that every value and derivative is finite and below 1e+100 "
               "(it is " +
               number(p.global_value) + ")";
    }
    case Status::bad_global_distance: {
        const double side = shortest_side(p.lower, p.upper);
        return "the distance must lie strictly between 1e-10 and half the shortest box side minus "
               "1e-10, " +
               number(0.5 * side - kTol) + " here (it is " + number(p.distance) + ")";
    }
    case Status::bad_global_radius:
        return "the radius must lie strictly between 1e-10 and half the distance plus 1e-10, " +
               number(0.5 * p.distance + kTol) + " here (it is " + number(p.radius) + ")";
    case Status::no_memory:
        return "the tables of " + std::to_string(p.num_minima) + " minima in dimension " + std::to_string(p.dim) +
               " could not be allocated";
    case Status::parabola_coincidence:
    case Status::minima_coincidence:
        return "the local minimizers could not be placed 1e-10 apart from each other and from the "
               "vertex in this box";
    case Status::no_global_minimum:
        return "no minimizer takes the global value " + number(p.global_value) + " (it must be a number below -1e-10)";
    default:
        return "status " + std::to_string(static_cast<int>(status));
    }
}

}  // namespace detail
}  // namespace travo
