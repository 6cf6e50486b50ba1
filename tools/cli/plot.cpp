// travo plot: filled contours of a 2-D member, or of the 2-D slice of a
// higher-dimensional member through its global minimizer, drawn with PLplot
// into a PNG, SVG or PDF file. For SVG the tool writes the colour bands
// itself (plot_svg.cpp), so that the file stays small; the frame, text and
// overlays come from PLplot's SVG device, which keeps text as text.
#include <plplot.h>

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "output.hpp"
#include "plot.hpp"
#include "work.hpp"

namespace travo::cli {
namespace {

using namespace plotting;

// Colour map 0 entries used for the drawing.
enum Colour : PLINT { kWhite = 0, kBlack = 1, kRed = 2, kMarker = 3, kOrange = 4, kLegendBack = 5 };

// One drawing with the picture library, from plinit() to plend(): its
// handlers for the operations it gives up on and for its exit are the
// session's while it lives, and plend() runs however the drawing ends. The
// library takes plain functions for its handlers, with no data of their
// own: they reach the session through `active`, which is set only while a
// session lives (the tool draws one picture at a time, on one thread).
class Session {
public:
    // Draws into `file` (removed if the library exits part way) with the
    // device and page size given.
    Session(const std::string &file, const char *device, const Frame &fr) : file_(file) {
        active = this;
        plsabort(on_abort);
        plsexit(on_exit);
        plsdev(device);
        plsfnam(file_.c_str());
        plspage(0, 0, fr.width, fr.height, 0, 0);
        plscolbg(255, 255, 255);
        plscmap0n(16);
        plinit();
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    ~Session() { close(); }

    // Ends the drawing; returns the first operation the library gave up on
    // (it then went on without it, so the picture is incomplete), or "".
    std::string end() {
        close();
        return aborted_;
    }

private:
    void close() {
        if (active != this) return;
        plend();
        plsexit(nullptr);
        plsabort(nullptr);
        active = nullptr;
    }
    static void on_abort(PLCHAR_VECTOR message) {
        if (active != nullptr && active->aborted_.empty()) {
            active->aborted_ = message != nullptr && *message != '\0' ? message : "unknown error";
        }
    }
    static int on_exit(PLCHAR_VECTOR message) {
        if (active != nullptr) std::remove(active->file_.c_str());
        std::fprintf(stderr, "travo: error: plotting failed: %s\n", message != nullptr ? message : "");
        return kExitData;
    }

    static inline Session *active = nullptr;
    std::string file_;
    std::string aborted_;  // the first operation the library gave up on
};

std::string plplot_text(const std::string &s) {
    // '#' starts a PLplot escape sequence; "##" is a literal '#'.
    std::string out;
    for (char c : s) {
        out += c;
        if (c == '#') out += '#';
    }
    return out;
}

// A region of the slice: its circle, and whether its minimizer lies in the
// slice plane.
struct Circle {
    double x, y, r;
    bool centre_in_plane;
    std::uint32_t row;
};

// Where the slice lies: the global minimizer, or the member's only plane.
Grid evaluate_grid(const Member &f, Kind kind, const Layout &l, unsigned threads) {
    const Parameters &p = f.parameters();
    const std::uint32_t n = f.dim();
    Grid g;
    g.x0 = p.lower[l.ax];
    g.x1 = p.upper[l.ax];
    g.y0 = p.lower[l.ay];
    g.y1 = p.upper[l.ay];
    const double aspect = (g.y1 - g.y0) / (g.x1 - g.x0);
    const auto res = static_cast<double>(l.resolution);
    g.nx = static_cast<std::size_t>(std::max(10.0, std::round(aspect > 1 ? res / aspect : res)));
    g.ny = static_cast<std::size_t>(std::max(10.0, std::round(aspect > 1 ? res : res * aspect)));
    const std::size_t nx = g.nx, ny = g.ny;
    auto grid_x = [&](std::size_t i) {
        return i + 1 == nx ? g.x1 : g.x0 + (g.x1 - g.x0) * static_cast<double>(i) / (nx - 1);
    };
    auto grid_y = [&](std::size_t j) {
        return j + 1 == ny ? g.y1 : g.y0 + (g.y1 - g.y0) * static_cast<double>(j) / (ny - 1);
    };

    const auto gmin = f.minimizer(1);
    g.z.resize(nx * ny);
    // The tool's threads share the columns; each evaluates its own on the
    // calling thread (threads = 1): no threads inside threads.
    run_chunks(nx, 4, threads, "travo plot: evaluating", [&](std::size_t begin, std::size_t end) {
        std::vector<double> pts(ny * n);
        for (std::size_t i = begin; i < end; i++) {
            for (std::size_t j = 0; j < ny; j++) {
                double *x = pts.data() + j * n;
                std::copy(gmin.begin(), gmin.end(), x);
                x[l.ax] = grid_x(i);
                x[l.ay] = grid_y(j);
            }
            f.values(kind, pts, std::span<double>(g.z.data() + i * ny, ny), 1);
        }
    });
    // Extreme parameters can overflow double arithmetic; such points stay
    // blank and the colours span the finite values.
    double zlo = HUGE_VAL, zhi = -HUGE_VAL;
    for (double v : g.z) {
        if (!std::isfinite(v)) {
            g.blank++;
            continue;
        }
        zlo = std::min(zlo, v);
        zhi = std::max(zhi, v);
    }
    if (g.blank == g.z.size()) throw DataError("the member has no finite value on the plotted plane");
    g.zmin = zlo;
    g.zmax = zhi > zlo ? zhi : zlo + 1.0;
    g.levels.resize(static_cast<std::size_t>(l.levels) + 1);
    for (std::size_t k = 0; k < g.levels.size(); k++) {
        g.levels[k] = g.zmin + (g.zmax - g.zmin) * static_cast<double>(k) / static_cast<double>(l.levels);
    }
    return g;
}

// What is drawn over the colours: region boundaries met by the slice plane,
// the minimizers in it, and the vertex if it lies in it.
struct Overlays {
    std::vector<Circle> circles;
    std::vector<double> lx, ly, gx, gy;  // local and global minimizers
    bool vertex_in_plane = false;
    double vx = 0, vy = 0;
};

// A circle smaller than `min_radius` (in plot units) is too small to see and
// is left out: drawing it would fail in the picture library.
Overlays find_overlays(const Member &f, const Layout &l, double min_radius) {
    const std::uint32_t n = f.dim();
    const auto gmin = f.minimizer(1);
    auto off_plane2 = [&](std::span<const double> c) {
        double s = 0.0;
        for (std::uint32_t k = 0; k < n; k++) {
            if (k != l.ax && k != l.ay) s += (c[k] - gmin[k]) * (c[k] - gmin[k]);
        }
        return s;
    };
    Overlays o;
    const auto glob = f.global_minimizers();
    for (std::uint32_t row = 1; row < f.num_minima(); row++) {
        const auto c = f.minimizer(row);
        const double rho = f.radii()[row], d2 = off_plane2(c);
        if (!(d2 < rho * rho)) continue;
        const Circle circle{c[l.ax], c[l.ay], std::sqrt(rho * rho - d2), d2 < 1e-20, row};
        if (circle.r >= min_radius) o.circles.push_back(circle);
        if (!circle.centre_in_plane) continue;
        const bool global = std::find(glob.begin(), glob.end(), row) != glob.end();
        (global ? o.gx : o.lx).push_back(circle.x);
        (global ? o.gy : o.ly).push_back(circle.y);
    }
    const auto vertex = f.minimizer(0);
    o.vertex_in_plane = off_plane2(vertex) < 1e-20;
    o.vx = vertex[l.ax];
    o.vy = vertex[l.ay];
    return o;
}

std::string short_number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
}

// The coordinates held fixed in the slice, for the subtitle: the first few,
// then how many more.
std::string slice_point(const Member &f, const Layout &l) {
    const auto gmin = f.minimizer(1);
    std::string s;
    std::size_t shown = 0, fixed = 0;
    for (std::uint32_t k = 0; k < f.dim(); k++) {
        if (k == l.ax || k == l.ay) continue;
        fixed++;
        if (shown == 2) continue;
        s += (shown > 0 ? ", " : "") + std::string("x#d") + std::to_string(k + 1) + "#u = " + short_number(gmin[k]);
        shown++;
    }
    if (fixed > shown) s += ", ... (" + std::to_string(fixed - shown) + " more)";
    return s;
}

void set_colours() {
    plscol0(kWhite, 255, 255, 255);
    plscol0(kBlack, 0, 0, 0);
    plscol0(kRed, 230, 30, 45);
    plscol0(kMarker, 255, 255, 255);
    plscol0(kOrange, 255, 150, 30);
    plscol0(kLegendBack, 52, 52, 52);
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

void draw_field(const Grid &g, const Layout &l) {
    std::vector<const double *> columns(g.nx);
    for (std::size_t i = 0; i < g.nx; i++) columns[i] = g.z.data() + i * g.ny;
    // PNG twice: the second pass covers the faint seams that anti-aliasing
    // leaves between the fill polygons of the first. PDF outlines every
    // polygon in its own colour, which hides them, so once is enough.
    const int passes = l.format == "png" ? 2 : 1;
    for (int pass = 0; pass < passes; pass++) {
        plshades(columns.data(), static_cast<PLINT>(g.nx), static_cast<PLINT>(g.ny), nullptr, g.x0, g.x1, g.y0, g.y1,
                 g.levels.data(), static_cast<PLINT>(g.levels.size()), 1.0, 0, 0.0, plfill, 1, nullptr, nullptr);
    }
}

void draw_overlays(const Overlays &o, const PlotOptions &opts, const Frame &fr) {
    const double s = fr.scale, t = fr.text;
    if (!opts.no_circles) {
        plcol0(kMarker);
        plwidth(1.2 * s);
        for (const Circle &c : o.circles) plarc(c.x, c.y, c.r, c.r, 0.0, 360.0, 0.0, 0);
        plwidth(1.0);
    }
    if (opts.no_markers) return;
    plschr(0.0, 0.9 * t);
    plcol0(kMarker);
    if (!o.lx.empty()) plstring(static_cast<PLINT>(o.lx.size()), o.lx.data(), o.ly.data(), "●");
    plschr(0.0, t);
    if (o.vertex_in_plane) {
        plcol0(kOrange);
        plstring(1, &o.vx, &o.vy, "✚");
    }
    plschr(0.0, 1.6 * t);
    plcol0(kRed);
    if (!o.gx.empty()) plstring(static_cast<PLINT>(o.gx.size()), o.gx.data(), o.gy.data(), "★");
    plschr(0.0, t);
}

// Axes, labels, title, colour bar and legend.
void draw_frame(const Member &f, const Grid &g, const Overlays &o, const Layout &l, const PlotOptions &opts, Kind kind,
                const Frame &fr, const std::string &title) {
    const double s = fr.scale, t = fr.text;
    const std::uint32_t n = f.dim();
    plcol0(kBlack);
    // Labels of about 70 pixels apart at most, so that they never overlap.
    plbox("bcnst", tick_step(g.x1 - g.x0, std::max(2.0, fr.plot_w / (70 * s))), 0, "bcnstv",
          tick_step(g.y1 - g.y0, std::max(2.0, fr.plot_h / (45 * s))), 0);
    const std::string xl = "x#d" + std::to_string(l.ax + 1) + "#u", yl = "x#d" + std::to_string(l.ay + 1) + "#u";
    plmtex("b", 3.0, 0.5, 0.5, xl.c_str());
    plmtex("l", 4.2, 0.5, 0.5, yl.c_str());
    // Title and slice line centred on the page, not on a narrow plot.
    plvpor(0.0, 1.0, fr.vy0, fr.vy1);
    if (!title.empty()) {
        plschr(0.0, 1.25 * t);
        plmtex("t", n > 2 ? 3.3 : 2.2, 0.5, 0.5, title.c_str());
        plschr(0.0, t);
    }
    if (n > 2) {
        const std::string sub = "slice through the global minimizer: " + slice_point(f, l);
        plschr(0.0, 0.9 * t);
        plmtex("t", 2.1, 0.5, 0.5, sub.c_str());
        plschr(0.0, t);
    }
    plvpor(fr.vx0, fr.vx1, fr.vy0, fr.vy1);
    plwind(g.x0, g.x1, g.y0, g.y1);

    // Colour bar on the right, as tall as the plot, labelled at its ends
    // with the lowest and highest value drawn, its name beside it.
    {
        PLFLT cb_w = 0, cb_h = 0;
        const char *axis_opts[] = {"bcvtm"};
        const PLFLT ticks[] = {tick_step(g.zmax - g.zmin)};
        const PLINT sub_ticks[] = {0};
        const PLINT n_values[] = {static_cast<PLINT>(g.levels.size())};
        const PLFLT *values[] = {g.levels.data()};
        plcolorbar(&cb_w, &cb_h, PL_COLORBAR_SHADE, PL_POSITION_RIGHT | PL_POSITION_OUTSIDE | PL_POSITION_VIEWPORT,
                   18 * s / fr.plot_w, 0.0, 24 * s / fr.plot_w, 1.0, kWhite, kBlack, 1, 0.0, 0.0, 0, 0.0, 0, nullptr,
                   nullptr, 1, axis_opts, ticks, sub_ticks, n_values, values);
        plcol0(kBlack);
        plmtex("r", 8.0, 0.5, 0.5, kind == Kind::ND ? "ND f(x)" : kind == Kind::D ? "D f(x)" : "D2 f(x)");
        const double at = 1.0 + 18 * s / fr.plot_w;
        plschr(0.0, 0.85 * t);
        plmtex("t", 0.9, at, 0.0, ("max " + short_number(g.zmax)).c_str());
        plmtex("b", 3.2, at, 0.0, ("min " + short_number(g.zmin)).c_str());
        plschr(0.0, t);
    }
    if (opts.no_legend) return;

    // Legend below the x label, of what the picture shows.
    struct Entry {
        PLINT opt;
        const char *text;
        PLINT symbol_colour;
        PLFLT symbol_scale;
        const char *symbol;
    };
    std::vector<Entry> entries;
    if (!opts.no_markers) {
        if (!o.gx.empty()) entries.push_back({PL_LEGEND_SYMBOL, "global minimizer", kRed, 1.6, "  ★"});
        if (!o.lx.empty()) entries.push_back({PL_LEGEND_SYMBOL, "local minimizer", kMarker, 0.9, "   ●"});
        if (o.vertex_in_plane) entries.push_back({PL_LEGEND_SYMBOL, "paraboloid vertex", kOrange, 1.0, "  ✚"});
    }
    if (!opts.no_circles && !o.circles.empty()) entries.push_back({PL_LEGEND_LINE, "region boundary", 0, 0.0, ""});
    const std::size_t k = entries.size();
    if (k == 0) return;
    std::vector<PLINT> kinds(k), text_colours(k, kMarker), symbol_colours(k), symbol_numbers(k, 1),
        line_colours(k, kMarker), line_styles(k, 1);
    std::vector<PLFLT> symbol_scales(k), line_widths(k, 1.2 * s);
    std::vector<const char *> text(k), symbols(k);
    for (std::size_t e = 0; e < k; e++) {
        kinds[e] = entries[e].opt;
        text[e] = entries[e].text;
        symbol_colours[e] = entries[e].symbol_colour;
        symbol_scales[e] = entries[e].symbol_scale * t;
        symbols[e] = entries[e].symbol;
    }
    const auto rows = static_cast<PLINT>(k > 2 ? 2 : 1), cols = static_cast<PLINT>(k > 2 ? 2 : k);
    PLFLT lw = 0, lh = 0;
    pllegend(&lw, &lh, PL_LEGEND_BACKGROUND | PL_LEGEND_BOUNDING_BOX,
             PL_POSITION_BOTTOM | PL_POSITION_OUTSIDE | PL_POSITION_VIEWPORT, 0.0, 72 * s / fr.plot_h,
             40 * s / fr.plot_w, kLegendBack, kBlack, 1, rows, cols, static_cast<PLINT>(k), kinds.data(), 0.8, 0.85 * t,
             2.0, 0.0, text_colours.data(), text.data(), nullptr, nullptr, nullptr, nullptr, line_colours.data(),
             line_styles.data(), line_widths.data(), symbol_colours.data(), symbol_scales.data(), symbol_numbers.data(),
             symbols.data());
}

}  // namespace

void run_plot(const MemberOptions &member, const PlotOptions &o) {
    const Kind kind = kind_of(o.kind);
    const unsigned threads = thread_count(o.threads);
    const Layout l = check_options(o, member.parameters().dim);
    Output out(o.output, "cannot write");
    const Member f = member.generate();
    const std::uint32_t n = f.dim();

    const Grid g = evaluate_grid(f, kind, l, threads);
    const std::string title = o.title_given
                                  ? plplot_text(o.title)
                                  : std::string(kind_name(kind)) + " member, test " +
                                        std::to_string(f.parameters().test_number) + " (dimension " +
                                        std::to_string(n) + ", " + std::to_string(f.num_minima()) + " minima)";
    const int title_lines = (title.empty() ? 0 : 1) + (n > 2 ? 1 : 0);
    const Frame fr = frame_for(l.width, l.height, (g.y1 - g.y0) / (g.x1 - g.x0), title_lines, !o.no_legend);
    // Half a pixel, in plot units: a circle smaller than that cannot be seen.
    const Overlays overlays = find_overlays(f, l, 0.5 * (g.x1 - g.x0) / fr.plot_w);

    // Drawing. A large grid takes a while to draw: say so on a terminal.
    const bool say_drawing = g.z.size() > 1000000 && isatty(STDERR_FILENO) == 1;
    if (say_drawing) {
        std::fprintf(stderr, "travo plot: drawing");
        std::fflush(stderr);
    }
    // The picture library and its font and drawing libraries stop the
    // process when they run out of memory part way (some of them abort).
    // Checking that the memory they need is there first turns the common
    // case into the tool's own "out of memory".
    {
        const std::size_t need = (std::size_t{64} << 20) + 4 * sizeof(double) * g.z.size() +
                                 4 * static_cast<std::size_t>(fr.width) * static_cast<std::size_t>(fr.height);
        // Through a volatile pointer: a compiler may otherwise drop an
        // allocation that is freed unused (clang does), and the check with it.
        void *volatile probe = std::malloc(need);
        if (probe == nullptr) throw std::bad_alloc();
        std::free(probe);
    }
    std::string aborted;
    {
        Session session(out.staging_file(), l.device, fr);
        set_colours();
        pladv(0);
        plschr(0.0, fr.text);
        plvpor(fr.vx0, fr.vx1, fr.vy0, fr.vy1);
        plwind(g.x0, g.x1, g.y0, g.y1);
        if (l.format != "svg") draw_field(g, l);
        draw_overlays(overlays, o, fr);
        draw_frame(f, g, overlays, l, o, kind, fr, title);
        aborted = session.end();
    }
    if (say_drawing) std::fprintf(stderr, "\r\033[K");
    if (!aborted.empty()) {
        if (aborted.find("allocate") != std::string::npos) throw std::bad_alloc();
        throw DataError("plotting failed: " + aborted);
    }

    if (l.format == "svg") insert_svg_bands(out.staging_file(), svg_bands(g, fr));
    add_metadata(out.staging_file(), l.format, describe_picture(f, kind, l));
    out.commit();
    if (g.blank > 0) {
        std::fprintf(stderr, "travo: warning: %zu of %zu grid points have no finite value and are left blank\n",
                     g.blank, g.z.size());
    }
}

}  // namespace travo::cli
