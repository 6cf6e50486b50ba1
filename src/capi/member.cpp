// The reentrant C interface of member.h: a handle holding a travo::Member,
// and functions that check their arguments, call the C++ interface and turn
// every exception into a status, so that none crosses into C.
#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "cpp/rules.hpp"
#include "travo/member.h"
#include "travo/travo.hpp"

struct travo_member {
    travo::Member member;
};

namespace {

using travo::Kind;

// Bounds of the default box [-1, 1]^dim, for every dimension the library
// accepts.
constexpr std::array<double, travo::max_dimension> cube_bound(double v) {
    std::array<double, travo::max_dimension> a{};
    for (double &e : a) e = v;
    return a;
}
constexpr std::array<double, travo::max_dimension> kCubeLower = cube_bound(-1.0);
constexpr std::array<double, travo::max_dimension> kCubeUpper = cube_bound(1.0);

// Writes `text` into the caller's buffer, cut short to fit, NUL-terminated.
void write_text(char *buf, std::size_t len, const std::string &text) noexcept {
    if (buf == nullptr || len == 0) return;
    const std::size_t used = std::min(text.size(), len - 1);
    std::memcpy(buf, text.data(), used);
    buf[used] = '\0';
}

// Runs an operation; an allocation failure is TRAVO_NO_MEMORY, any other
// exception (the C++ interface throws only for arguments) TRAVO_BAD_ARGUMENT.
template <class Body>
TravoStatus guarded(const Body &body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return TRAVO_NO_MEMORY;
    } catch (...) {
        return TRAVO_BAD_ARGUMENT;
    }
}

// The kind of the C++ interface; false for a value that is not a travo_kind,
// or ND when a derivative is asked.
bool to_kind(travo_kind kind, bool derivative, Kind &out) noexcept {
    switch (static_cast<int>(kind)) {
    case TRAVO_KIND_ND:
        out = Kind::ND;
        return !derivative;
    case TRAVO_KIND_D:
        out = Kind::D;
        return true;
    case TRAVO_KIND_D2:
        out = Kind::D2;
        return true;
    default:
        return false;
    }
}

// count * per, or false when that many doubles (or int64_t) could not lie in
// memory: no caller can have such an array.
bool product(std::size_t count, std::size_t per, std::size_t &out) noexcept {
    constexpr std::size_t kMaxEntries = std::numeric_limits<std::size_t>::max() / sizeof(double);
    if (per != 0 && count > kMaxEntries / per) return false;
    out = count * per;
    return true;
}

bool any_error(std::span<const double> v) noexcept {
    return std::any_of(v.begin(), v.end(), [](double e) { return e >= travo::error_value; });
}

// Checks shared by the batch forms: the handle, the arrays (NULL only for an
// empty batch) and the sizes; on success `coords` is count * dim.
TravoStatus batch_check(const travo_member *member, const void *points, const void *out1, const void *out2,
                        std::size_t count, std::size_t per_point, std::size_t &coords, std::size_t &results) {
    if (member == nullptr) return TRAVO_NULL_ARGUMENT;
    if (count != 0 && (points == nullptr || out1 == nullptr || out2 == nullptr)) return TRAVO_NULL_ARGUMENT;
    if (!product(count, member->member.dim(), coords) || !product(count, per_point, results)) {
        return TRAVO_BAD_ARGUMENT;
    }
    return TRAVO_STATUS_OK;
}

}  // namespace

