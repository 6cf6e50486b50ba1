// travo eval: values, gradients and Hessians at points read as CSV.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "commands.hpp"
#include "output.hpp"
#include "work.hpp"

namespace travo::cli {
namespace {

// Fields of one line: comma-separated, or separated by blanks when the line
// has no comma.
std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    if (line.find(',') != std::string_view::npos) {
        std::size_t start = 0;
        while (true) {
            const std::size_t comma = line.find(',', start);
            out.push_back(trim(line.substr(start, comma == line.npos ? line.npos : comma - start)));
            if (comma == line.npos) break;
            start = comma + 1;
        }
        return out;
    }
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) i++;
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) i++;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

void append(std::string &out, double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

}  // namespace

std::vector<double> parse_points(const std::string &text, std::uint32_t n, const std::string &source) {
    std::vector<double> coords;
    std::size_t line_no = 0, pos = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    bool first = true;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        const std::string_view line = trim(std::string_view(text).substr(pos, end - pos));
        pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        line_no++;
        if (line.empty() || line.front() == '#') continue;
        const auto f = fields(line);
        std::vector<double> x(f.size());
        std::vector<NumberRead> how(f.size());
        bool any_number = false;
        for (std::size_t i = 0; i < f.size(); i++) {
            how[i] = read_real(f[i], x[i]);
            any_number = any_number || how[i] != NumberRead::not_a_number;
        }
        const bool header = first && !any_number;
        first = false;
        if (header) continue;
        const std::string where = source + ":" + std::to_string(line_no) + ": ";
        // Fields that are no number first, then numbers that are not finite.
        for (const bool finite_pass : {false, true}) {
            for (std::size_t i = 0; i < f.size(); i++) {
                static constexpr const char *kWhy[] = {"", "is not a number", "is out of range",
                                                       "is not a finite number"};
                if (how[i] != NumberRead::ok && (how[i] == NumberRead::not_finite) == finite_pass) {
                    throw DataError(where + "field " + std::to_string(i + 1) + " " + excerpt(f[i]) + " " +
                                    kWhy[static_cast<int>(how[i])]);
                }
            }
        }
        if (x.size() != n) {
            throw DataError(where + "the point has " + std::to_string(x.size()) +
                            (x.size() == 1 ? " coordinate" : " coordinates") + " but the member has dimension " +
                            std::to_string(n) + " (set --dim or --box)");
        }
        coords.insert(coords.end(), x.begin(), x.end());
    }
    return coords;
}

Points read_points(const std::string &input, std::uint32_t n) {
    Points p;
    p.source = input.empty() || input == "-" ? "standard input" : input;
    p.coords = parse_points(read_input(input, p.source), n, p.source);
    return p;
}

std::string csv_record(const char *command, const Parameters &p) {
    return "# travo " + std::string(version()) + " " + command + "\n# member: " + describe(p) + "\n";
}

