// travo::generate: a core member generated from the parameters, behind an
// immutable, shared handle.
#include <memory>

#include "cpp/member_impl.hpp"
#include "cpp/rules.hpp"
#include "random/lagfib.hpp"
#include "travo/travo.hpp"
#include "travo/version.h"

namespace travo {

namespace {

// Releases the tables of a generation that did not complete.
struct TablesGuard {
    core::Member *mb;
    ~TablesGuard() {
        if (mb != nullptr) core::free_tables(*mb);
    }
};

}  // namespace

Member generate(const Parameters &params) {
    auto impl = std::make_shared<Member::Impl>();
    impl->params = params;
    Parameters &p = impl->params;

    core::Member &mb = impl->core;
    mb.dim = p.dim;
    mb.num_minima = p.num_minima;
    // A box of the wrong length is a missing box to the core, which reports
    // it in its own order, after the test number, dimension and minima count.
    if (p.lower.size() == p.dim && p.upper.size() == p.dim) {
        mb.domain_left = p.lower.data();
        mb.domain_right = p.upper.data();
    }
    mb.global_dist = p.distance;
    mb.global_radius = p.radius;
    mb.global_value = p.global_value;

    TablesGuard guard{&mb};
    const auto rng = std::make_unique<core::RandomSource>();
    const TravoStatus status = core::arg_generate(mb, *rng, p.test_number);
    if (status != TRAVO_STATUS_OK) {
        const auto st = static_cast<Status>(status);
        throw Error(st, detail::rule(st, p));
    }
    guard.mb = nullptr;
    impl->index = core::RegionIndex(mb);
    impl->batch = core::BatchEvaluator(impl->core, &impl->index);
    return Member(std::move(impl));
}

std::string_view version() noexcept { return TRAVO_VERSION_STRING; }

}  // namespace travo
