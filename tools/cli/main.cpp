// travo: the command-line tool. Subcommands info, eval and plot; every
// parameter of the member is an option. Exit status 0 on success, 2 for a
// bad command-line parameter, 1 for bad input data or a failed read/write.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "commands.hpp"

using namespace travo::cli;

int main(int argc, char **argv) {
    CLI::App app{"travo: test functions for global optimisation with known minima.\n"
                 "Generates a member of the test class and reports its minima, evaluates it at points, or draws it.",
                 "travo"};
    app.set_version_flag("--version", "travo " + std::string(travo::version()));
    app.require_subcommand(1);
    app.footer("Exit status: 0 on success, 2 for a bad parameter, 1 for bad input data or a failed read or write.");

    MemberOptions info_member, eval_member, plot_member;

    InfoOptions info;
    CLI::App *info_cmd = app.add_subcommand("info", "Print the minima table of a member (default: the default member)");
    info_member.add_to(*info_cmd);
    info_cmd->add_option("--format", info.format, "Output format: table, csv or json")->capture_default_str();
    info_cmd->add_option("-o,--output", info.output, "Output file, - for standard output")->capture_default_str();

    EvalOptions eval;
    CLI::App *eval_cmd = app.add_subcommand(
        "eval", "Evaluate a member at points read as CSV, one point a line (a first line without numbers is a header)");
    eval_member.add_to(*eval_cmd);
    eval_cmd->add_option("input", eval.input, "File of points, - for standard input")->capture_default_str();
    eval_cmd->add_option("-k,--kind", eval.kind, "Kind: nd, d or d2")->capture_default_str();
    eval_cmd->add_flag("-g,--gradient", eval.gradient, "Also write the gradient (kinds d and d2)");
    eval_cmd->add_flag("-H,--hessian", eval.hessian, "Also write the Hessian, row by row (kind d2)");
    eval_cmd->add_option("--format", eval.format, "Output format: csv or json")->capture_default_str();
    eval_cmd->add_flag("--no-header", eval.no_header, "Leave out the CSV header line");
    eval_cmd->add_option("-o,--output", eval.output, "Output file, - for standard output")->capture_default_str();
    eval_cmd->add_option("-j,--threads", eval.threads, "Worker threads, 0 for one per core")->capture_default_str();

    PlotOptions plot;
    CLI::App *plot_cmd = app.add_subcommand(
        "plot", "Draw filled contours of a 2-D member, or of the 2-D slice through the global minimizer");
    plot_member.add_to(*plot_cmd);
    plot_cmd->add_option("-o,--output", plot.output, "Picture file, .png or .svg")->required();
    plot_cmd->add_option("--format", plot.format, "Picture format, png or svg [from the file name]");
    plot_cmd->add_option("-k,--kind", plot.kind, "Kind: nd, d or d2")->capture_default_str();
    plot_cmd->add_option("--size", plot.size, "Picture size in pixels, WIDTHxHEIGHT [fitted to the box, about 800x800]");
    plot_cmd->add_option("--axes", plot.axes, "The two coordinates along the axes, I,J")->capture_default_str();
    plot_cmd->add_option("--resolution", plot.resolution, "Grid points along the longer side [400 for PNG, 150 for SVG]");
    plot_cmd->add_option("--levels", plot.levels, "Number of colour levels")->capture_default_str();
    plot_cmd->add_option("--title", plot.title, "Title [kind, test number, dimension and minima]");
    plot_cmd->add_option("-j,--threads", plot.threads, "Worker threads, 0 for one per core")->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::fprintf(stderr, "travo: error: %s\nRun 'travo --help' or 'travo <command> --help' for the options.\n",
                     e.what());
        return kExitUsage;
    }

    try {
        if (info_cmd->parsed()) run_info(info_member, info);
        if (eval_cmd->parsed()) run_eval(eval_member, eval);
        if (plot_cmd->parsed()) run_plot(plot_member, plot);
    } catch (const UsageError &e) {
        std::fprintf(stderr, "travo: error: %s\n", e.what());
        return kExitUsage;
    } catch (const DataError &e) {
        std::fprintf(stderr, "travo: error: %s\n", e.what());
        return kExitData;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "travo: error: out of memory\n");
        return kExitData;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "travo: error: %s\n", e.what());
        return kExitData;
    }
    return 0;
}
