// travo locate: for each point, the attraction region that holds it, the
// distance to that region's minimizer, and whether the point counts as a
// global minimizer (travo::SolvedRule: within a distance of one, or by the
// box rule): what is asked of an optimiser's answer.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.hpp"
#include "output.hpp"
#include "work.hpp"

namespace travo::cli {

void run_locate(const MemberOptions &member, const LocateOptions &opts) {
    const std::string &format = opts.format;  // csv or json (checked by the parser)
    const double tol = parse_real(opts.tolerance, "--tolerance");
    if (!(tol >= 0)) throw UsageError("--tolerance: must not be negative (it is " + number(tol) + ")");
    const bool box = !opts.accuracy.empty();
    const double accuracy = box ? parse_real(opts.accuracy, "--accuracy") : 0.0;
    if (box && !(accuracy > 0 && accuracy < 1))
        throw UsageError("--accuracy: must lie between 0 and 1, both excluded (it is " + number(accuracy) + ")");
    const unsigned threads = thread_count(opts.threads);
    member.parameters();  // a bad option is told before the output is looked at
    Output out(opts.output);
    const Member f = member.generate();
    const std::uint32_t n = f.dim();

    // Plain references, not a structured binding: the lambdas below capture
    // the coordinates, and clang 14 refuses to capture a binding.
    const Points points = read_points(opts.input, n);
    const std::string &source = points.source;
    const std::vector<double> &coords = points.coords;
    const std::size_t count = coords.size() / n;
    std::vector<std::int64_t> rows(count);
    std::vector<double> dist(count);
    run_chunks(count, 4096, threads, "travo locate: locating", [&](std::size_t begin, std::size_t end) {
        f.regions(std::span<const double>(coords.data() + begin * n, (end - begin) * n),
                  std::span<std::int64_t>(rows.data() + begin, end - begin), 1);
        for (std::size_t p = begin; p < end; p++) {
            if (rows[p] < 0) continue;
            const auto c = f.minimizer(static_cast<std::size_t>(rows[p]));
            double s = 0.0;
            for (std::uint32_t k = 0; k < n; k++) s += (coords[p * n + k] - c[k]) * (coords[p * n + k] - c[k]);
            dist[p] = std::sqrt(s);
        }
    });
    const SolvedRule solved = box ? SolvedRule::box(f, accuracy) : SolvedRule::distance(f, tol);
    auto is_global = [&](std::size_t p) { return solved(std::span(coords.data() + p * n, n)); };
    const std::string rule = box ? "by the box rule with accuracy " + number(accuracy)
                                 : "within the tolerance " + number(tol) + " of one";
    auto where = [&](std::size_t p) {
        return rows[p] >= 0                                      ? std::to_string(rows[p])
               : f.contains(std::span(coords.data() + p * n, n)) ? "none"
                                                                 : "outside";
    };

    std::string text;
    if (format == "csv") {
        if (!opts.no_header) {
            text += csv_record("locate", f.parameters());
            text +=
                "# region: row of the minima table whose region holds the point, none (on the paraboloid) or "
                "outside (the box); distance: to that row's minimizer; global: yes when the point counts as a "
                "global minimizer, " +
                rule + "\n";
            for (std::uint32_t c = 1; c <= n; c++) text += "x" + std::to_string(c) + ",";
            text += "region,distance,global\n";
        }
        for (std::size_t p = 0; p < count; p++) {
            for (std::uint32_t c = 0; c < n; c++) text += number(coords[p * n + c]) + ",";
            text += where(p) + "," + (rows[p] >= 0 ? number(dist[p]) : "") + "," + (is_global(p) ? "yes" : "no") + "\n";
        }
    } else {
        text = "{" + json_record("locate", f.parameters()) + (box ? ",\"accuracy\":" : ",\"tolerance\":");
        json_number(text, box ? accuracy : tol);
        text += ",\"results\":[";
        for (std::size_t p = 0; p < count; p++) {
            text += p > 0 ? ",{\"x\":" : "{\"x\":";
            json_array(text, std::span<const double>(coords.data() + p * n, n));
            text += ",\"region\":" + (rows[p] >= 0 ? where(p) : "\"" + where(p) + "\"") + ",\"distance\":";
            if (rows[p] >= 0) {
                json_number(text, dist[p]);
            } else {
                text += "null";
            }
            text += std::string(",\"global\":") + (is_global(p) ? "true" : "false") + "}";
        }
        text += "]}\n";
    }
    out.write(text);
    out.commit();
    if (count == 0) std::fprintf(stderr, "travo: warning: no point was read from %s\n", source.c_str());
}

}  // namespace travo::cli
