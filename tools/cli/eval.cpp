// travo eval: values, gradients and Hessians at points read as CSV.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "commands.hpp"
#include "work.hpp"

namespace travo::cli {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

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

bool read_number(std::string_view field, double &v) {
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    const auto res = std::from_chars(field.data(), field.data() + field.size(), v);
    return !field.empty() && res.ec == std::errc() && res.ptr == field.data() + field.size();
}

// Points of `text`, one a line, `n` coordinates each, one after another.
// Blank lines and lines starting with '#' are skipped, and so is a first
// line in which no field is a number (a header).
std::vector<double> parse_points(const std::string &text, std::uint32_t n, const std::string &source) {
    std::vector<double> coords;
    std::size_t line_no = 0, pos = 0;
    bool first = true;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = trim(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        line_no++;
        if (line.empty() || line.front() == '#') continue;
        const auto f = fields(line);
        const std::string where = source + ":" + std::to_string(line_no) + ": ";
        std::vector<double> x;
        bool any_number = false;
        std::size_t bad = f.size();
        for (std::size_t i = 0; i < f.size(); i++) {
            double v = 0.0;
            if (read_number(f[i], v)) {
                any_number = true;
                x.push_back(v);
            } else if (bad == f.size()) {
                bad = i;
            }
        }
        const bool header = first && !any_number;
        first = false;
        if (header) continue;
        if (bad != f.size()) {
            throw DataError(where + "field " + std::to_string(bad + 1) + " '" + std::string(f[bad]) +
                            "' is not a number");
        }
        for (std::size_t i = 0; i < x.size(); i++) {
            if (!std::isfinite(x[i])) {
                throw DataError(where + "field " + std::to_string(i + 1) + " '" + std::string(f[i]) +
                                "' is not a finite number");
            }
        }
        if (x.size() != n) {
            throw DataError(where + "the point has " + std::to_string(x.size()) +
                            " coordinates but the member has dimension " + std::to_string(n) +
                            " (set --dim or --box)");
        }
        coords.insert(coords.end(), x.begin(), x.end());
    }
    return coords;
}

void append(std::string &out, double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

}  // namespace

void run_eval(const MemberOptions &member, const EvalOptions &opts) {
    const Kind kind = parse_kind(opts.kind);
    if (opts.format != "csv" && opts.format != "json") {
        throw UsageError("--format: '" + opts.format + "' is not one of csv, json");
    }
    if (opts.gradient && kind == Kind::ND) {
        throw UsageError("--gradient: the nd kind has no gradient; use --kind d or --kind d2");
    }
    if (opts.hessian && kind != Kind::D2) {
        throw UsageError(std::string("--hessian: only the d2 kind has a Hessian (--kind is ") + kind_name(kind) + ")");
    }
    const unsigned threads = thread_count(opts.threads);
    const Member f = member.generate();
    const std::uint32_t n = f.dim();

    const std::string source = opts.input.empty() || opts.input == "-" ? "standard input" : opts.input;
    const std::vector<double> coords = parse_points(read_input(opts.input), n, source);
    const std::size_t count = coords.size() / n;
    const std::size_t nn = static_cast<std::size_t>(n) * n;

    std::vector<double> values(count), grads(opts.gradient ? count * n : 0), hess(opts.hessian ? count * nn : 0);
    run_chunks(count, 4096, threads, "travo eval: evaluating", [&](std::size_t begin, std::size_t end) {
        const std::span<const double> pts(coords.data() + begin * n, (end - begin) * n);
        const std::span<double> v(values.data() + begin, end - begin);
        if (opts.gradient) {
            f.values_and_gradients(kind, pts, v, std::span<double>(grads.data() + begin * n, (end - begin) * n));
        } else {
            f.values(kind, pts, v);
        }
        if (opts.hessian) f.hessians(pts, std::span<double>(hess.data() + begin * nn, (end - begin) * nn));
    });

    std::size_t outside = 0, not_finite = 0;
    for (double v : values) {
        outside += v >= error_value;
        not_finite += !std::isfinite(v);
    }

    std::string text;
    if (opts.format == "csv") {
        if (!opts.no_header) {
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
        nlohmann::ordered_json j;
        j["kind"] = kind_name(kind);
        j["dim"] = n;
        auto &results = j["results"] = nlohmann::ordered_json::array();
        for (std::size_t p = 0; p < count; p++) {
            nlohmann::ordered_json r;
            r["x"] = std::vector<double>(coords.begin() + p * n, coords.begin() + (p + 1) * n);
            r["value"] = values[p];
            if (opts.gradient) r["gradient"] = std::vector<double>(grads.begin() + p * n, grads.begin() + (p + 1) * n);
            if (opts.hessian) {
                auto &h = r["hessian"] = nlohmann::ordered_json::array();
                for (std::uint32_t i = 0; i < n; i++) {
                    const auto row = hess.begin() + p * nn + i * n;
                    h.push_back(std::vector<double>(row, row + n));
                }
            }
            results.push_back(std::move(r));
        }
        text = j.dump(2) + "\n";
    }
    write_output(opts.output, text);
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
