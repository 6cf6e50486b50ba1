// End-to-end tests of the travo tool: its outputs parsed back and compared with the library bit for bit (its
// refusals: the bad-input doc test).
#include <algorithm>
#include <bit>
#include <charconv>
#include <csignal>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>

#include <zlib.h>

#include "support/tool.hpp"
#include "travo/travo.hpp"

using nlohmann::json;
using travo::testing::slurp;
using travo::testing::ToolRun;

namespace {

std::vector<std::vector<std::string>> csv_rows(const std::string &text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind('#', 0) == 0) continue;  // the record of version and member
        rows.emplace_back();
        std::istringstream ls(line);
        for (std::string cell; std::getline(ls, cell, ',');) rows.back().push_back(cell);
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

// The names in a folder, sorted.
std::vector<std::string> files(const travo::testing::fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &e : travo::testing::fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::uint32_t be32(const std::string &s, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; k++) v = v << 8 | static_cast<unsigned char>(s[at + k]);
    return v;
}

// The types of a PNG's chunks, from the signature to IEND, each checked against its CRC; "bad" at the first fault.
std::string png_chunks(const std::string &png) {
    std::string types;
    for (std::size_t at = 8; png.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0 && at + 12 <= png.size();) {
        const std::size_t length = be32(png, at);
        if (length > png.size() - at - 12) break;
        const auto *bytes = reinterpret_cast<const Bytef *>(png.data() + at + 4);
        if (crc32(0, bytes, static_cast<uInt>(length + 4)) != be32(png, at + 8 + length)) break;
        types += png.substr(at + 4, 4) + " ";
        at += 12 + length;
        if (types.ends_with("IEND ")) return at == png.size() ? types : "bad";
    }
    return "bad";
}

// The objects of a PDF as its cross-reference sections list them, from the last (startxref) back through /Prev:
// each entry in use must point at "N G obj"; -1 at the first fault.
int pdf_objects(const std::string &pdf) {
    int objects = 0;
    const std::size_t last = pdf.rfind("startxref");
    std::size_t xref = last == std::string::npos ? 0 : std::stoul(pdf.substr(last + 9, 20));
    while (xref != 0) {
        if (pdf.compare(xref, 5, "xref\n") != 0) return -1;
        std::istringstream in(pdf.substr(xref + 5));
        for (std::string word; in >> word && word != "trailer";) {
            const long first = std::stol(word);
            long count = 0;
            in >> count;
            for (long k = 0; k < count; k++) {
                std::size_t offset = 0;
                std::string gen, use;
                in >> offset >> gen >> use;
                const std::string obj = std::to_string(first + k) + " " + std::to_string(std::stoi(gen)) + " obj";
                if (use == "n" && (objects++, pdf.compare(offset, obj.size(), obj) != 0)) return -1;
            }
        }
        const std::size_t end = pdf.find(">>", xref), prev = pdf.find("/Prev ", xref);
        xref = prev < end ? std::stoul(pdf.substr(prev + 6, 20)) : 0;
    }
    return objects;
}

}  // namespace

class Cli : public travo::testing::ToolTest {};

