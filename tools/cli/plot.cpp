// travo plot: filled contours of a 2-D member, or of the 2-D slice of a
// higher-dimensional member through its global minimizer, drawn with PLplot
// into a PNG or SVG file.
#include <plplot.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "commands.hpp"
#include "work.hpp"

namespace travo::cli {
namespace {

// Colour map 0 entries used for the drawing.
enum Colour : PLINT { kWhite = 0, kBlack = 1, kRed = 2, kMarker = 3, kOrange = 4, kLegendBack = 5 };

// Viridis, sampled at nine evenly spaced points.
constexpr double kViridis[9][3] = {{68, 1, 84},    {71, 45, 123},  {59, 82, 139},  {44, 114, 142}, {33, 144, 140},
                                   {39, 173, 129}, {93, 200, 99},  {170, 220, 50}, {253, 231, 37}};

// The file being drawn, removed if PLplot gives up on it.
std::string g_partial;

int on_plplot_exit(PLCHAR_VECTOR message) {
    if (!g_partial.empty()) std::remove(g_partial.c_str());
    std::fprintf(stderr, "travo: error: plotting failed: %s\n", message != nullptr ? message : "");
    return kExitData;
}

std::string plplot_text(const std::string &s) {
    // '#' starts a PLplot escape sequence; "##" is a literal '#'.
    std::string out;
    for (char c : s) {
        out += c;
        if (c == '#') out += '#';
    }
    return out;
}

std::string extension(const std::string &path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// A round tick spacing (1, 2 or 5 times a power of ten) giving four to eight
// ticks over `range`.
double tick_step(double range) {
    const double raw = range / 8.0;
    const double scale = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * scale >= raw) return m * scale;
    }
    return 10.0 * scale;
}

struct Layout {
    int width = 0, height = 0;  // 0: fitted to the plot
    std::uint32_t ax = 0, ay = 0;  // coordinates along the axes, from 0
    const char *device = nullptr;
    std::int64_t resolution = 0;  // grid points along the longer side
};

Layout check_options(const PlotOptions &o, std::uint32_t dim) {
    Layout l;
    if (o.output.empty() || o.output == "-") throw UsageError("--output: give the name of the picture file");
    std::string fmt = o.format.empty() ? extension(o.output) : o.format;
    if (fmt == "png") {
        l.device = "pngcairo";
    } else if (fmt == "svg") {
        l.device = "svgcairo";
    } else if (o.format.empty()) {
        throw UsageError("--output: cannot tell the picture format from '" + o.output +
                         "'; name it .png or .svg, or give --format");
    } else {
        throw UsageError("--format: '" + o.format + "' is not one of png, svg");
    }

    if (!o.size.empty()) {
        const auto x = o.size.find('x');
        if (x == std::string::npos) throw UsageError("--size: '" + o.size + "' is not WIDTHxHEIGHT, such as 800x780");
        const auto w = parse_integer(o.size.substr(0, x), "--size");
        const auto h = parse_integer(o.size.substr(x + 1), "--size");
        if (w < 300 || w > 8000 || h < 300 || h > 8000) {
            throw UsageError("--size: width and height must lie from 300 to 8000 pixels (it is " + o.size + ")");
        }
        l.width = static_cast<int>(w);
        l.height = static_cast<int>(h);
    }

    const auto axes = parse_reals(o.axes, "--axes");
    if (axes.size() != 2) throw UsageError("--axes: needs two coordinate numbers I,J (it is '" + o.axes + "')");
    for (double a : axes) {
        if (a != std::floor(a) || a < 1 || a > dim) {
            throw UsageError("--axes: coordinates must be whole numbers from 1 to the dimension " +
                             std::to_string(dim) + " (it is '" + o.axes + "')");
        }
    }
    if (axes[0] == axes[1]) throw UsageError("--axes: the two coordinates must differ (it is '" + o.axes + "')");
    l.ax = static_cast<std::uint32_t>(axes[0]) - 1;
    l.ay = static_cast<std::uint32_t>(axes[1]) - 1;

    l.resolution = o.resolution != 0 ? o.resolution : fmt == "svg" ? 150 : 400;
    if (l.resolution < 10 || l.resolution > 4000) {
        throw UsageError("--resolution: must lie from 10 to 4000 grid points (it is " + std::to_string(o.resolution) +
                         ")");
    }
    if (o.levels < 2 || o.levels > 256) {
        throw UsageError("--levels: must lie from 2 to 256 (it is " + std::to_string(o.levels) + ")");
    }
    return l;
}

// Where things go on the page. Margins and text are sized for a page of
// about 820 x 800 pixels and grow or shrink with `scale` on other sizes.
// PLplot draws text in proportion to the page width; `text` corrects that
// to `scale`.
struct Frame {
    int width = 0, height = 0;
    double scale = 1.0, text = 1.0;
    double vx0 = 0, vx1 = 0, vy0 = 0, vy1 = 0;  // plot area, normalised page coordinates
    double plot_w = 0, plot_h = 0;              // plot area in pixels
};

Frame frame_for(int width, int height, double aspect, bool slice) {
    // Very long or flat boxes are drawn stretched to at most 2:1, so that
    // the labels and the colour bar keep room.
    const double shown = std::clamp(aspect, 0.5, 2.0);
    const double left = 85, right = 150, top = slice ? 85 : 65, bottom = 180;
    Frame fr;
    if (width == 0) {
        double pw = 590, ph = 590 * shown;
        if (ph > 560) {
            ph = 560;
            pw = 560 / shown;
        }
        fr.width = static_cast<int>(std::max(720.0, std::round(pw + left + right)));
        fr.height = static_cast<int>(std::round(ph + top + bottom));
    } else {
        fr.width = width;
        fr.height = height;
        fr.scale = std::min(width / 820.0, height / 800.0);
    }
    fr.text = fr.scale / (fr.width / 820.0);
    const double s = fr.scale;
    const double room_w = fr.width - (left + right) * s, room_h = fr.height - (top + bottom) * s;
    double pw = room_w, ph = room_w * shown;
    if (ph > room_h) {
        ph = room_h;
        pw = room_h / shown;
    }
    const double x0 = left * s + (room_w - pw) / 2, y0 = bottom * s + (room_h - ph) / 2;
    fr.vx0 = x0 / fr.width;
    fr.vx1 = (x0 + pw) / fr.width;
    fr.vy0 = y0 / fr.height;
    fr.vy1 = (y0 + ph) / fr.height;
    fr.plot_w = pw;
    fr.plot_h = ph;
    return fr;
}

// A region of the slice: its circle, and whether its minimizer lies in the
// slice plane.
struct Circle {
    double x, y, r;
    bool centre_in_plane;
    std::uint32_t row;
};

}  // namespace

