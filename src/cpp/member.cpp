// travo::Member: accessors of the minima table and single-point evaluation.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "cpp/member_impl.hpp"
#include "travo/travo.hpp"

namespace travo {

using detail::differentiable;
using detail::expect_length;
using detail::fill_gradient;
using detail::fill_hessian;
using detail::region_of;
using detail::to_core;

void Member::moved_from() {
    throw std::logic_error("travo: this member was moved from; it may only be assigned to or destroyed");
}

std::uint32_t Member::dim() const { return impl().core.dim; }
std::uint32_t Member::num_minima() const { return impl().core.num_minima; }
const Parameters &Member::parameters() const { return impl().params; }
double Member::delta() const { return impl().core.delta; }

std::span<const double> Member::minimum_values() const { return {impl().core.minima.values, impl().core.num_minima}; }

std::span<const double> Member::radii() const { return {impl().core.minima.radii, impl().core.num_minima}; }

std::span<const double> Member::minimizer(std::size_t row) const {
    if (row >= impl().core.num_minima) {
        throw std::out_of_range("travo: minimizer row " + std::to_string(row) + " of a member with " +
                                std::to_string(impl().core.num_minima) + " rows");
    }
    return {impl().core.minima.points[row], impl().core.dim};
}

std::span<const std::uint32_t> Member::global_minimizers() const {
    return {impl().core.glob.indices, impl().core.glob.count};
}

bool Member::contains(std::span<const double> x) const {
    expect_length("the point", x.size(), dim());
    return impl().locate(x.data()).where != core::Site::Refused;
}

std::int64_t Member::region(std::span<const double> x) const {
    expect_length("the point", x.size(), dim());
    return region_of(impl().locate(x.data()));
}

double Member::value(Kind kind, std::span<const double> x) const {
    expect_length("the point", x.size(), dim());
    return core::value(to_core(kind), impl().locate(x.data()));
}

bool Member::gradient(Kind kind, std::span<const double> x, std::span<double> g) const {
    const core::Kind k = differentiable(kind);
    expect_length("the point", x.size(), dim());
    expect_length("the gradient", g.size(), dim());
    return fill_gradient(k, impl().locate(x.data()), dim(), g.data());
}

std::vector<double> Member::gradient(Kind kind, std::span<const double> x) const {
    std::vector<double> g(dim());
    gradient(kind, x, g);
    return g;
}

double Member::value_and_gradient(Kind kind, std::span<const double> x, std::span<double> g) const {
    const core::Kind k = differentiable(kind);
    expect_length("the point", x.size(), dim());
    expect_length("the gradient", g.size(), dim());
    const core::Site site = impl().locate(x.data());
    fill_gradient(k, site, dim(), g.data());
    return core::value(k, site);
}

bool Member::hessian(std::span<const double> x, std::span<double> h) const {
    expect_length("the point", x.size(), dim());
    expect_length("the Hessian", h.size(), static_cast<std::size_t>(dim()) * dim());
    return fill_hessian(impl().locate(x.data()), dim(), h.data());
}

std::vector<double> Member::hessian(std::span<const double> x) const {
    std::vector<double> h(static_cast<std::size_t>(dim()) * dim());
    hessian(x, h);
    return h;
}

}  // namespace travo
