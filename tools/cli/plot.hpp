// Pieces of the plot subcommand shared by its files: the options checked
// into a layout and the page frame (plot_layout.cpp), the colour bands of an
// SVG picture (plot_svg.cpp) and the record written into every picture
// (plot_metadata.cpp). plot.cpp evaluates the member on the grid and draws
// with the picture library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "commands.hpp"

namespace travo::cli::plotting {

// Viridis, sampled at nine evenly spaced points: the colour map of the
// drawing, and of the SVG bands drawn without the picture library.
inline constexpr double kViridis[9][3] = {{68, 1, 84},    {71, 45, 123}, {59, 82, 139},  {44, 114, 142}, {33, 144, 140},
                                          {39, 173, 129}, {93, 200, 99}, {170, 220, 50}, {253, 231, 37}};

// The checked plot options.
struct Layout {
    int width = 0, height = 0;     // 0: fitted to the plot
    std::uint32_t ax = 0, ay = 0;  // coordinates along the axes, from 0
    const char *device = nullptr;  // the picture library's device
    std::string format;            // png, svg or pdf
    std::int64_t levels = 0;
    std::int64_t resolution = 0;  // grid points along the longer side
};

// Checks every plot option (the format was checked by the parser) for a
// member of dimension `dim`; throws UsageError.
Layout check_options(const PlotOptions &o, std::uint32_t dim);

// A round tick spacing (1, 2 or 5 times a power of ten) giving four to eight
// ticks over `range`, or at most `most` ticks.
double tick_step(double range, double most = 8.0);

// Where things go on the page. Margins and text are sized for a page of
// about 820 x 800 pixels and grow or shrink with `scale` on other sizes.
// The picture library draws text in proportion to the page width; `text`
// corrects that to `scale`.
struct Frame {
    int width = 0, height = 0;
    double scale = 1.0, text = 1.0;
    double vx0 = 0, vx1 = 0, vy0 = 0, vy1 = 0;  // plot area, normalised page coordinates
    double plot_w = 0, plot_h = 0;              // plot area in pixels
};

// The frame of a page of width x height (0 x 0: fitted to the plot) for a
// plot of the given aspect (height / width of the box), with room for
// `title_lines` lines of title and for the legend.
Frame frame_for(int width, int height, double aspect, int title_lines, bool legend);

// The values on the grid, `resolution` points along the longer side, and
// the colour levels spanning their finite ones.
struct Grid {
    double x0, x1, y0, y1;
    std::size_t nx, ny;
    std::vector<double> z;  // column by column: z[i * ny + j] at (grid_x(i), grid_y(j))
    std::vector<double> levels;
    double zmin, zmax;
    std::size_t blank = 0;  // grid points without a finite value
};

// The filled contours for SVG as one path per colour band, in page units.
std::string svg_bands(const Grid &g, const Frame &fr);

// Puts the bands into the picture library's SVG file, under everything it
// drew.
void insert_svg_bands(const std::string &file, const std::string &bands);

// The tool's version and every option behind the picture, so that it can be
// drawn again.
std::string describe_picture(const Member &f, Kind kind, const Layout &l);

// Records `text` in the picture file: a tEXt "Comment" chunk after the PNG
// header, a <metadata> element at the start of the SVG, the Subject of a PDF.
void add_metadata(const std::string &file, const std::string &format, const std::string &text);

// Reads the picture file, lets `edit` change its bytes and writes them
// back; DataError when either fails.
void edit_picture(const std::string &file, const std::function<void(std::string &)> &edit);

}  // namespace travo::cli::plotting