// The JSON table carries the member bit for bit, its dimension, distance and radius derived from the box as the
// library derives them (the CSV table: python.reference); the record of a file makes the member again.
TEST_F(Cli, InfoCarriesTheMemberBitForBit) {
    const std::string member = " --minima 7 --test 12 --box 0,1,-2,2,0,3";
    const ToolRun info = shell("travo info --format json" + member);
    ASSERT_EQ(info.status, 0) << info.err;
    const json j = json::parse(info.out);
    travo::Parameters p = travo::Parameters::in_box({0, -2, 0}, {1, 2, 3});
    p.num_minima = 7, p.test_number = 12;
    const travo::Member f = travo::generate(p);
    EXPECT_TRUE(j["parameters"]["test"] == 12 && bits(j["delta"].get<double>()) == bits(f.delta()));
    ASSERT_EQ(j["minima"].size(), 7u);
    for (std::uint32_t row = 0; row < 7; row++) {
        const json &e = j["minima"][row];
        EXPECT_EQ(e["role"], row == 0 ? "vertex" : row == 1 ? "global" : "local");
        EXPECT_EQ(bits(e["value"].get<double>()), bits(f.minimum_values()[row]));
        EXPECT_EQ(bits(e["radius"].get<double>()), bits(f.radii()[row]));
        for (std::size_t c = 0; c < 3; c++) EXPECT_EQ(bits(e["point"][c].get<double>()), bits(f.minimizer(row)[c]));
    }
    EXPECT_EQ(j["global_minimizers"], json::array({1}));

    ToolRun r = shell("travo eval" + member, "0.5 0 1\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto at = r.out.find("# member: ") + 10;
    ASSERT_EQ(r.out.rfind("# travo " + std::string(travo::version()) + " eval\n", 0), 0u) << r.out;
    EXPECT_EQ(shell("travo info --format json " + r.out.substr(at, r.out.find('\n', at) - at)).out, info.out);

    r = shell("travo info");
    EXPECT_NE(r.out.find("dimension 2, 10 minima, test 1"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("global minimizers (rows): 1\n"), std::string::npos);
    EXPECT_EQ(shell("travo --version").out, "travo " + std::string(travo::version()) + "\n");
}

// One range for every coordinate, whole numbers written as reals, choices in any case (the distance and radius
// left out: python.reference, against Python and suite files).
TEST_F(Cli, BoxOptionsInAnyCase) {
    const ToolRun r = shell("travo info --format JSON --box 0,3 --dim 4 --minima 1e1");
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out)["parameters"];
    EXPECT_EQ(json::array({j["box"]["upper"], j["minima"]}), json::array({json::array({3.0, 3.0, 3.0, 3.0}), 10}));
}

// Comments, a header, blank lines and blanks around fields are read as the plain points are (the results against
// the library's bits: python.reference).
TEST_F(Cli, EvalReadsLooseInput) {
    const ToolRun plain = shell("travo eval --no-header -g -H", "0.5,0.25\n-0.75,0.125\n");
    const ToolRun loose = shell("travo eval --no-header -g -H", "# points\nx,y\n\n 0.5, 0.25 \n\n-0.75 ,0.125\n");
    ASSERT_TRUE(plain.status == 0 && loose.err.empty()) << loose.err;
    EXPECT_TRUE(plain.out == loose.out && csv_rows(plain.out).size() == 2u) << loose.out;
}

TEST_F(Cli, EvalJsonFilesThreadsAndPointsOutsideTheBox) {
    std::ofstream(dir_ / "points.txt") << "0.25 -0.5\n1.5 0\n";
    ToolRun r = shell("travo eval points.txt --format json -k d -g");
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j["results"].size(), 2u);
    const travo::Member f = travo::generate(travo::Parameters{});
    EXPECT_EQ(bits(j["results"][0]["value"].get<double>()), bits(f.value(travo::Kind::D, std::vector{0.25, -0.5})));
    EXPECT_EQ(j["results"][0]["gradient"].size(), 2u);
    EXPECT_EQ(j["results"][1]["value"].get<double>(), travo::error_value);
    EXPECT_NE(r.err.find("1 of 2 points lie outside the box"), std::string::npos) << r.err;

    // Many points: the same bytes whatever the number of threads.
    std::string many;
    for (int i = 0; i < 10000; i++) {
        many += std::to_string(-1.0 + (i % 100) * 0.02) + "," + std::to_string(-1.0 + (i / 100) * 0.02) + "\n";
    }
    const ToolRun one = shell("travo eval -j 1 --no-header -g -H", many);
    const ToolRun two = shell("travo eval -j 2 --no-header -g -H", many);
    ASSERT_TRUE(one.status == 0 && one.err.empty()) << "progress written to a file: " << one.err;
    EXPECT_EQ(csv_rows(one.out).size(), 10000u);
    EXPECT_EQ(one.out, two.out);

    r = shell("travo eval --no-header", "");  // no points: nothing, and a warning
    EXPECT_TRUE(r.status == 0 && r.out.empty());
    EXPECT_EQ(r.err, "travo: warning: no point was read from standard input\n");

    // A byte-order mark, CR line ends.
    r = shell("travo eval --no-header -k nd",
              "\xEF\xBB\xBF"
              "0.25,-0.5\r1.5,0\r");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(csv_rows(r.out).size(), 2u);
}

// Each point's region, distance to its minimizer, and whether it is the global minimizer within the tolerance.
TEST_F(Cli, LocateTellsRegionDistanceAndGlobal) {
    const travo::Member f = travo::generate(travo::Parameters{});
    const auto g = f.minimizer(1), l = f.minimizer(2);
    char input[300];
    std::snprintf(input, sizeof input, "%.17g %.17g\n%.17g %.17g\n%.17g %.17g\n1 1.5\n", g[0], g[1] + 1e-7, l[0], l[1],
                  f.minimizer(0)[0], f.minimizer(0)[1]);
    const ToolRun r = shell("travo locate --no-header", input);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = csv_rows(r.out);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0][2], "1");
    EXPECT_NEAR(num(rows[0][3]), 1e-7, 1e-12);
    EXPECT_EQ(rows[0][4], "yes");
    EXPECT_EQ((std::vector<std::string>(rows[1].begin() + 2, rows[1].end())),
              (std::vector<std::string>{std::to_string(f.region(l)), "0", "no"}));
    EXPECT_EQ(rows[2][2], "none");  // the vertex lies on the paraboloid
    EXPECT_EQ(rows[3][2], "outside");
    const ToolRun strict = shell("travo locate --tolerance 1e-8 --format json", input);
    ASSERT_EQ(strict.status, 0) << strict.err;
    EXPECT_EQ(json::parse(strict.out)["results"][0]["global"], false);
    // The box rule of benchmarking, as campaigns count a hit.
    const ToolRun box = shell("travo locate --accuracy 1e-12 --format json", input);
    ASSERT_EQ(box.status, 0) << box.err;
    const auto found = json::parse(box.out);
    EXPECT_EQ(found["accuracy"], 1e-12);
    EXPECT_EQ(found["results"][0]["global"], true);  // within 1e-6 * 2 of the minimizer in each coordinate
    EXPECT_EQ(found["results"][1]["global"], false);
}

