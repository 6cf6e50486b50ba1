// End-to-end tests of the travo tool: its outputs are parsed back and
// compared with the library, its exit statuses and messages checked.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "travo/travo.hpp"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

std::string slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string shell_quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("travo-cli-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the tool with `args`, standard input from `input`.
    Result run(const std::vector<std::string> &args, const std::string &input = "") const {
        const fs::path in = dir_ / "stdin", out = dir_ / "stdout", err = dir_ / "stderr";
        std::ofstream(in, std::ios::binary) << input;
        std::string cmd = shell_quote(TRAVO_CLI);
        for (const auto &a : args) cmd += " " + shell_quote(a);
        cmd += " <" + shell_quote(in) + " >" + shell_quote(out) + " 2>" + shell_quote(err);
        const int raw = std::system(cmd.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = slurp(out);
        r.err = slurp(err);
        return r;
    }

    fs::path dir_;
};

std::vector<std::vector<std::string>> csv_rows(const std::string &text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::istringstream ls(line);
        std::string cell;
        while (std::getline(ls, cell, ',')) cells.push_back(cell);
        rows.push_back(cells);
    }
    return rows;
}

double num(const std::string &s) {
    double v = 0.0;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    EXPECT_TRUE(res.ec == std::errc() && res.ptr == s.data() + s.size()) << "not a number: " << s;
    return v;
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

}  // namespace

TEST_F(Cli, HelpVersionAndMissingCommand) {
    const Result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char *word : {"info", "eval", "plot"}) EXPECT_NE(help.out.find(word), std::string::npos) << word;
    const Result plot_help = run({"plot", "--help"});
    EXPECT_EQ(plot_help.status, 0);
    for (const char *opt : {"--dim", "--minima", "--global-value", "--distance", "--radius", "--test", "--box"}) {
        EXPECT_NE(plot_help.out.find(opt), std::string::npos) << opt;
    }
    const Result version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "travo " + std::string(travo::version()) + "\n");
    const Result none = run({});
    EXPECT_EQ(none.status, 2);
    EXPECT_TRUE(none.out.empty());
}