void run_plot(const MemberOptions &member, const PlotOptions &o) {
    const Kind kind = parse_kind(o.kind);
    const unsigned threads = thread_count(o.threads);
    const Layout l = check_options(o, member.parameters().dim);
    const Member f = member.generate();
    const Parameters &p = f.parameters();
    const std::uint32_t n = f.dim();

    // Nothing is written to the output name until the picture is complete.
    const std::string partial = o.output + ".part-" + std::to_string(::getpid());
    {
        std::ofstream probe(partial);
        if (!probe) throw DataError("cannot write " + o.output + ": " + std::strerror(errno));
    }
    struct Remove {
        const std::string &path;
        bool keep = false;
        ~Remove() {
            if (!keep) std::remove(path.c_str());
        }
    } remove_partial{partial};

    // The grid: `resolution` points along the longer side.
    const double x0 = p.lower[l.ax], x1 = p.upper[l.ax], y0 = p.lower[l.ay], y1 = p.upper[l.ay];
    const double aspect = (y1 - y0) / (x1 - x0);
    const auto res = static_cast<double>(l.resolution);
    const auto nx = static_cast<std::size_t>(std::max(10.0, std::round(aspect > 1 ? res / aspect : res)));
    const auto ny = static_cast<std::size_t>(std::max(10.0, std::round(aspect > 1 ? res : res * aspect)));
    auto grid_x = [&](std::size_t i) { return i + 1 == nx ? x1 : x0 + (x1 - x0) * static_cast<double>(i) / (nx - 1); };
    auto grid_y = [&](std::size_t j) { return j + 1 == ny ? y1 : y0 + (y1 - y0) * static_cast<double>(j) / (ny - 1); };

    const auto gmin = f.minimizer(1);
    std::vector<double> z(nx * ny);
    run_chunks(nx, 4, threads, "travo plot: evaluating", [&](std::size_t begin, std::size_t end) {
        std::vector<double> pts(ny * n);
        for (std::size_t i = begin; i < end; i++) {
            for (std::size_t j = 0; j < ny; j++) {
                double *x = pts.data() + j * n;
                std::copy(gmin.begin(), gmin.end(), x);
                x[l.ax] = grid_x(i);
                x[l.ay] = grid_y(j);
            }
            f.values(kind, pts, std::span<double>(z.data() + i * ny, ny));
        }
    });
    // Extreme parameters can overflow double arithmetic; such points stay
    // blank and the colours span the finite values.
    double zlo = HUGE_VAL, zhi = -HUGE_VAL;
    std::size_t blank = 0;
    for (double v : z) {
        if (!std::isfinite(v)) {
            blank++;
            continue;
        }
        zlo = std::min(zlo, v);
        zhi = std::max(zhi, v);
    }
    if (blank == z.size()) throw DataError("the member has no finite value on the plotted plane");
    const double zmin = zlo, zmax = zhi > zlo ? zhi : zlo + 1.0;
    std::vector<double> levels(static_cast<std::size_t>(o.levels) + 1);
    for (std::size_t k = 0; k < levels.size(); k++) {
        levels[k] = zmin + (zmax - zmin) * static_cast<double>(k) / static_cast<double>(o.levels);
    }

    // Regions met by the slice plane, and the vertex if it lies in it.
    auto off_plane2 = [&](std::span<const double> c) {
        double s = 0.0;
        for (std::uint32_t k = 0; k < n; k++) {
            if (k != l.ax && k != l.ay) s += (c[k] - gmin[k]) * (c[k] - gmin[k]);
        }
        return s;
    };
    std::vector<Circle> circles;
    for (std::uint32_t row = 1; row < f.num_minima(); row++) {
        const auto c = f.minimizer(row);
        const double rho = f.radii()[row], d2 = off_plane2(c);
        if (d2 < rho * rho) circles.push_back({c[l.ax], c[l.ay], std::sqrt(rho * rho - d2), d2 < 1e-20, row});
    }
    const auto vertex = f.minimizer(0);
    const bool vertex_in_plane = off_plane2(vertex) < 1e-20;

    // Drawing. A large grid takes a while to draw: say so on a terminal.
    const bool say_drawing = z.size() > 1000000 && isatty(STDERR_FILENO) == 1;
    if (say_drawing) {
        std::fprintf(stderr, "travo plot: drawing");
        std::fflush(stderr);
    }
    g_partial = partial;
    plsexit(on_plplot_exit);
    plsdev(l.device);
    plsfnam(partial.c_str());
    const Frame fr = frame_for(l.width, l.height, aspect, n > 2);
    const double s = fr.scale, t = fr.text;
    plspage(0, 0, fr.width, fr.height, 0, 0);
    plscolbg(255, 255, 255);
    plscmap0n(16);
    plinit();
    plscol0(kWhite, 255, 255, 255);
    plscol0(kBlack, 0, 0, 0);
    plscol0(kRed, 230, 30, 45);
    plscol0(kMarker, 255, 255, 255);
    plscol0(kOrange, 255, 150, 30);
    plscol0(kLegendBack, 52, 52, 52);
    {
        double pos[9], r[9], g[9], b[9];
        for (int k = 0; k < 9; k++) {
            pos[k] = k / 8.0;
            r[k] = kViridis[k][0] / 255.0;
            g[k] = kViridis[k][1] / 255.0;
            b[k] = kViridis[k][2] / 255.0;
        }
        plscmap1n(256);
        plscmap1l(1, 9, pos, r, g, b, nullptr);
    }
    pladv(0);
    plschr(0.0, t);
    plvpor(fr.vx0, fr.vx1, fr.vy0, fr.vy1);
    plwind(x0, x1, y0, y1);

    std::vector<const double *> columns(nx);
    for (std::size_t i = 0; i < nx; i++) columns[i] = z.data() + i * ny;
    // PNG twice: the second pass covers the faint seams that anti-aliasing
    // leaves between the fill polygons of the first. SVG outlines every
    // polygon in its own colour, which hides them, so once is enough there.
    const int passes = std::string(l.device) == "pngcairo" ? 2 : 1;
    for (int pass = 0; pass < passes; pass++) {
        plshades(columns.data(), static_cast<PLINT>(nx), static_cast<PLINT>(ny), nullptr, x0, x1, y0, y1,
                 levels.data(), static_cast<PLINT>(levels.size()), 1.0, 0, 0.0, plfill, 1, nullptr, nullptr);
    }

    // Region boundaries, then the minimizers on top.
    plcol0(kMarker);
    plwidth(1.2 * s);
    for (const Circle &c : circles) plarc(c.x, c.y, c.r, c.r, 0.0, 360.0, 0.0, 0);
    plwidth(1.0);
    std::vector<double> lx, ly, gx, gy;
    const auto glob = f.global_minimizers();
    for (const Circle &c : circles) {
        if (!c.centre_in_plane) continue;
        const bool global = std::find(glob.begin(), glob.end(), c.row) != glob.end();
        (global ? gx : lx).push_back(c.x);
        (global ? gy : ly).push_back(c.y);
    }
    plschr(0.0, 0.9 * t);
    plcol0(kMarker);
    if (!lx.empty()) plstring(static_cast<PLINT>(lx.size()), lx.data(), ly.data(), "●");
    plschr(0.0, t);
    if (vertex_in_plane) {
        const double vx = vertex[l.ax], vy = vertex[l.ay];
        plcol0(kOrange);
        plstring(1, &vx, &vy, "✚");
    }
    plschr(0.0, 1.6 * t);
    plcol0(kRed);
    plstring(static_cast<PLINT>(gx.size()), gx.data(), gy.data(), "★");
    plschr(0.0, t);

    // Axes, labels, title.
    plcol0(kBlack);
    plbox("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
    const std::string xl = "x#d" + std::to_string(l.ax + 1) + "#u", yl = "x#d" + std::to_string(l.ay + 1) + "#u";
    plmtex("b", 3.0, 0.5, 0.5, xl.c_str());
    plmtex("l", 4.2, 0.5, 0.5, yl.c_str());
    std::string title = o.title.empty()
                            ? std::string(kind == Kind::ND ? "ND" : kind == Kind::D ? "D" : "D2") + " member, test " +
                                  std::to_string(p.test_number) + " (dimension " + std::to_string(n) + ", " +
                                  std::to_string(f.num_minima()) + " minima)"
                            : plplot_text(o.title);
    plschr(0.0, 1.25 * t);
    plmtex("t", n > 2 ? 2.9 : 2.2, 0.5, 0.5, title.c_str());
    plschr(0.0, t);
    if (n > 2) {
        const std::string sub = "slice through the global minimizer along " + xl + " and " + yl;
        plmtex("t", 0.9, 0.5, 0.5, sub.c_str());
    }

    // Colour bar on the right, as tall as the plot, its label beside it.
    {
        PLFLT cb_w = 0, cb_h = 0;
        const char *axis_opts[] = {"bcvtm"};
        const PLFLT ticks[] = {tick_step(zmax - zmin)};
        const PLINT sub_ticks[] = {0};
        const PLINT n_values[] = {static_cast<PLINT>(levels.size())};
        const PLFLT *values[] = {levels.data()};
        plcolorbar(&cb_w, &cb_h, PL_COLORBAR_SHADE, PL_POSITION_RIGHT | PL_POSITION_OUTSIDE | PL_POSITION_VIEWPORT,
                   18 * s / fr.plot_w, 0.0, 24 * s / fr.plot_w, 1.0, kWhite, kBlack, 1, 0.0, 0.0, 0, 0.0, 0, nullptr, nullptr, 1, axis_opts,
                   ticks, sub_ticks, n_values, values);
        plcol0(kBlack);
        plmtex("r", 6.5, 0.5, 0.5, "f(x)");
    }

    // Legend below the x label, of what the picture shows.
    {
        struct Entry {
            PLINT opt;
            const char *text;
            PLINT symbol_colour;
            PLFLT symbol_scale;
            const char *symbol;
        };
        std::vector<Entry> entries;
        if (!gx.empty()) entries.push_back({PL_LEGEND_SYMBOL, "global minimizer", kRed, 1.6, "  ★"});
        if (!lx.empty()) entries.push_back({PL_LEGEND_SYMBOL, "local minimizer", kMarker, 0.9, "   ●"});
        if (vertex_in_plane) entries.push_back({PL_LEGEND_SYMBOL, "paraboloid vertex", kOrange, 1.0, "  ✚"});
        if (!circles.empty()) entries.push_back({PL_LEGEND_LINE, "region boundary", 0, 0.0, ""});
        const std::size_t k = entries.size();
        std::vector<PLINT> opts(k), text_colours(k, kMarker), symbol_colours(k), symbol_numbers(k, 1),
            line_colours(k, kMarker), line_styles(k, 1);
        std::vector<PLFLT> symbol_scales(k), line_widths(k, 1.2 * s);
        std::vector<const char *> text(k), symbols(k);
        for (std::size_t e = 0; e < k; e++) {
            opts[e] = entries[e].opt;
            text[e] = entries[e].text;
            symbol_colours[e] = entries[e].symbol_colour;
            symbol_scales[e] = entries[e].symbol_scale * t;
            symbols[e] = entries[e].symbol;
        }
        const auto rows = static_cast<PLINT>(k > 2 ? 2 : 1), cols = static_cast<PLINT>(k > 2 ? 2 : k);
        PLFLT lw = 0, lh = 0;
        if (k > 0) {
            pllegend(&lw, &lh, PL_LEGEND_BACKGROUND | PL_LEGEND_BOUNDING_BOX,
                     PL_POSITION_BOTTOM | PL_POSITION_OUTSIDE | PL_POSITION_VIEWPORT, 0.0, 72 * s / fr.plot_h,
                     40 * s / fr.plot_w, kLegendBack,
                     kBlack, 1, rows, cols, static_cast<PLINT>(k), opts.data(), 0.8, 0.85 * t, 2.0, 0.0,
                     text_colours.data(), text.data(), nullptr, nullptr, nullptr, nullptr, line_colours.data(),
                     line_styles.data(), line_widths.data(), symbol_colours.data(), symbol_scales.data(),
                     symbol_numbers.data(), symbols.data());
        }
    }
    plend();
    plsexit(nullptr);
    g_partial.clear();
    if (say_drawing) std::fprintf(stderr, "\r\033[K");

    if (std::rename(partial.c_str(), o.output.c_str()) != 0) {
        throw DataError("cannot write " + o.output + ": " + std::strerror(errno));
    }
    remove_partial.keep = true;
    if (blank > 0) {
        std::fprintf(stderr, "travo: warning: %zu of %zu grid points have no finite value and are left blank\n", blank,
                     z.size());
    }
}

}  // namespace travo::cli
