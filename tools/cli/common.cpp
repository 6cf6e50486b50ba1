#include "common.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>

#include "work.hpp"

namespace travo::cli {
namespace {

bool given(const CLI::Option *opt) { return opt != nullptr && opt->count() > 0; }

}  // namespace

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string excerpt(std::string_view text) {
    constexpr std::size_t kShown = 40;
    if (text.size() <= kShown) return "'" + std::string(text) + "'";
    return "'" + std::string(text.substr(0, kShown)) + "...' (" + std::to_string(text.size()) + " characters)";
}

std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

NumberRead read_real(std::string_view text, double &v) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || res.ptr != text.data() + text.size() || res.ec == std::errc::invalid_argument) {
        return NumberRead::not_a_number;
    }
    if (res.ec == std::errc::result_out_of_range) return NumberRead::out_of_range;
    return std::isfinite(v) ? NumberRead::ok : NumberRead::not_finite;
}

double parse_real(std::string_view text, std::string_view what) {
    double v = 0.0;
    switch (read_real(trim(text), v)) {
    case NumberRead::ok:
        return v;
    case NumberRead::out_of_range:
        throw UsageError(std::string(what) + ": " + excerpt(text) + " is out of range");
    case NumberRead::not_finite:
        throw UsageError(std::string(what) + ": " + excerpt(text) + " is not a finite number");
    case NumberRead::not_a_number:
        break;
    }
    throw UsageError(std::string(what) + ": " + excerpt(text) + " is not a number");
}

std::int64_t parse_integer(std::string_view text, std::string_view what) {
    const std::string_view t = trim(text);
    std::string_view body = t;
    if (!body.empty() && body.front() == '+') body.remove_prefix(1);
    std::int64_t v = 0;
    const auto res = std::from_chars(body.data(), body.data() + body.size(), v);
    if (!body.empty() && res.ptr == body.data() + body.size()) {
        if (res.ec == std::errc::result_out_of_range) {
            throw UsageError(std::string(what) + ": " + excerpt(text) + " is out of range");
        }
        if (res.ec == std::errc()) return v;
    }
    // A whole number written as a real, such as 1e5.
    double d = 0.0;
    const NumberRead r = read_real(t, d);
    if (r == NumberRead::ok && d == std::floor(d)) {
        if (std::fabs(d) >= 0x1p63) throw UsageError(std::string(what) + ": " + excerpt(text) + " is out of range");
        return static_cast<std::int64_t>(d);
    }
    if (r == NumberRead::out_of_range) throw UsageError(std::string(what) + ": " + excerpt(text) + " is out of range");
    throw UsageError(std::string(what) + ": " + excerpt(text) + " is not a whole number");
}

std::int64_t parse_count(std::string_view text, std::string_view what, std::int64_t lo, std::int64_t hi,
                         std::string_view rule) {
    std::int64_t v = 0;
    try {
        v = parse_integer(text, what);
    } catch (const UsageError &) {
        // Too large for 64 bits is still outside the range: say the rule.
        double d = 0.0;
        const NumberRead r = read_real(trim(text), d);
        if (!(r == NumberRead::out_of_range || (r == NumberRead::ok && d == std::floor(d)))) throw;
        const std::string shown = excerpt(trim(text));
        throw UsageError(std::string(what) + ": " + std::string(rule) + " (it is " + shown.substr(1, shown.size() - 2) +
                         ")");
    }
    if (v < lo || v > hi) {
        throw UsageError(std::string(what) + ": " + std::string(rule) + " (it is " + std::to_string(v) + ")");
    }
    return v;
}

std::vector<double> parse_reals(std::string_view text, std::string_view what) {
    std::vector<double> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        out.push_back(
            parse_real(text.substr(start, comma == std::string_view::npos ? text.npos : comma - start), what));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return out;
}