TEST_F(Cli, InfoJsonCarriesTheMemberBitForBit) {
    const Result r = run({"info", "--format", "json", "--dim", "3", "--minima", "7", "--test", "12"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    travo::Parameters p = travo::Parameters::in_cube(3);
    p.num_minima = 7;
    p.test_number = 12;
    const travo::Member f = travo::generate(p);
    EXPECT_EQ(j["parameters"]["dim"], 3);
    EXPECT_EQ(j["parameters"]["minima"], 7);
    EXPECT_EQ(j["parameters"]["test"], 12);
    EXPECT_EQ(bits(j["parameters"]["distance"].get<double>()), bits(p.distance));
    EXPECT_EQ(bits(j["delta"].get<double>()), bits(f.delta()));
    ASSERT_EQ(j["minima"].size(), 7u);
    for (std::uint32_t row = 0; row < 7; row++) {
        const json &e = j["minima"][row];
        EXPECT_EQ(e["row"], row);
        EXPECT_EQ(e["role"], row == 0 ? "vertex" : row == 1 ? "global" : "local");
        EXPECT_EQ(bits(e["value"].get<double>()), bits(f.minimum_values()[row]));
        EXPECT_EQ(bits(e["radius"].get<double>()), bits(f.radii()[row]));
        for (std::size_t c = 0; c < 3; c++) EXPECT_EQ(bits(e["point"][c].get<double>()), bits(f.minimizer(row)[c]));
    }
    EXPECT_EQ(j["global_minimizers"], json::array({1}));
}

TEST_F(Cli, InfoCsvAndTable) {
    const Result csv = run({"info", "--format", "csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const auto rows = csv_rows(csv.out);
    ASSERT_EQ(rows.size(), 11u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"row", "role", "value", "radius", "x1", "x2"}));
    const travo::Member f = travo::generate(travo::Parameters{});
    for (std::uint32_t row = 0; row < 10; row++) {
        EXPECT_EQ(bits(num(rows[row + 1][2])), bits(f.minimum_values()[row]));
        EXPECT_EQ(bits(num(rows[row + 1][5])), bits(f.minimizer(row)[1]));
    }

    const Result table = run({"info"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("dimension 2, 10 minima, test 1"), std::string::npos);
    EXPECT_NE(table.out.find("global minimizers (rows): 1\n"), std::string::npos);
    // The table itself: a header and ten rows, right-aligned to one width.
    const auto start = table.out.find("row  role");
    ASSERT_NE(start, std::string::npos);
    std::istringstream lines(table.out.substr(start));
    std::string line;
    std::vector<std::string> body;
    while (std::getline(lines, line)) body.push_back(line);
    ASSERT_EQ(body.size(), 11u);
    for (const auto &l : body) EXPECT_EQ(l.size(), body[0].size()) << l;
    EXPECT_NE(body[1].find("vertex"), std::string::npos);
    EXPECT_NE(body[2].find("-1.0000000000"), std::string::npos);
}

TEST_F(Cli, BoxOptionsAndDerivedDefaults) {
    // One range for every coordinate: distance and radius from the box.
    Result r = run({"info", "--format", "json", "--box", "0,3", "--dim", "4"});
    ASSERT_EQ(r.status, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_EQ(j["parameters"]["dim"], 4);
    EXPECT_EQ(j["parameters"]["distance"], 1.0);
    EXPECT_EQ(j["parameters"]["radius"], 0.5);
    EXPECT_EQ(j["parameters"]["box"]["upper"], json::array({3.0, 3.0, 3.0, 3.0}));
    // One range per coordinate gives the dimension; a given distance sets
    // the radius to half of it.
    r = run({"info", "--format", "json", "--box", "-1,1,0,5,2,2.5", "--distance", "0.2"});
    ASSERT_EQ(r.status, 0) << r.err;
    j = json::parse(r.out);
    EXPECT_EQ(j["parameters"]["dim"], 3);
    EXPECT_EQ(j["parameters"]["box"]["lower"], json::array({-1.0, 0.0, 2.0}));
    EXPECT_EQ(j["parameters"]["radius"], 0.1);
    // Output to a file leaves standard output empty.
    const fs::path file = dir_ / "minima.csv";
    r = run({"info", "--format", "csv", "-o", file.string(), "--global-value=-2.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(csv_rows(slurp(file))[2][2], "-2.5");
}

TEST_F(Cli, BadParametersEndWithStatus2AndNoOutput) {
    struct Case {
        std::vector<std::string> args;
        const char *message;
    };
    const std::vector<Case> cases = {
        {{"info", "--dim", "1"}, "--dim: the dimension must lie from 2 to 1008 (it is 1)"},
        {{"info", "--dim", "1009"}, "--dim: the dimension must lie from 2 to 1008"},
        {{"info", "--dim", "2.5"}, "--dim: '2.5' is not a whole number"},
        {{"info", "--minima", "1"}, "--minima: the number of minima must lie from 2"},
        {{"info", "--minima", "5000000000"}, "--minima: the number of minima must lie from 2 to 4294967295"},
        {{"info", "--test", "0"}, "--test: the test number must lie from 1 to 100 (it is 0)"},
        {{"info", "--test", "101"}, "--test: the test number must lie from 1 to 100"},
        {{"info", "--global-value", "0"}, "--global-value: the global value must lie below -1e-10"},
        {{"info", "--global-value", "nan"}, "--global-value: 'nan' is not a finite number"},
        {{"info", "--distance", "1"}, "--distance: the distance must lie strictly between 1e-10 and half the shortest box side"},
        {{"info", "--radius", "0.5"}, "--radius: the radius must lie strictly between 1e-10 and half the distance"},
        {{"info", "--radius", "x"}, "--radius: 'x' is not a number"},
        {{"info", "--box", "1,1"}, "--box: in coordinate 1 the lower bound 1 must lie below the upper bound 1"},
        {{"info", "--box", "0,1,0"}, "--box: needs LO,HI pairs"},
        {{"info", "--box", "0,1,0,1,0,1", "--dim", "2"}, "--box: has 3 ranges but --dim is 2"},
        {{"info", "--box", "0,2e-10"}, "--distance (taken from --box): the distance must lie"},
        {{"info", "--format", "xml"}, "--format: 'xml' is not one of table, csv, json"},
        {{"info", "--frobnicate"}, "--frobnicate"},
        {{"eval", "--kind", "d3"}, "--kind: 'd3' is not one of nd, d, d2"},
        {{"eval", "--kind", "nd", "--gradient"}, "--gradient: the nd kind has no gradient"},
        {{"eval", "--kind", "d", "--hessian"}, "--hessian: only the d2 kind has a Hessian"},
        {{"eval", "--threads", "-1"}, "--threads: must lie from 0"},
    };
    for (const Case &c : cases) {
        const Result r = run(c.args, "0.1,0.2\n");
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_TRUE(r.out.empty()) << c.message << ": " << r.out;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << "expected '" << c.message << "' in: " << r.err;
    }
}

TEST_F(Cli, EvalMatchesTheLibraryForEveryKindAndDerivative) {
    travo::Parameters p = travo::Parameters::in_cube(3);
    p.num_minima = 9;
    p.test_number = 5;
    const travo::Member f = travo::generate(p);
    // Points near each minimizer reach the region formulas.
    std::string input = "# points\nx,y,z\n\n";
    std::vector<std::vector<double>> pts;
    for (std::uint32_t row = 0; row < 9; row++) {
        std::vector<double> x(f.minimizer(row).begin(), f.minimizer(row).end());
        x[0] = std::min(1.0, x[0] + 0.3 * f.radii()[row]);
        pts.push_back(x);
        char line[200];
        std::snprintf(line, sizeof line, "%.17g, %.17g ,%.17g\n", x[0], x[1], x[2]);
        input += line;
    }
    for (const char *kind : {"nd", "d", "d2"}) {
        std::vector<std::string> args = {"eval", "--dim", "3", "--minima", "9", "--test", "5", "--kind", kind};
        const bool derivs = std::string(kind) != "nd", hess = std::string(kind) == "d2";
        if (derivs) args.push_back("--gradient");
        if (hess) args.push_back("--hessian");
        const Result r = run(args, input);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        const auto rows = csv_rows(r.out);
        ASSERT_EQ(rows.size(), pts.size() + 1);
        EXPECT_EQ(rows[0][3], "value");
        EXPECT_EQ(rows[0].size(), 4u + (derivs ? 3 : 0) + (hess ? 9 : 0));
        const travo::Kind k = std::string(kind) == "nd" ? travo::Kind::ND
                              : std::string(kind) == "d" ? travo::Kind::D
                                                         : travo::Kind::D2;
        for (std::size_t i = 0; i < pts.size(); i++) {
            const auto &cells = rows[i + 1];
            for (std::size_t c = 0; c < 3; c++) EXPECT_EQ(bits(num(cells[c])), bits(pts[i][c]));
            EXPECT_EQ(bits(num(cells[3])), bits(f.value(k, pts[i]))) << kind << " point " << i;
            if (derivs) {
                const auto g = f.gradient(k, pts[i]);
                for (std::size_t c = 0; c < 3; c++) EXPECT_EQ(bits(num(cells[4 + c])), bits(g[c])) << kind;
            }
            if (hess) {
                const auto h = f.hessian(pts[i]);
                for (std::size_t c = 0; c < 9; c++) EXPECT_EQ(bits(num(cells[7 + c])), bits(h[c]));
            }
        }
    }
}

TEST_F(Cli, EvalJsonFilesThreadsAndPointsOutsideTheBox) {
    const fs::path points = dir_ / "points.txt";
    std::ofstream(points) << "0.25 -0.5\n1.5 0\n";
    Result r = run({"eval", points.string(), "--format", "json", "-k", "d", "-g"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["kind"], "d");
    ASSERT_EQ(j["results"].size(), 2u);
    const travo::Member f = travo::generate(travo::Parameters{});
    const std::vector<double> x = {0.25, -0.5};
    EXPECT_EQ(bits(j["results"][0]["value"].get<double>()), bits(f.value(travo::Kind::D, x)));
    EXPECT_EQ(j["results"][0]["gradient"].size(), 2u);
    EXPECT_EQ(j["results"][1]["value"].get<double>(), travo::error_value);
    EXPECT_NE(r.err.find("1 of 2 points lie outside the box"), std::string::npos) << r.err;

    // Many points: the same bytes whatever the number of threads.
    std::string many;
    for (int i = 0; i < 20000; i++) {
        many += std::to_string(-1.0 + (i % 200) * 0.01) + "," + std::to_string(-1.0 + (i / 200) * 0.02) + "\n";
    }
    const Result one = run({"eval", "-j", "1", "--no-header", "-g", "-H"}, many);
    const Result two = run({"eval", "-j", "2", "--no-header", "-g", "-H"}, many);
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(csv_rows(one.out).size(), 20000u);
    EXPECT_EQ(one.out, two.out);
    EXPECT_TRUE(one.err.empty()) << "progress written to a file: " << one.err;

    // An empty input gives just the header.
    r = run({"eval"}, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "x1,x2,value\n");
}

TEST_F(Cli, EvalRefusesBadDataWithStatus1AndNoOutput) {
    struct Case {
        std::string input;
        const char *message;
    };
    const std::vector<Case> cases = {
        {"0.1,0.2\n0.1,0.2,0.3\n", "standard input:2: the point has 3 coordinates but the member has dimension 2"},
        {"x,y\n0.1,abc\n", "standard input:2: field 2 'abc' is not a number"},
        {"0.1,inf\n", "field 2 'inf' is not a finite number"},
        {"0.1,\n", "field 2 '' is not a number"},
    };
    for (const Case &c : cases) {
        const Result r = run({"eval"}, c.input);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_TRUE(r.out.empty()) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    const Result missing = run({"eval", (dir_ / "absent.csv").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
}

TEST_F(Cli, PlotWritesPngAndSvgAndNothingElse) {
    const fs::path png = dir_ / "member.png";
    Result r = run({"plot", "-o", png.string(), "--size", "640x600", "--resolution", "60"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const std::string data = slurp(png);
    ASSERT_GT(data.size(), 1000u);
    EXPECT_EQ(data.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    auto be32 = [&data](std::size_t at) {
        return (std::uint32_t(std::uint8_t(data[at])) << 24) | (std::uint32_t(std::uint8_t(data[at + 1])) << 16) |
               (std::uint32_t(std::uint8_t(data[at + 2])) << 8) | std::uint32_t(std::uint8_t(data[at + 3]));
    };
    EXPECT_EQ(be32(16), 640u);  // IHDR width and height
    EXPECT_EQ(be32(20), 600u);

    const fs::path svg = dir_ / "slice.svg";
    r = run({"plot", "-o", svg.string(), "--dim", "4", "--minima", "20", "--axes", "2,4", "--kind", "nd",
             "--resolution", "40", "--title", "A #1 slice"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = slurp(svg);
    EXPECT_EQ(text.rfind("<?xml", 0), 0u);
    EXPECT_NE(text.find("<svg"), std::string::npos);

    // --format wins over the name.
    const fs::path named = dir_ / "picture.out";
    r = run({"plot", "-o", named.string(), "--format", "png", "--resolution", "20"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(named).substr(1, 3), "PNG");

    std::vector<std::string> left;
    for (const auto &e : fs::directory_iterator(dir_)) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"member.png", "picture.out", "slice.svg", "stderr", "stdin", "stdout"}));
}

TEST_F(Cli, PlotRefusalsLeaveNoFile) {
    const fs::path png = dir_ / "x.png";
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *message;
    };
    const std::vector<Case> cases = {
        {{"plot", "-o", png.string(), "--axes", "1,1"}, 2, "--axes: the two coordinates must differ"},
        {{"plot", "-o", png.string(), "--axes", "1,3"}, 2, "--axes: coordinates must be whole numbers from 1 to the dimension 2"},
        {{"plot", "-o", png.string(), "--size", "100x100"}, 2, "--size: width and height must lie from 300 to 8000"},
        {{"plot", "-o", png.string(), "--size", "big"}, 2, "--size: 'big' is not WIDTHxHEIGHT"},
        {{"plot", "-o", png.string(), "--levels", "1"}, 2, "--levels: must lie from 2 to 256"},
        {{"plot", "-o", png.string(), "--resolution", "5"}, 2, "--resolution: must lie from 10 to 4000"},
        {{"plot", "-o", (dir_ / "x.jpg").string()}, 2, "--output: cannot tell the picture format"},
        {{"plot", "-o", png.string(), "--format", "gif"}, 2, "--format: 'gif' is not one of png, svg"},
        {{"plot", "-o", png.string(), "--radius", "0.4"}, 2, "--radius:"},
        {{"plot"}, 2, "--output is required"},
        {{"plot", "-o", (dir_ / "no" / "such" / "dir.png").string()}, 1, "cannot write"},
    };
    for (const Case &c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << "expected '" << c.message << "' in: " << r.err;
        EXPECT_FALSE(fs::exists(png)) << c.message;
    }
    EXPECT_FALSE(fs::exists(dir_ / "x.jpg"));
}