extern "C" {

travo_params travo_params_default(uint32_t dim) {
    travo_params p{};
    p.dim = dim;
    try {
        // What Parameters::resolve leaves to the library; a cube's distance
        // and radius do not depend on its dimension.
        const travo::Parameters defaults = travo::Parameters::resolve({});
        p.num_minima = defaults.num_minima;
        p.global_value = defaults.global_value;
        p.distance = defaults.distance;
        p.radius = defaults.radius;
        p.test_number = defaults.test_number;
    } catch (...) {
        return p;  // no memory for two bounds: zeros and no box, which generation refuses
    }
    const bool fits = dim >= travo::min_dimension && dim <= travo::max_dimension;
    p.lower = fits ? kCubeLower.data() : nullptr;
    p.upper = fits ? kCubeUpper.data() : nullptr;
    return p;
}

const char *travo_status_name(TravoStatus status) {
    switch (static_cast<int>(status)) {
    case TRAVO_NULL_ARGUMENT:
        return "null argument";
    case TRAVO_BAD_KIND:
        return "bad kind";
    case TRAVO_BAD_ARGUMENT:
        return "bad argument";
    default:
        // Every name of the C++ interface ends in a NUL: they are literals.
        return travo::status_name(static_cast<travo::Status>(status)).data();
    }
}

const char *travo_kind_name(travo_kind kind) {
    Kind k = Kind::ND;
    return to_kind(kind, false, k) ? travo::kind_name(k).data() : nullptr;
}

TravoStatus travo_member_new(const travo_params *params, travo_member **out, char *errbuf, size_t errlen) {
    if (out != nullptr) *out = nullptr;
    if (params == nullptr || out == nullptr) {
        write_text(errbuf, errlen, params == nullptr ? "the parameters are NULL" : "the handle's address is NULL");
        return TRAVO_NULL_ARGUMENT;
    }
    try {
        travo::Parameters p;
        p.dim = params->dim;
        p.num_minima = params->num_minima;
        p.global_value = params->global_value;
        p.distance = params->distance;
        p.radius = params->radius;
        p.test_number = params->test_number;
        // The bounds are read only for a dimension the library accepts, so a
        // wrong dim never reads past the caller's arrays. Otherwise, or with
        // a NULL bound array, the box is missing, which generation reports in
        // its own order of checks.
        p.lower.clear();
        p.upper.clear();
        if (p.dim >= travo::min_dimension && p.dim <= travo::max_dimension && params->lower != nullptr &&
            params->upper != nullptr) {
            p.lower.assign(params->lower, params->lower + p.dim);
            p.upper.assign(params->upper, params->upper + p.dim);
        }
        *out = new travo_member{travo::generate(p)};
        write_text(errbuf, errlen, "");
        return TRAVO_STATUS_OK;
    } catch (const travo::Error &e) {
        write_text(errbuf, errlen, e.rule());
        return static_cast<TravoStatus>(e.status());
    } catch (const std::bad_alloc &) {
        try {
            travo::Parameters p;
            p.dim = params->dim;
            p.num_minima = params->num_minima;
            write_text(errbuf, errlen, travo::detail::rule(travo::Status::no_memory, p));
        } catch (...) {
            write_text(errbuf, errlen, "no memory");
        }
        return TRAVO_NO_MEMORY;
    } catch (const std::exception &e) {
        write_text(errbuf, errlen, e.what());
        return TRAVO_BAD_ARGUMENT;
    } catch (...) {
        write_text(errbuf, errlen, "generation failed");
        return TRAVO_BAD_ARGUMENT;
    }
}

void travo_member_free(travo_member *member) { delete member; }

uint32_t travo_member_dim(const travo_member *member) { return member ? member->member.dim() : 0; }
uint32_t travo_member_num_minima(const travo_member *member) { return member ? member->member.num_minima() : 0; }
double travo_member_delta(const travo_member *member) { return member ? member->member.delta() : 0.0; }

const double *travo_member_minimum_values(const travo_member *member) {
    return member ? member->member.minimum_values().data() : nullptr;
}

const double *travo_member_radii(const travo_member *member) {
    return member ? member->member.radii().data() : nullptr;
}

const double *travo_member_minimizer(const travo_member *member, uint32_t row) {
    if (member == nullptr || row >= member->member.num_minima()) return nullptr;
    return member->member.minimizer(row).data();  // cannot throw: the row is in the table
}

const uint32_t *travo_member_global_rows(const travo_member *member, uint32_t *count) {
    if (member == nullptr) {
        if (count != nullptr) *count = 0;
        return nullptr;
    }
    const auto rows = member->member.global_minimizers();
    if (count != nullptr) *count = static_cast<uint32_t>(rows.size());
    return rows.data();
}

TravoStatus travo_member_region(const travo_member *member, const double *x, int64_t *region) {
    if (member == nullptr || x == nullptr || region == nullptr) return TRAVO_NULL_ARGUMENT;
    return guarded([&] {
        *region = member->member.region({x, member->member.dim()});
        return TRAVO_STATUS_OK;
    });
}

TravoStatus travo_member_value(const travo_member *member, travo_kind kind, const double *x, double *value) {
    Kind k = Kind::ND;
    if (member == nullptr) return TRAVO_NULL_ARGUMENT;
    if (!to_kind(kind, false, k)) return TRAVO_BAD_KIND;
    if (x == nullptr || value == nullptr) return TRAVO_NULL_ARGUMENT;
    return guarded([&] {
        *value = member->member.value(k, {x, member->member.dim()});
        return TRAVO_STATUS_OK;
    });
}

TravoStatus travo_member_gradient(const travo_member *member, travo_kind kind, const double *x, double *g) {
    Kind k = Kind::ND;
    if (member == nullptr) return TRAVO_NULL_ARGUMENT;
    if (!to_kind(kind, true, k)) return TRAVO_BAD_KIND;
    if (x == nullptr || g == nullptr) return TRAVO_NULL_ARGUMENT;
    return guarded([&] {
        const std::size_t n = member->member.dim();
        return member->member.gradient(k, {x, n}, {g, n}) ? TRAVO_STATUS_OK : TRAVO_BAD_DERIVATIVE;
    });
}

TravoStatus travo_member_value_and_gradient(const travo_member *member, travo_kind kind, const double *x, double *value,
                                            double *g) {
    Kind k = Kind::ND;
    if (member == nullptr) return TRAVO_NULL_ARGUMENT;
    if (!to_kind(kind, true, k)) return TRAVO_BAD_KIND;
    if (x == nullptr || value == nullptr || g == nullptr) return TRAVO_NULL_ARGUMENT;
    return guarded([&] {
        const std::size_t n = member->member.dim();
        *value = member->member.value_and_gradient(k, {x, n}, {g, n});
        return any_error({g, n}) ? TRAVO_BAD_DERIVATIVE : TRAVO_STATUS_OK;
    });
}

TravoStatus travo_member_hessian(const travo_member *member, const double *x, double *h) {
    if (member == nullptr || x == nullptr || h == nullptr) return TRAVO_NULL_ARGUMENT;
    return guarded([&] {
        const std::size_t n = member->member.dim();
        return member->member.hessian({x, n}, {h, n * n}) ? TRAVO_STATUS_OK : TRAVO_BAD_DERIVATIVE;
    });
}

TravoStatus travo_member_values(const travo_member *member, travo_kind kind, const double *points, size_t count,
                                double *values, unsigned threads) {
    Kind k = Kind::ND;
    std::size_t coords = 0, results = 0;
    if (member != nullptr && !to_kind(kind, false, k)) return TRAVO_BAD_KIND;
    if (const TravoStatus s = batch_check(member, points, values, values, count, 1, coords, results)) return s;
    return guarded([&] {
        member->member.values(k, {points, coords}, {values, results}, threads);
        return TRAVO_STATUS_OK;
    });
}

TravoStatus travo_member_gradients(const travo_member *member, travo_kind kind, const double *points, size_t count,
                                   double *gradients, unsigned threads) {
    Kind k = Kind::ND;
    std::size_t coords = 0, results = 0;
    if (member != nullptr && !to_kind(kind, true, k)) return TRAVO_BAD_KIND;
    if (const TravoStatus s = batch_check(member, points, gradients, gradients, count, 1, coords, results)) return s;
    return guarded([&] {
        member->member.gradients(k, {points, coords}, {gradients, coords}, threads);
        return TRAVO_STATUS_OK;
    });
}

TravoStatus travo_member_values_and_gradients(const travo_member *member, travo_kind kind, const double *points,
                                              size_t count, double *values, double *gradients, unsigned threads) {
    Kind k = Kind::ND;
    std::size_t coords = 0, results = 0;
    if (member != nullptr && !to_kind(kind, true, k)) return TRAVO_BAD_KIND;
    if (const TravoStatus s = batch_check(member, points, values, gradients, count, 1, coords, results)) return s;
    return guarded([&] {
        member->member.values_and_gradients(k, {points, coords}, {values, results}, {gradients, coords}, threads);
        return TRAVO_STATUS_OK;
    });
}

TravoStatus travo_member_hessians(const travo_member *member, const double *points, size_t count, double *hessians,
                                  unsigned threads) {
    std::size_t coords = 0, results = 0, n = member ? member->member.dim() : 0;
    if (const TravoStatus s = batch_check(member, points, hessians, hessians, count, n * n, coords, results)) {
        return s;
    }
    return guarded([&] {
        member->member.hessians({points, coords}, {hessians, results}, threads);
        return TRAVO_STATUS_OK;
    });
}

TravoStatus travo_member_regions(const travo_member *member, const double *points, size_t count, int64_t *regions,
                                 unsigned threads) {
    std::size_t coords = 0, results = 0;
    if (const TravoStatus s = batch_check(member, points, regions, regions, count, 1, coords, results)) return s;
    return guarded([&] {
        member->member.regions({points, coords}, {regions, results}, threads);
        return TRAVO_STATUS_OK;
    });
}

}  // extern "C"
