#include "common.hpp"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <sstream>
#include <thread>

#include "work.hpp"

namespace travo::cli {
namespace {

std::string single_quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool given(const CLI::Option *opt) { return opt != nullptr && opt->count() > 0; }

}  // namespace

double parse_real(std::string_view text, std::string_view what) {
    const std::string_view t = trim(text);
    std::string_view body = t;
    if (!body.empty() && body.front() == '+') body.remove_prefix(1);
    double v = 0.0;
    const auto res = std::from_chars(body.data(), body.data() + body.size(), v);
    if (body.empty() || res.ec == std::errc::invalid_argument || res.ptr != body.data() + body.size()) {
        throw UsageError(std::string(what) + ": " + single_quoted(text) + " is not a number");
    }
    if (res.ec == std::errc::result_out_of_range || !std::isfinite(v)) {
        throw UsageError(std::string(what) + ": " + single_quoted(text) + " is not a finite number");
    }
    return v;
}

std::int64_t parse_integer(std::string_view text, std::string_view what) {
    const std::string_view t = trim(text);
    std::string_view body = t;
    if (!body.empty() && body.front() == '+') body.remove_prefix(1);
    std::int64_t v = 0;
    const auto res = std::from_chars(body.data(), body.data() + body.size(), v);
    if (body.empty() || res.ec == std::errc::invalid_argument || res.ptr != body.data() + body.size()) {
        throw UsageError(std::string(what) + ": " + single_quoted(text) + " is not a whole number");
    }
    if (res.ec == std::errc::result_out_of_range) {
        throw UsageError(std::string(what) + ": " + single_quoted(text) + " is out of range");
    }
    return v;
}

std::vector<double> parse_reals(std::string_view text, std::string_view what) {
    std::vector<double> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        out.push_back(parse_real(text.substr(start, comma == std::string_view::npos ? text.npos : comma - start), what));
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

void write_output(const std::string &path, const std::string &content) {
    if (path.empty() || path == "-") {
        std::cout.write(content.data(), static_cast<std::streamsize>(content.size()));
        std::cout.flush();
        if (!std::cout) throw DataError("cannot write to standard output");
        return;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw DataError("cannot open " + path + " for writing: " + std::strerror(errno));
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) throw DataError("cannot write " + path);
}

std::string read_input(const std::string &path) {
    if (path.empty() || path == "-") {
        std::ostringstream ss;
        ss << std::cin.rdbuf();
        if (std::cin.bad()) throw DataError("cannot read standard input");
        return ss.str();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw DataError("cannot open " + path + ": " + std::strerror(errno));
    // A folder opens but cannot be read: the stream reports it by throwing.
    try {
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.bad()) return content;
    } catch (const std::exception &) {
    }
    throw DataError("cannot read " + path);
}

Kind parse_kind(const std::string &name) {
    if (name == "nd") return Kind::ND;
    if (name == "d") return Kind::D;
    if (name == "d2") return Kind::D2;
    throw UsageError("--kind: " + single_quoted(name) + " is not one of nd, d, d2");
}

const char *kind_name(Kind kind) {
    switch (kind) {
    case Kind::ND: return "nd";
    case Kind::D: return "d";
    case Kind::D2: return "d2";
    }
    return "?";
}

void MemberOptions::add_to(CLI::App &app) {
    const char *group = "Member";
    dim_opt_ = app.add_option("--dim", dim_, "Dimension, 2 to 1008 [2, or the number of --box ranges]")
                   ->type_name("N")
                   ->group(group);
    minima_opt_ = app.add_option("--minima", minima_, "Number of minima, the paraboloid vertex counted, at least 2 [10]")
                      ->type_name("M")
                      ->group(group);
    global_value_opt_ =
        app.add_option("--global-value", global_value_, "Global minimum value, below -1e-10 [-1]")
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
    Parameters p;
    std::int64_t dim = 2;
    if (given(dim_opt_)) {
        dim = parse_integer(dim_, "--dim");
        if (dim < min_dimension || dim > max_dimension) {
            throw UsageError("--dim: the dimension must lie from 2 to 1008 (it is " + std::to_string(dim) + ")");
        }
    }
    std::vector<double> lower, upper;
    if (given(box_opt_)) {
        const std::vector<double> v = parse_reals(box_, "--box");
        const std::size_t ranges = v.size() / 2;
        if (v.size() % 2 != 0) {
            throw UsageError("--box: needs LO,HI pairs, one for every coordinate or a single one for all (it has " +
                             std::to_string(v.size()) + " numbers)");
        }
        if (ranges > 1) {
            if (given(dim_opt_) && static_cast<std::int64_t>(ranges) != dim) {
                throw UsageError("--box: has " + std::to_string(ranges) + " ranges but --dim is " +
                                 std::to_string(dim) + "; give one LO,HI for all coordinates or one per coordinate");
            }
            if (ranges > max_dimension) {
                throw UsageError("--box: the dimension must lie from 2 to 1008 (it has " + std::to_string(ranges) +
                                 " ranges)");
            }
            dim = static_cast<std::int64_t>(ranges);
            for (std::size_t i = 0; i < ranges; i++) {
                lower.push_back(v[2 * i]);
                upper.push_back(v[2 * i + 1]);
            }
        } else {
            lower.assign(static_cast<std::size_t>(dim), v[0]);
            upper.assign(static_cast<std::size_t>(dim), v[1]);
        }
    } else {
        lower.assign(static_cast<std::size_t>(dim), -1.0);
        upper.assign(static_cast<std::size_t>(dim), 1.0);
    }
    p.dim = static_cast<std::uint32_t>(dim);
    p.lower = std::move(lower);
    p.upper = std::move(upper);
    p.distance_and_radius_from_box();

    if (given(minima_opt_)) {
        const std::int64_t m = parse_integer(minima_, "--minima");
        if (m < 2 || m > std::numeric_limits<std::uint32_t>::max()) {
            throw UsageError("--minima: the number of minima must lie from 2 to 4294967295 (it is " +
                             std::to_string(m) + ")");
        }
        p.num_minima = static_cast<std::uint32_t>(m);
    }
    if (given(test_opt_)) {
        const std::int64_t t = parse_integer(test_, "--test");
        if (t < 1 || t > 100) {
            throw UsageError("--test: the test number must lie from 1 to 100 (it is " + std::to_string(t) + ")");
        }
        p.test_number = static_cast<std::int32_t>(t);
    }
    if (given(global_value_opt_)) p.global_value = parse_real(global_value_, "--global-value");
    if (given(distance_opt_)) {
        p.distance = parse_real(distance_, "--distance");
        if (!given(radius_opt_)) p.radius = p.distance * 0.5;
    }
    if (given(radius_opt_)) p.radius = parse_real(radius_, "--radius");
    return p;
}

Member MemberOptions::generate() const {
    const Parameters p = parameters();
    try {
        return generate_with_progress(p);
    } catch (const Error &e) {
        std::string option;
        switch (e.status()) {
        case Status::bad_dimension: option = "--dim"; break;
        case Status::bad_minima_count: option = "--minima"; break;
        case Status::bad_test_number: option = "--test"; break;
        case Status::bad_domain:
        case Status::parabola_coincidence:
        case Status::minima_coincidence: option = "--box"; break;
        case Status::bad_global_value:
        case Status::no_global_minimum: option = "--global-value"; break;
        case Status::bad_global_distance:
            option = given(distance_opt_) ? "--distance" : "--distance (taken from --box)";
            break;
        case Status::bad_global_radius:
            option = given(radius_opt_) ? "--radius" : "--radius (half the distance)";
            break;
        case Status::no_memory: option = "--minima"; break;
        default: option = "parameters"; break;
        }
        throw UsageError(option + ": " + e.rule());
    }
}

unsigned thread_count(std::int64_t requested) {
    if (requested < 0 || requested > 256) {
        throw UsageError("--threads: must lie from 0 (one per core) to 256 (it is " + std::to_string(requested) +
                         ")");
    }
    if (requested > 0) return static_cast<unsigned>(requested);
    const unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : hw;
}

}  // namespace travo::cli
