// travo info: the minima table of a member.
#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "commands.hpp"
#include "output.hpp"

namespace travo::cli {
namespace {

const char *role(const Member &f, std::uint32_t row) {
    if (row == 0) return "vertex";
    const auto glob = f.global_minimizers();
    return std::find(glob.begin(), glob.end(), row) != glob.end() ? "global" : "local";
}

std::string fixed(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10f", v);
    return buf;
}

std::string box_text(const Parameters &p) {
    const bool cube = std::all_of(p.lower.begin(), p.lower.end(), [&](double v) { return v == p.lower[0]; }) &&
                      std::all_of(p.upper.begin(), p.upper.end(), [&](double v) { return v == p.upper[0]; });
    if (cube) return "[" + number(p.lower[0]) + ", " + number(p.upper[0]) + "]^" + std::to_string(p.dim);
    std::string s;
    for (std::size_t c = 0; c < p.dim; c++) {
        if (c > 0) s += " x ";
        s += "[" + number(p.lower[c]) + ", " + number(p.upper[c]) + "]";
    }
    return s;
}

}  // namespace

std::string info_table(const Member &f) {
    const Parameters &p = f.parameters();
    const std::uint32_t n = f.dim(), m = f.num_minima();
    std::ostringstream out;
    out << "travo " << version() << "\n";
    out << "member: dimension " << n << ", " << m << " minima, test " << p.test_number << "\n";
    out << "box: " << box_text(p) << "\n";
    out << "global value " << number(p.global_value) << ", distance " << number(p.distance) << ", radius "
        << number(p.radius) << ", delta " << number(f.delta()) << "\n";
    out << "global minimizers (rows):";
    for (std::uint32_t row : f.global_minimizers()) out << " " << row;
    out << "\n\n";

    // Cells first, then columns as wide as their widest cell.
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> head = {"row", "role", "value", "radius"};
    for (std::uint32_t c = 1; c <= n; c++) head.push_back("x" + std::to_string(c));
    rows.push_back(head);
    for (std::uint32_t r = 0; r < m; r++) {
        std::vector<std::string> cells = {std::to_string(r), role(f, r), fixed(f.minimum_values()[r]),
                                          fixed(f.radii()[r])};
        for (double x : f.minimizer(r)) cells.push_back(fixed(x));
        rows.push_back(std::move(cells));
    }
    std::vector<std::size_t> width(head.size(), 0);
    for (const auto &cells : rows) {
        for (std::size_t c = 0; c < cells.size(); c++) width[c] = std::max(width[c], cells[c].size());
    }
    for (const auto &cells : rows) {
        std::string line;
        for (std::size_t c = 0; c < cells.size(); c++) {
            if (c > 0) line += "  ";
            const std::string pad(width[c] - cells[c].size(), ' ');
            line += c == 1 ? cells[c] + pad : pad + cells[c];  // role left, numbers right
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out << line << "\n";
    }
    return out.str();
}

std::string info_csv(const Member &f) {
    std::ostringstream out;
    out << csv_record("info", f.parameters());
    out << "row,role,value,radius";
    for (std::uint32_t c = 1; c <= f.dim(); c++) out << ",x" << c;
    out << "\n";
    for (std::uint32_t r = 0; r < f.num_minima(); r++) {
        out << r << "," << role(f, r) << "," << number(f.minimum_values()[r]) << "," << number(f.radii()[r]);
        for (double x : f.minimizer(r)) out << "," << number(x);
        out << "\n";
    }
    return out.str();
}

std::string info_json(const Member &f) {
    // Written directly, one row of the table a line: no document tree.
    std::string s = "{" + json_record("info", f.parameters()) + ",\n\"delta\":";
    json_number(s, f.delta());
    s += ",\n\"global_minimizers\":[";
    for (std::uint32_t row : f.global_minimizers()) s += (s.back() == '[' ? "" : ",") + std::to_string(row);
    s += "],\n\"minima\":[";
    for (std::uint32_t r = 0; r < f.num_minima(); r++) {
        s += r > 0 ? ",\n" : "\n";
        s += "{\"row\":" + std::to_string(r) + ",\"role\":\"" + role(f, r) + "\",\"value\":";
        json_number(s, f.minimum_values()[r]);
        s += ",\"radius\":";
        json_number(s, f.radii()[r]);
        s += ",\"point\":";
        json_array(s, f.minimizer(r));
        s += "}";
    }
    s += "]}\n";
    return s;
}

void run_info(const MemberOptions &member, const InfoOptions &opts) {
    // The parser has checked the format: table, csv or json.
    const std::string &format = opts.format;
    member.parameters();  // a bad option is told before the output is looked at
    Output out(opts.output);
    const Member f = member.generate();
    out.write(format == "json" ? info_json(f) : format == "csv" ? info_csv(f) : info_table(f));
    out.commit();
}

}  // namespace travo::cli
