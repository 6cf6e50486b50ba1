// The subcommands of the travo tool. Each checks every option before it
// computes anything and writes its output only once everything succeeded.
#pragma once

#include <cstdint>
#include <string>

#include "common.hpp"

namespace travo::cli {

struct InfoOptions {
    std::string format = "table";  // table, csv, json
    std::string output = "-";
};

struct EvalOptions {
    std::string input = "-";
    std::string output = "-";
    std::string kind = "d2";
    std::string format = "csv";  // csv, json
    bool gradient = false;
    bool hessian = false;
    bool no_header = false;
    std::int64_t threads = 0;
};

struct PlotOptions {
    std::string output;
    std::string format;  // png or svg; from the output's extension when empty
    std::string kind = "d2";
    std::string size;  // WIDTHxHEIGHT; empty: fitted to the box
    std::string axes = "1,2";
    std::int64_t resolution = 0;  // 0: 400 for PNG, 150 for SVG (whose size grows with it)
    std::int64_t levels = 24;
    std::string title;
    std::int64_t threads = 0;
};

void run_info(const MemberOptions &member, const InfoOptions &opts);
void run_eval(const MemberOptions &member, const EvalOptions &opts);
void run_plot(const MemberOptions &member, const PlotOptions &opts);

// Text of the minima table in each format, for the info subcommand.
std::string info_table(const Member &f);
std::string info_csv(const Member &f);
std::string info_json(const Member &f);

}  // namespace travo::cli