std::string number(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::string read_input(const std::string &path, const std::string &source) {
    std::FILE *in = stdin;
    if (!path.empty() && path != "-") {
        in = std::fopen(path.c_str(), "rb");
        if (in == nullptr) throw DataError("cannot open " + path + ": " + std::strerror(errno));
    }
    struct Closer {
        std::FILE *f;
        ~Closer() {
            if (f != stdin) std::fclose(f);
        }
    } closer{in};
    // Reads in blocks, counting the length of the current line (ended by
    // LF, CR or CR LF), so that endless input without line ends (a device
    // such as /dev/zero) stops at the cap instead of filling the memory.
    std::string content;
    char buf[1 << 16];
    std::size_t line = 1, length = 0;
    char prev = 0;
    while (true) {
        const std::size_t k = std::fread(buf, 1, sizeof buf, in);
        for (std::size_t i = 0; i < k; i++) {
            const char c = buf[i];
            if (c == '\n' || c == '\r') {
                if (!(c == '\n' && prev == '\r')) line++;
                length = 0;
            } else if (++length > kMaxLineLength) {
                throw DataError(source + ":" + std::to_string(line) + ": the line is longer than " +
                                std::to_string(kMaxLineLength) + " bytes");
            }
            prev = c;
        }
        content.append(buf, k);
        if (k < sizeof buf) break;
    }
    if (std::ferror(in))
        throw DataError(path.empty() || path == "-" ? "cannot read standard input" : "cannot read " + path);
    return content;
}

Kind kind_of(const std::string &name) {
    const std::optional<Kind> kind = parse_kind(name);
    if (!kind) throw UsageError("--kind: " + excerpt(name) + " is not one of ND, D, D2");
    return *kind;
}

void MemberOptions::add_to(CLI::App &app) {
    const char *group = "Member";
    dim_opt_ = app.add_option("--dim", dim_, "Dimension, 2 to 1008 [2, or the number of --box ranges]")
                   ->type_name("N")
                   ->group(group);
    minima_opt_ = app.add_option("--minima", minima_,
                                 "Number of minima, the paraboloid vertex counted, at least 2 [10]")
                      ->type_name("M")
                      ->group(group);
    global_value_opt_ = app.add_option("--global-value", global_value_, "Global minimum value, below -1e-10 [-1]")
                            ->type_name("VALUE")
                            ->group(group);
    distance_opt_ = app.add_option("--distance", distance_,
                                   "Distance from the paraboloid vertex to the global minimizer, between 1e-10 and "
                                   "half the shortest box side [shortest side / 3]")
                        ->type_name("D")
                        ->group(group);
    radius_opt_ = app.add_option("--radius", radius_,
                                 "Radius of the global minimizer's region, between 1e-10 and half the distance "
                                 "[half the distance]")
                      ->type_name("R")
                      ->group(group);
    test_opt_ = app.add_option("--test", test_, "Test number, 1 to 100 [1]")->type_name("T")->group(group);
    box_opt_ = app.add_option("--box", box_,
                              "Box: LO,HI for every coordinate, or LO1,HI1,...,LOn,HIn, one range per "
                              "coordinate [-1,1]")
                   ->type_name("LO,HI,...")
                   ->group(group);
}

Parameters MemberOptions::parameters() const {
    Parameters::Given chosen;
    std::int64_t dim = 2;
    if (given(dim_opt_)) {
        dim = parse_count(dim_, "--dim", min_dimension, max_dimension, "the dimension must lie from 2 to 1008");
        chosen.dim = static_cast<std::uint32_t>(dim);
    }
    if (given(box_opt_)) {
        const std::vector<double> v = parse_reals(box_, "--box");
        const std::size_t ranges = v.size() / 2;
        if (v.size() % 2 != 0) {
            throw UsageError("--box: needs LO,HI pairs, one for every coordinate or a single one for all (it has " +
                             std::to_string(v.size()) + " numbers)");
        }
        if (ranges > 1 && given(dim_opt_) && static_cast<std::int64_t>(ranges) != dim) {
            throw UsageError("--box: has " + std::to_string(ranges) + " ranges but --dim is " + std::to_string(dim) +
                             "; give one LO,HI for all coordinates or one per coordinate");
        }
        if (ranges > max_dimension) {
            throw UsageError("--box: the dimension must lie from 2 to 1008 (it has " + std::to_string(ranges) +
                             " ranges)");
        }
        chosen.lower.emplace();
        chosen.upper.emplace();
        for (std::size_t i = 0; i < ranges; i++) {
            if (!std::isfinite(v[2 * i + 1] - v[2 * i])) {
                throw UsageError("--box: in coordinate " + std::to_string(i + 1) + " the side from " +
                                 number(v[2 * i]) + " to " + number(v[2 * i + 1]) +
                                 " is too long for double arithmetic");
            }
            chosen.lower->push_back(v[2 * i]);
            chosen.upper->push_back(v[2 * i + 1]);
        }
    }
    if (given(minima_opt_)) {
        chosen.num_minima = static_cast<std::uint32_t>(
            parse_count(minima_, "--minima", 2, std::numeric_limits<std::uint32_t>::max(),
                        "the number of minima must lie from 2 to 4294967295"));
    }
    if (given(test_opt_)) {
        chosen.test_number = static_cast<std::int32_t>(
            parse_count(test_, "--test", 1, 100, "the test number must lie from 1 to 100"));
    }
    if (given(global_value_opt_)) chosen.global_value = parse_real(global_value_, "--global-value");
    if (given(distance_opt_)) chosen.distance = parse_real(distance_, "--distance");
    if (given(radius_opt_)) chosen.radius = parse_real(radius_, "--radius");
    return Parameters::resolve(chosen);
}

Member MemberOptions::generate() const {
    const Parameters p = parameters();
    try {
        return generate_with_progress(p);
    } catch (const Error &e) {
        std::string option;
        switch (e.status()) {
        case Status::bad_dimension:
            option = "--dim";
            break;
        case Status::bad_minima_count:
            option = "--minima";
            break;
        case Status::bad_test_number:
            option = "--test";
            break;
        case Status::bad_domain:
        case Status::parabola_coincidence:
        case Status::minima_coincidence:
            option = "--box";
            break;
        case Status::bad_global_value:
        case Status::no_global_minimum:
            option = "--global-value";
            break;
        case Status::bad_global_distance:
            option = given(distance_opt_) ? "--distance" : "--distance (taken from --box)";
            break;
        case Status::bad_global_radius:
            option = given(radius_opt_) ? "--radius" : "--radius (half the distance)";
            break;
        case Status::no_memory:
            option = "--minima";
            break;
        default:
            option = "parameters";
            break;
        }
        throw UsageError(option + ": " + e.rule());
    }
}

std::string describe(const Parameters &p) {
    const bool cube = std::all_of(p.lower.begin(), p.lower.end(), [&](double v) { return v == p.lower[0]; }) &&
                      std::all_of(p.upper.begin(), p.upper.end(), [&](double v) { return v == p.upper[0]; });
    std::string box;
    for (std::size_t c = 0; c < (cube ? 1 : p.lower.size()); c++) {
        box += (c > 0 ? "," : "") + number(p.lower[c]) + "," + number(p.upper[c]);
    }
    return "--dim " + std::to_string(p.dim) + " --minima " + std::to_string(p.num_minima) + " --global-value " +
           number(p.global_value) + " --distance " + number(p.distance) + " --radius " + number(p.radius) + " --test " +
           std::to_string(p.test_number) + " --box " + box;
}

void json_number(std::string &out, double v) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

void json_array(std::string &out, std::span<const double> v) {
    out += '[';
    for (std::size_t i = 0; i < v.size(); i++) {
        if (i > 0) out += ',';
        json_number(out, v[i]);
    }
    out += ']';
}

std::string json_record(const char *command, const Parameters &p) {
    // The version text holds only digits, dots and letters: no escaping.
    std::string s = "\"travo\":\"" + std::string(version()) + "\",\"command\":\"" + command +
                    "\",\"parameters\":{\"dim\":" + std::to_string(p.dim) +
                    ",\"minima\":" + std::to_string(p.num_minima) + ",\"global_value\":";
    json_number(s, p.global_value);
    s += ",\"distance\":";
    json_number(s, p.distance);
    s += ",\"radius\":";
    json_number(s, p.radius);
    s += ",\"box\":{\"lower\":";
    json_array(s, p.lower);
    s += ",\"upper\":";
    json_array(s, p.upper);
    s += "},\"test\":" + std::to_string(p.test_number) + "}";
    return s;
}

unsigned thread_count(const std::string &text) {
    const std::int64_t requested = parse_count(text, "--threads", 0, 256, "must lie from 0 (one per core) to 256");
    if (requested > 0) return static_cast<unsigned>(requested);
    const unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : hw;
}

}  // namespace travo::cli
