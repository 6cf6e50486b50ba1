// The subcommands of the travo tool. Each checks every option before it
// computes anything and writes its output only once everything succeeded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common.hpp"

namespace travo::cli {

struct InfoOptions {
    std::string format = "table";  // table, csv, json
    std::string output = "-";
};

struct EvalOptions {
    std::string input = "-";
    std::string output = "-";
    std::string kind = "D2";
    std::string format = "csv";  // csv, json
    bool gradient = false;
    bool hessian = false;
    bool no_header = false;
    std::string threads = "0";
};

struct LocateOptions {
    std::string input = "-";
    std::string output = "-";
    std::string format = "csv";  // csv, json
    std::string tolerance = "1e-6";
    std::string accuracy;  // empty: the distance rule with the tolerance; else the box rule
    bool no_header = false;
    std::string threads = "0";
};

struct PlotOptions {
    std::string output;
    std::string format;  // png, svg or pdf; from the output's extension when empty
    std::string kind = "D2";
    std::string size;  // WIDTHxHEIGHT; empty: fitted to the box
    std::string axes = "1,2";
    std::string resolution = "0";  // 0: 400 for PNG and PDF, 150 for SVG (whose size grows with it)
    std::string levels = "24";
    std::string title;
    bool title_given = false;  // an empty title given means no title
    bool no_markers = false, no_circles = false, no_legend = false;
    std::string threads = "0";
};

void run_info(const MemberOptions &member, const InfoOptions &opts);
void run_eval(const MemberOptions &member, const EvalOptions &opts);
void run_locate(const MemberOptions &member, const LocateOptions &opts);
void run_plot(const MemberOptions &member, const PlotOptions &opts);

// Points of `text`, one a line (LF, CR LF or CR), `n` coordinates each,
// one after another. Blank lines and lines starting with '#' are skipped,
// and so is a first line in which no field is a number (a header). A UTF-8
// byte-order mark at the start is dropped. `source` names the text in
// messages.
std::vector<double> parse_points(const std::string &text, std::uint32_t n, const std::string &source);

// The points of the file or standard input ("-" or empty) named by `input`,
// and the name that messages give it.
struct Points {
    std::string source;
    std::vector<double> coords;
};
Points read_points(const std::string &input, std::uint32_t n);

// "travo <version>" and the member's options, as comment lines of CSV.
std::string csv_record(const char *command, const Parameters &p);

// Text of the minima table in each format, for the info subcommand.
std::string info_table(const Member &f);
std::string info_csv(const Member &f);
std::string info_json(const Member &f);

}  // namespace travo::cli