void run_eval(const MemberOptions &member, const EvalOptions &opts) {
    const Kind kind = kind_of(opts.kind);
    const std::string &format = opts.format;  // csv or json (checked by the parser)
    if (opts.gradient && kind == Kind::ND) {
        throw UsageError("--gradient: the ND kind has no gradient; use --kind D or --kind D2");
    }
    if (opts.hessian && kind != Kind::D2) {
        throw UsageError("--hessian: only the D2 kind has a Hessian (--kind is " + std::string(kind_name(kind)) + ")");
    }
    const unsigned threads = thread_count(opts.threads);
    member.parameters();  // a bad option is told before the output is looked at
    Output out(opts.output);
    const Member f = member.generate();
    const std::uint32_t n = f.dim();

    // Plain references, not a structured binding: the lambda below captures
    // the coordinates, and clang 14 refuses to capture a binding.
    const Points points = read_points(opts.input, n);
    const std::string &source = points.source;
    const std::vector<double> &coords = points.coords;
    const std::size_t count = coords.size() / n;
    const std::size_t nn = static_cast<std::size_t>(n) * n;

    // The tool's threads share the points; each evaluates its chunk on its
    // own (threads = 1), so that no thread starts threads of its own.
    std::vector<double> values(count), grads(opts.gradient ? count * n : 0), hess(opts.hessian ? count * nn : 0);
    run_chunks(count, 4096, threads, "travo eval: evaluating", [&](std::size_t begin, std::size_t end) {
        const std::span<const double> pts(coords.data() + begin * n, (end - begin) * n);
        const std::span<double> v(values.data() + begin, end - begin);
        if (opts.gradient) {
            f.values_and_gradients(kind, pts, v, std::span<double>(grads.data() + begin * n, (end - begin) * n), 1);
        } else {
            f.values(kind, pts, v, 1);
        }
        if (opts.hessian) f.hessians(pts, std::span<double>(hess.data() + begin * nn, (end - begin) * nn), 1);
    });

    std::size_t outside = 0, not_finite = 0;
    for (double v : values) {
        outside += v >= error_value;
        not_finite += !std::isfinite(v);
    }

    std::string text;
    if (format == "csv") {
        if (!opts.no_header) {
            text += csv_record("eval", f.parameters());
            text += "# kind " + std::string(kind_name(kind)) + "\n";
            for (std::uint32_t c = 1; c <= n; c++) text += "x" + std::to_string(c) + ",";
            text += "value";
            if (opts.gradient) {
                for (std::uint32_t c = 1; c <= n; c++) text += ",g" + std::to_string(c);
            }
            if (opts.hessian) {
                for (std::uint32_t i = 1; i <= n; i++) {
                    for (std::uint32_t j = 1; j <= n; j++) text += ",h" + std::to_string(i) + "_" + std::to_string(j);
                }
            }
            text += "\n";
        }
        for (std::size_t p = 0; p < count; p++) {
            for (std::uint32_t c = 0; c < n; c++) {
                append(text, coords[p * n + c]);
                text += ',';
            }
            append(text, values[p]);
            for (std::size_t c = 0; opts.gradient && c < n; c++) {
                text += ',';
                append(text, grads[p * n + c]);
            }
            for (std::size_t c = 0; opts.hessian && c < nn; c++) {
                text += ',';
                append(text, hess[p * nn + c]);
            }
            text += '\n';
        }
    } else {
        // One compact JSON document, written directly: no document tree, so
        // that a result too large for the memory ends as "out of memory".
        text = "{" + json_record("eval", f.parameters()) + ",\"kind\":\"" + std::string(kind_name(kind)) +
               "\",\"dim\":" + std::to_string(n) + ",\"results\":[";
        for (std::size_t p = 0; p < count; p++) {
            text += p > 0 ? ",{\"x\":" : "{\"x\":";
            json_array(text, std::span<const double>(coords.data() + p * n, n));
            text += ",\"value\":";
            json_number(text, values[p]);
            if (opts.gradient) {
                text += ",\"gradient\":";
                json_array(text, std::span<const double>(grads.data() + p * n, n));
            }
            if (opts.hessian) {
                text += ",\"hessian\":[";
                for (std::uint32_t i = 0; i < n; i++) {
                    if (i > 0) text += ',';
                    json_array(text, std::span<const double>(hess.data() + p * nn + i * n, n));
                }
                text += ']';
            }
            text += '}';
        }
        text += "]}\n";
    }
    out.write(text);
    out.commit();
    if (count == 0) std::fprintf(stderr, "travo: warning: no point was read from %s\n", source.c_str());
    if (outside > 0) {
        std::fprintf(stderr, "travo: warning: %zu of %zu points lie outside the box; their results are 1e+100\n",
                     outside, count);
    }
    if (not_finite > 0) {
        std::fprintf(stderr,
                     "travo: warning: %zu of %zu values are not finite numbers: the parameters overflow double "
                     "arithmetic there\n",
                     not_finite, count);
    }
}

}  // namespace travo::cli