// PNG of the size asked for, SVG of a slice, PDF (the format given winning over the name), complete even where
// regions are too small to draw, each recording how it was made; nothing else is written.
TEST_F(Cli, PlotWritesCompletePicturesAndNothingElse) {
    ToolRun r = shell("travo plot -o member.png --size 640x600 --resolution 60");
    ASSERT_TRUE(r.status == 0 && r.err.empty()) << r.err;
    const std::string png = slurp(dir_ / "member.png");
    EXPECT_EQ(png_chunks(png).substr(0, 10), "IHDR tEXt ");
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\x02\x80\0\0\x02\x58", 8));  // IHDR: 640 x 600
    r = shell("travo plot -o slice.svg --dim 4 --minima 20 --axes 2,4 --kind nd --resolution 40 --title 'A #1 slice'");
    ASSERT_EQ(r.status, 0) << r.err;
    // SVG: real text, one path per colour band.
    const std::string svg = slurp(dir_ / "slice.svg");
    std::size_t paths = 0, texts = 0;
    for (std::size_t at = 0; (at = svg.find("<path ", at)) != std::string::npos; at++) paths++;
    for (std::size_t at = 0; (at = svg.find("<text", at)) != std::string::npos; at++) texts++;
    EXPECT_TRUE(texts > 10 && paths > 2 && paths <= 24) << texts << " texts, " << paths << " paths";
    EXPECT_NE(svg.find("<metadata>travo " + std::string(travo::version()) + " plot --kind ND --axes 2,4"),
              std::string::npos);
    // Drawing a region too small to draw once dropped the frame, text and markers (no font in the PDF).
    r = shell("travo plot -o picture.out --format PDF --radius 1e-5 --resolution 20");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string pdf = slurp(dir_ / "picture.out");
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    EXPECT_GT(pdf_objects(pdf), 10);
    EXPECT_NE(pdf.find("/Font"), std::string::npos);
    EXPECT_NE(pdf.find("/Subject (travo " + std::string(travo::version()) + " plot"), std::string::npos);
    EXPECT_EQ(files(dir_), (std::vector<std::string>{"member.png", "picture.out", "slice.svg"}));
}

// A link is written through, a pipe in place; a failed write (the file size limit) or an interrupt leaves an
// existing file as it was and no temporary behind.
TEST_F(Cli, OutputsAreWrittenCompletelyOrNotAtAll) {
    std::ofstream(dir_ / "real.png") << "old\n";
    travo::testing::fs::create_symlink("real.png", dir_ / "link.png");
    ToolRun r = shell("travo plot -o link.png --resolution 20");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(travo::testing::fs::is_symlink(dir_ / "link.png"));
    EXPECT_EQ(slurp(dir_ / "real.png").substr(1, 3), "PNG");

    r = shell(
        "mkfifo pipe.png && (timeout 20 cat pipe.png > got.png &) && travo plot -o pipe.png --resolution 20 "
        "&& sleep 0.2 && test -p pipe.png");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir_ / "got.png").substr(1, 3), "PNG");

    // /dev/stdout is the caller's descriptor, appending where it appends.
    r = shell("echo first > log.csv && travo info --format csv -o /dev/stdout >> log.csv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(csv_rows(slurp(dir_ / "log.csv")).size(), 12u);

    std::string many;
    for (int i = 0; i < 2000; i++) many += "0.1,0.2\n";
    std::ofstream(dir_ / "keep.csv") << "old\n";
    r = shell("ulimit -f 8; trap '' XFSZ; travo eval -o keep.csv", many);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "travo: error: cannot write keep.csv: File too large\n");
    EXPECT_EQ(slurp(dir_ / "keep.csv"), "old\n");

    r = shell("travo plot -o keep.csv --format png --resolution 4000 --kind nd & sleep 1; kill -TERM $!; wait $!");
    EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
    EXPECT_EQ(slurp(dir_ / "keep.csv"), "old\n");
    EXPECT_EQ(files(dir_),
              (std::vector<std::string>{"got.png", "keep.csv", "link.png", "log.csv", "pipe.png", "real.png"}));
}
