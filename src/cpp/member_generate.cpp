// travo::generate: a core member generated from the parameters, behind an
// immutable, shared handle.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <thread>

#include "cpp/member_impl.hpp"
#include "cpp/rules.hpp"
#include "generator/fast_paths.hpp"
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

bool report_fraction(void *context, std::uint64_t done, std::uint64_t total) {
    const auto &progress = *static_cast<const GenerationProgress *>(context);
    return progress(total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total));
}

// The progress function, asked during the build of the region index, when
// the tables are complete.
bool report_done(void *context) { return (*static_cast<const GenerationProgress *>(context))(1.0); }

}  // namespace

GenerationAbandoned::GenerationAbandoned()
    : std::runtime_error("travo: generation abandoned by its progress function") {}

BatchAbandoned::BatchAbandoned() : std::runtime_error("travo: batch abandoned by its progress function") {}

Member generate(const Parameters &params) { return generate(params, GenerationProgress()); }

Member generate(const Parameters &params, const GenerationProgress &progress) { return generate(params, progress, 0); }

Member generate(const Parameters &params, const GenerationProgress &progress, unsigned threads) try {
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
    const core::Progress report{report_fraction, const_cast<GenerationProgress *>(&progress)};
    core::Execution execution;
    const unsigned hardware = std::thread::hardware_concurrency();
    execution.threads = threads != 0 && hardware != 0 ? std::min(threads, hardware) : threads;
    const TravoStatus status = core::arg_generate(mb, *rng, p.test_number, core::Path::Automatic,
                                                  progress ? &report : nullptr, execution);
    if (status == core::kAbandoned) throw GenerationAbandoned();
    if (status != TRAVO_STATUS_OK) {
        const auto st = static_cast<Status>(status);
        throw Error(st, detail::rule(st, p));
    }
    guard.mb = nullptr;  // the tables are the member's now, released with it
    const core::StopCheck stop{progress ? report_done : nullptr, const_cast<GenerationProgress *>(&progress)};
    impl->index = core::RegionIndex(mb, core::RegionIndex::Layout::Chosen, stop);
    if (impl->index.abandoned()) throw GenerationAbandoned();
    impl->batch = core::BatchEvaluator(impl->core, &impl->index, std::nullopt, core::NanPoints::Refused);
    return Member(std::move(impl));
} catch (const std::bad_alloc &) {
    throw Error(Status::no_memory, detail::rule(Status::no_memory, params));
}

std::string_view version() noexcept { return TRAVO_VERSION_STRING; }

}  // namespace travo
