// The colour bands of an SVG picture, written by the tool itself so that the
// file stays small: the picture library would write every cell of the grid.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "plot.hpp"

namespace travo::cli::plotting {
namespace {

// The colour of band k of `bands`, as the picture library's colour map 1
// gives it to its shades.
std::string band_colour(std::size_t k, std::size_t bands) {
    const double t = bands > 1 ? 8.0 * static_cast<double>(k) / static_cast<double>(bands - 1) : 0.0;
    const int a = std::min(7, static_cast<int>(t));
    const double w = t - a;
    char buf[8];
    int c[3];
    for (int i = 0; i < 3; i++) c[i] = static_cast<int>(std::lround(kViridis[a][i] * (1 - w) + kViridis[a + 1][i] * w));
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c[0], c[1], c[2]);
    return buf;
}

}  // namespace

// The filled contours for SVG as one path per colour band, in page units
// (the picture library's SVG draws in them, y upwards). Cells wholly inside
// a band are merged into rectangles along each grid row; a cell that a
// level crosses is cut into two triangles, each clipped to each band it
// meets (values linear along the edges). Cells with a value that is not
// finite stay blank.
std::string svg_bands(const Grid &g, const Frame &fr) {
    const std::size_t bands = g.levels.size() - 1, nx = g.nx, ny = g.ny;
    const double px0 = fr.vx0 * fr.width, py0 = fr.vy0 * fr.height;
    const double sx = fr.plot_w / static_cast<double>(nx - 1), sy = fr.plot_h / static_cast<double>(ny - 1);
    auto band_of = [&](double v) {
        const double t = (v - g.zmin) / (g.zmax - g.zmin) * static_cast<double>(bands);
        return static_cast<std::size_t>(std::clamp(std::floor(t), 0.0, static_cast<double>(bands - 1)));
    };
    auto z = [&](std::size_t i, std::size_t j) { return g.z[i * ny + j]; };
    std::vector<std::string> paths(bands);
    struct P {
        double x, y, v;
    };
    // Tenths of a page unit, as short as they go: "0.5" as ".5", "2.0" as "2".
    auto put = [&](std::string &d, double v) {
        const long tenths = std::lround(v * 10);
        const long whole = std::labs(tenths) / 10, tenth = std::labs(tenths) % 10;
        if (tenths < 0) d += '-';
        if (whole != 0 || tenth == 0) d += std::to_string(whole);
        if (tenth != 0) d += "." + std::to_string(tenth);
    };
    // The first vertex absolute, the others relative to the one before, in
    // the rounded units written, so that no rounding accumulates.
    auto add_polygon = [&](std::string &d, const std::vector<P> &poly) {
        double ax = 0, ay = 0;
        for (std::size_t k = 0; k < poly.size(); k++) {
            const double x = std::round((px0 + poly[k].x * sx) * 10) / 10,
                         y = std::round((py0 + poly[k].y * sy) * 10) / 10;
            d += k == 0 ? 'M' : k == 1 ? 'l' : ' ';
            put(d, k == 0 ? x : x - ax);
            d += ' ';
            put(d, k == 0 ? y : y - ay);
            ax = x;
            ay = y;
        }
        d += 'z';
    };
    // Keeps the part of `poly` where v >= lo (keep_above) or v <= lo.
    auto clip = [](const std::vector<P> &poly, double lo, bool keep_above) {
        std::vector<P> out;
        for (std::size_t k = 0; k < poly.size(); k++) {
            const P &a = poly[k], &b = poly[(k + 1) % poly.size()];
            const bool ina = keep_above ? a.v >= lo : a.v <= lo, inb = keep_above ? b.v >= lo : b.v <= lo;
            if (ina) out.push_back(a);
            if (ina != inb) {
                const double t = (lo - a.v) / (b.v - a.v);
                out.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), lo});
            }
        }
        return out;
    };
    for (std::size_t j = 0; j + 1 < ny; j++) {
        std::size_t run_start = 0, run_band = 0;
        bool in_run = false;
        auto close_run = [&](std::size_t end) {
            if (!in_run) return;
            const double x = static_cast<double>(run_start), y = static_cast<double>(j);
            add_polygon(
                paths[run_band],
                {{x, y, 0}, {static_cast<double>(end), y, 0}, {static_cast<double>(end), y + 1, 0}, {x, y + 1, 0}});
            in_run = false;
        };
        for (std::size_t i = 0; i + 1 < nx; i++) {
            const double c[4] = {z(i, j), z(i + 1, j), z(i + 1, j + 1), z(i, j + 1)};
            if (!(std::isfinite(c[0]) && std::isfinite(c[1]) && std::isfinite(c[2]) && std::isfinite(c[3]))) {
                close_run(i);
                continue;
            }
            const std::size_t b0 = band_of(c[0]);
            if (band_of(c[1]) == b0 && band_of(c[2]) == b0 && band_of(c[3]) == b0) {
                if (in_run && run_band != b0) close_run(i);
                if (!in_run) {
                    in_run = true;
                    run_start = i;
                    run_band = b0;
                }
                continue;
            }
            close_run(i);
            const double x = static_cast<double>(i), y = static_cast<double>(j);
            const std::vector<P> tris[2] = {{{x, y, c[0]}, {x + 1, y, c[1]}, {x + 1, y + 1, c[2]}},
                                            {{x, y, c[0]}, {x + 1, y + 1, c[2]}, {x, y + 1, c[3]}}};
            for (const auto &tri : tris) {
                const double lo = std::min({tri[0].v, tri[1].v, tri[2].v}),
                             hi = std::max({tri[0].v, tri[1].v, tri[2].v});
                for (std::size_t k = band_of(lo); k <= band_of(hi); k++) {
                    std::vector<P> part = tri;
                    if (k > 0) part = clip(part, g.levels[k], true);
                    if (k + 1 < bands && part.size() >= 3) part = clip(part, g.levels[k + 1], false);
                    if (part.size() >= 3) add_polygon(paths[k], part);
                }
            }
        }
        close_run(nx - 1);
    }
    std::string out;
    for (std::size_t k = 0; k < bands; k++) {
        if (paths[k].empty()) continue;
        const std::string colour = band_colour(k, bands);
        out += "<path fill=\"" + colour + "\" stroke=\"" + colour + "\" stroke-width=\"0.6\" d=\"" + paths[k] +
               "\"/>\n";
    }
    return out;
}

void insert_svg_bands(const std::string &file, const std::string &bands) {
    edit_picture(file, [&bands](std::string &pic) {
        const auto rect = pic.find("<rect");
        const auto group = rect == std::string::npos ? rect : pic.find("<g", rect);
        const auto open = group == std::string::npos ? group : pic.find('>', group);
        if (open == std::string::npos) throw DataError("cannot complete the picture: the picture library wrote no SVG");
        pic.insert(open + 1, "\n" + bands);
    });
}

}  // namespace travo::cli::plotting
