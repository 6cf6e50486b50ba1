// travo: the command-line tool. Subcommands info, eval, locate and plot;
// every parameter of the member is an option. Exit status 0 on success, 2 for a
// bad command-line parameter, 1 for bad input data or a failed read/write.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "commands.hpp"

using namespace travo::cli;

namespace {

// CLI11's messages in plain sentences.
std::string plain(const CLI::ParseError &e) {
    const std::string what = e.what();
    const std::string name = what.substr(0, what.find(':'));
    if (dynamic_cast<const CLI::ArgumentMismatch *>(&e) != nullptr) {
        if (what.find("missing") != std::string::npos) return name + " needs a value";
        if (what.find("At Most") != std::string::npos) return name + " may be given only once";
    }
    if (what == "A subcommand is required") return "give a command: info, eval, locate or plot";
    if (const auto at = what.find("not expected: "); at != std::string::npos) {
        return "unexpected argument " + what.substr(at + 14);
    }
    // A choice outside its set: "--kind: d3 not in {ND,D,D2}".
    const auto set = what.rfind(" not in {");
    if (dynamic_cast<const CLI::ValidationError *>(&e) != nullptr && set != std::string::npos &&
        set > name.size() + 1 && what.back() == '}') {
        std::string choices = what.substr(set + 9, what.size() - set - 10);
        for (std::size_t at = 0; (at = choices.find(',', at)) != std::string::npos; at += 2)
            choices.insert(at + 1, " ");
        return name + ": " + excerpt(what.substr(name.size() + 2, set - name.size() - 2)) + " is not one of " + choices;
    }
    return what;
}

// The kinds by their names, read in any case and passed on in capitals.
CLI::IsMember kinds() {
    std::vector<std::string> names;
    for (const travo::Kind kind : {travo::Kind::ND, travo::Kind::D, travo::Kind::D2}) {
        names.emplace_back(travo::kind_name(kind));
    }
    return CLI::IsMember(names, CLI::ignore_case);
}

// Output formats, read in any case and passed on in lower case.
CLI::IsMember formats(std::vector<std::string> names) { return CLI::IsMember(std::move(names), CLI::ignore_case); }

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{
        "travo: test functions for global optimisation with known minima.\n"
        "Generates a member of the test class and reports its minima, evaluates it at points, tells which "
        "region holds a point, or draws it.",
        "travo"};
    app.set_version_flag("--version", "travo " + std::string(travo::version()));
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 on success, 2 for a bad parameter, 1 for bad input data or a failed read or write.\n"
        "Choices such as --kind and --format may be given in any case. Output files are written completely "
        "or not at all.\n"
        "The GNU Octave module travo.mex is built in build/mex; 'cmake --install' puts it into Octave's site "
        "folder for compiled functions (TRAVO_OCTAVE_SITE_DIR chooses another); see the README.");

    MemberOptions info_member, eval_member, locate_member, plot_member;

    InfoOptions info;
    CLI::App *info_cmd = app.add_subcommand("info", "Print the minima table of a member (default: the default member)");
    info_member.add_to(*info_cmd);
    info_cmd->add_option("--format", info.format, "Output format: table, csv or json")
        ->transform(formats({"table", "csv", "json"}))
        ->capture_default_str();
    info_cmd->add_option("-o,--output", info.output, "Output file, - for standard output")->capture_default_str();

    EvalOptions eval;
    CLI::App *eval_cmd = app.add_subcommand(
        "eval", "Evaluate a member at points read as CSV, one point a line (a first line without numbers is a header)");
    eval_member.add_to(*eval_cmd);
    eval_cmd->add_option("input", eval.input, "File of points, - for standard input")->capture_default_str();
    eval_cmd->add_option("-k,--kind", eval.kind, "Kind: ND, D or D2")->transform(kinds())->capture_default_str();
    eval_cmd->add_flag("-g,--gradient", eval.gradient, "Also write the gradient (kinds D and D2)");
    eval_cmd->add_flag("-H,--hessian", eval.hessian, "Also write the Hessian, row by row (kind D2)");
    eval_cmd
        ->add_option("--format", eval.format,
                     "Output format: csv (with a comment block naming the version and the member) or json "
                     "(one compact document)")
        ->transform(formats({"csv", "json"}))
        ->capture_default_str();
    eval_cmd->add_flag("--no-header", eval.no_header, "Leave out the CSV comment block and header line");
    eval_cmd->add_option("-o,--output", eval.output, "Output file, - for standard output")->capture_default_str();
    eval_cmd->add_option("-j,--threads", eval.threads, "Worker threads, 0 for one per core")->capture_default_str();

    LocateOptions locate;
    CLI::App *locate_cmd = app.add_subcommand(
        "locate",
        "For points read as in eval (an optimiser's answers), the region that holds each, the distance to "
        "its minimizer and whether the point counts as a global minimizer (within --tolerance of one, or by the box "
        "rule with --accuracy)");
    locate_member.add_to(*locate_cmd);
    locate_cmd->add_option("input", locate.input, "File of points, - for standard input")->capture_default_str();
    CLI::Option *tolerance_opt = locate_cmd->add_option(
        "--tolerance", locate.tolerance, "Largest distance to a global minimizer at which a point counts as found");
    tolerance_opt->capture_default_str();
    locate_cmd
        ->add_option("--accuracy", locate.accuracy,
                     "Use the box rule of benchmarking instead: found when every coordinate lies within "
                     "accuracy^(1/n) times the box side of a global minimizer")
        ->excludes(tolerance_opt);
    locate_cmd->add_option("--format", locate.format, "Output format: csv or json")
        ->transform(formats({"csv", "json"}))
        ->capture_default_str();
    locate_cmd->add_flag("--no-header", locate.no_header, "Leave out the CSV comment block and header line");
    locate_cmd->add_option("-o,--output", locate.output, "Output file, - for standard output")->capture_default_str();
    locate_cmd->add_option("-j,--threads", locate.threads, "Worker threads, 0 for one per core")->capture_default_str();

    PlotOptions plot;
    CLI::App *plot_cmd = app.add_subcommand(
        "plot", "Draw filled contours of a 2-D member, or of the 2-D slice through the global minimizer");
    plot_member.add_to(*plot_cmd);
    plot_cmd->add_option("-o,--output", plot.output, "Picture file, .png, .svg or .pdf")->required();
    plot_cmd->add_option("--format", plot.format, "Picture format, png, svg or pdf [from the file name]")
        ->transform(formats({"png", "svg", "pdf"}));
    plot_cmd->add_option("-k,--kind", plot.kind, "Kind: ND, D or D2")->transform(kinds())->capture_default_str();
    plot_cmd->add_option("--size", plot.size,
                         "Picture size, WIDTHxHEIGHT in pixels (points for PDF) [fitted to the box, about 800x800]");
    plot_cmd->add_option("--axes", plot.axes, "The two coordinates along the axes, I,J")->capture_default_str();
    plot_cmd->add_option("--resolution", plot.resolution,
                         "Grid points along the longer side [400 for PNG and PDF, 150 for SVG]");
    plot_cmd->add_option("--levels", plot.levels, "Number of colour levels")->capture_default_str();
    plot_cmd->add_option("--title", plot.title, "Title, empty for none [kind, test number, dimension and minima]");
    plot_cmd->add_flag("--no-markers", plot.no_markers, "Leave out the minimizer and vertex markers");
    plot_cmd->add_flag("--no-circles", plot.no_circles, "Leave out the region boundaries");
    plot_cmd->add_flag("--no-legend", plot.no_legend, "Leave out the legend");
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
                     plain(e).c_str());
        return kExitUsage;
    }
    plot.title_given = plot_cmd->count("--title") > 0;

    try {
        if (info_cmd->parsed()) run_info(info_member, info);
        if (eval_cmd->parsed()) run_eval(eval_member, eval);
        if (locate_cmd->parsed()) run_locate(locate_member, locate);
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
