// SPDX-License-Identifier: GPL-3.0-or-later
// Finding a sheet of paper in a photo: the bright, colourless area against the table, its outline,
// the quadrilateral that outline makes, and the proportions of the rectangle it shows.
#include "cleaning/sheet.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace cleaning {

RgbImage shrunk(const RgbImage& image, int longest) {
    const int factor = std::max(1, int(std::ceil(double(std::max(image.width, image.height)) / std::max(1, longest))));
    RgbImage out;
    out.width = std::max(1, image.width / factor);
    out.height = std::max(1, image.height / factor);
    out.pixels.assign(std::size_t(out.width) * std::size_t(out.height) * 3, 0);
    const std::size_t inW = std::size_t(image.width);
    std::vector<std::uint32_t> sums(std::size_t(out.width) * 3);
    for (int oy = 0; oy < out.height; ++oy) {
        std::fill(sums.begin(), sums.end(), 0);
        const int rows = std::min(factor, image.height - oy * factor);
        for (int dy = 0; dy < rows; ++dy) {
            const std::uint8_t* row = image.pixels.data() + (std::size_t(oy) * std::size_t(factor) + std::size_t(dy)) * inW * 3;
            for (int ox = 0; ox < out.width; ++ox) {
                const int cols = std::min(factor, image.width - ox * factor);
                for (int dx = 0; dx < cols; ++dx)
                    for (int c = 0; c < 3; ++c)
                        sums[std::size_t(ox) * 3 + std::size_t(c)] += row[(std::size_t(ox) * std::size_t(factor) + std::size_t(dx)) * 3 + std::size_t(c)];
            }
        }
        for (int ox = 0; ox < out.width; ++ox) {
            const std::uint32_t count = std::uint32_t(rows * std::min(factor, image.width - ox * factor));
            for (int c = 0; c < 3; ++c)
                out.pixels[(std::size_t(oy) * std::size_t(out.width) + std::size_t(ox)) * 3 + std::size_t(c)] =
                    std::uint8_t(sums[std::size_t(ox) * 3 + std::size_t(c)] / std::max(1u, count));
        }
    }
    return out;
}

namespace {

double cross(const Point& o, const Point& a, const Point& b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }
double distance(const Point& a, const Point& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// Twice the signed area of a polygon; positive when it runs clockwise on the picture (y down).
template <typename Polygon>
double doubleArea(const Polygon& p) {
    double sum = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const Point& a = p[i];
        const Point& b = p[(i + 1) % p.size()];
        sum += a.x * b.y - b.x * a.y;
    }
    return sum;
}

// The threshold that best splits a histogram in two (Otsu's).
int splitOf(const std::vector<std::uint64_t>& histogram) {
    double total = 0, sum = 0;
    for (int v = 0; v < 256; ++v) total += double(histogram[std::size_t(v)]), sum += double(v) * double(histogram[std::size_t(v)]);
    double below = 0, belowSum = 0, best = -1;
    int split = 128;
    for (int t = 0; t < 255; ++t) {
        below += double(histogram[std::size_t(t)]);
        belowSum += double(t) * double(histogram[std::size_t(t)]);
        const double above = total - below;
        if (below == 0 || above == 0) continue;
        const double m0 = belowSum / below, m1 = (sum - belowSum) / above;
        const double between = below * above * (m0 - m1) * (m0 - m1);
        if (between > best) best = between, split = t;
    }
    return split;
}

// The pixels reached from the seeds through pixels for which `open` holds (4-connected).
template <typename Open>
std::vector<std::uint8_t> reached(int width, int height, const std::vector<int>& seeds, Open open) {
    std::vector<std::uint8_t> in(std::size_t(width) * std::size_t(height), 0);
    std::vector<int> stack;
    for (const int s : seeds)
        if (!in[std::size_t(s)] && open(s)) in[std::size_t(s)] = 1, stack.push_back(s);
    while (!stack.empty()) {
        const int i = stack.back();
        stack.pop_back();
        const int x = i % width, y = i / width;
        const int next[4] = {x > 0 ? i - 1 : -1, x + 1 < width ? i + 1 : -1, y > 0 ? i - width : -1,
                             y + 1 < height ? i + width : -1};
        for (const int j : next)
            if (j >= 0 && !in[std::size_t(j)] && open(j)) in[std::size_t(j)] = 1, stack.push_back(j);
    }
    return in;
}

// The convex hull, clockwise on the picture (Andrew's monotone chain).
std::vector<Point> hullOf(std::vector<Point> points) {
    std::sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    if (points.size() < 3) return points;
    std::vector<Point> hull(2 * points.size());
    std::size_t k = 0;
    for (const Point& p : points) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], p) <= 0) --k;
        hull[k++] = p;
    }
    for (std::size_t i = points.size() - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) --k;
        hull[k++] = points[i];
    }
    hull.resize(k - 1);
    if (doubleArea(hull) < 0) std::reverse(hull.begin(), hull.end());
    return hull;
}

// A straight line through a point along a unit direction.
struct Line {
    Point at, along;
};

// The line that best fits the points (least squares across it); false for fewer than 8 points.
bool fitLine(const std::vector<Point>& points, Line* line) {
    if (points.size() < 8) return false;
    double mx = 0, my = 0;
    for (const Point& p : points) mx += p.x, my += p.y;
    mx /= double(points.size()), my /= double(points.size());
    double xx = 0, xy = 0, yy = 0;
    for (const Point& p : points) xx += (p.x - mx) * (p.x - mx), xy += (p.x - mx) * (p.y - my), yy += (p.y - my) * (p.y - my);
    const double angle = 0.5 * std::atan2(2 * xy, xx - yy);
    *line = {{mx, my}, {std::cos(angle), std::sin(angle)}};
    return true;
}

bool meet(const Line& a, const Line& b, Point* at) {
    const double det = a.along.x * b.along.y - a.along.y * b.along.x;
    if (std::abs(det) < 1e-9) return false;
    const double t = ((b.at.x - a.at.x) * b.along.y - (b.at.y - a.at.y) * b.along.x) / det;
    *at = {a.at.x + t * a.along.x, a.at.y + t * a.along.y};
    return true;
}

// The outline points near the side from a to b, away from its ends, within `reach` of `line`.
std::vector<Point> nearSide(const std::vector<Point>& outline, const Point& a, const Point& b, const Line& line, double reach) {
    const double length = distance(a, b);
    std::vector<Point> near;
    if (length <= 0) return near;
    const Point along{(b.x - a.x) / length, (b.y - a.y) / length};
    for (const Point& p : outline) {
        const double t = ((p.x - a.x) * along.x + (p.y - a.y) * along.y) / length;
        const double off = std::abs((p.x - line.at.x) * line.along.y - (p.y - line.at.y) * line.along.x);
        if (t > 0.1 && t < 0.9 && off <= reach) near.push_back(p);
    }
    return near;
}

double cornerAngle(const Point& before, const Point& at, const Point& after) {
    const double ax = before.x - at.x, ay = before.y - at.y, bx = after.x - at.x, by = after.y - at.y;
    return std::acos(std::clamp((ax * bx + ay * by) / (std::hypot(ax, ay) * std::hypot(bx, by)), -1.0, 1.0)) * 180 / M_PI;
}

}  // namespace

std::optional<Corners> findSheet(const RgbImage& photo) {
    const int w = photo.width, h = photo.height;
    if (w < 32 || h < 32) return std::nullopt;
    const std::size_t n = std::size_t(w) * std::size_t(h);
    // How much a pixel looks like paper: bright and colourless. Smoothed over 3 x 3 pixels, so
    // that grain and the weave of a cloth do not decide.
    std::vector<std::uint8_t> raw(n), paper(n);
    for (std::size_t i = 0; i < n; ++i) {
        const int r = photo.pixels[3 * i], g = photo.pixels[3 * i + 1], b = photo.pixels[3 * i + 2];
        const int colour = std::max({r, g, b}) - std::min({r, g, b});
        raw[i] = std::uint8_t(std::clamp((r + g + b) / 3 - colour, 0, 255));
    }
    std::vector<std::uint64_t> histogram(256, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sum = 0, count = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int yy = y + dy, xx = x + dx;
                    if (yy >= 0 && yy < h && xx >= 0 && xx < w) sum += raw[std::size_t(yy) * std::size_t(w) + std::size_t(xx)], ++count;
                }
            const std::uint8_t v = std::uint8_t(sum / count);
            paper[std::size_t(y) * std::size_t(w) + std::size_t(x)] = v;
            ++histogram[v];
        }
    const int split = splitOf(histogram);
    double above = 0, aboveSum = 0, below = 0, belowSum = 0;
    for (int v = 0; v < 256; ++v) {
        (v > split ? above : below) += double(histogram[std::size_t(v)]);
        (v > split ? aboveSum : belowSum) += double(v) * double(histogram[std::size_t(v)]);
    }
    if (above == 0 || below == 0) return std::nullopt;
    const double paperLevel = aboveSum / above, surfaceLevel = belowSum / below;
    if (paperLevel - surfaceLevel < 40) return std::nullopt;  // nothing stands out as paper

    // The largest area clearly paper, grown into what is paper in shadow or far from the lamp.
    std::vector<int> label(n, -1);
    int best = -1;
    std::size_t bestSize = 0;
    {
        std::vector<int> stack;
        int next = 0;
        for (std::size_t s = 0; s < n; ++s) {
            if (label[s] >= 0 || paper[s] <= split) continue;
            std::size_t size = 0;
            label[s] = next, stack.push_back(int(s));
            while (!stack.empty()) {
                const int i = stack.back();
                stack.pop_back();
                ++size;
                const int x = i % w, y = i / w;
                const int around[4] = {x > 0 ? i - 1 : -1, x + 1 < w ? i + 1 : -1, y > 0 ? i - w : -1, y + 1 < h ? i + w : -1};
                for (const int j : around)
                    if (j >= 0 && label[std::size_t(j)] < 0 && paper[std::size_t(j)] > split) label[std::size_t(j)] = next, stack.push_back(j);
            }
            if (size > bestSize) bestSize = size, best = next;
            ++next;
        }
    }
    if (best < 0 || double(bestSize) < 0.08 * double(n)) return std::nullopt;
    std::vector<int> seeds;
    for (std::size_t i = 0; i < n; ++i)
        if (label[i] == best) seeds.push_back(int(i));
    const double weak = surfaceLevel + 0.5 * (split - surfaceLevel);
    std::vector<std::uint8_t> sheet = reached(w, h, seeds, [&](int i) { return paper[std::size_t(i)] > weak; });
    // Print on the sheet leaves holes: whatever the surface around cannot reach is sheet.
    std::vector<int> border;
    for (int x = 0; x < w; ++x) border.push_back(x), border.push_back((h - 1) * w + x);
    for (int y = 0; y < h; ++y) border.push_back(y * w), border.push_back(y * w + w - 1);
    const std::vector<std::uint8_t> outside = reached(w, h, border, [&](int i) { return !sheet[std::size_t(i)]; });
    std::size_t area = 0;
    for (std::size_t i = 0; i < n; ++i) area += sheet[i] = !outside[i];

    // A sheet lies clear of the photo's edges: an area running off them is no sheet seen whole.
    // (within a band of a few pixels: the edge of a photo is often a little darker, or blurred)
    const int band = 4;
    int touching[4] = {0, 0, 0, 0};
    const auto isSheet = [&](int x, int y) { return sheet[std::size_t(y) * std::size_t(w) + std::size_t(x)] != 0; };
    for (int x = 0; x < w; ++x)
        for (int d = 0; d < band; ++d) {
            if (isSheet(x, d)) { ++touching[0]; break; }
        }
    for (int x = 0; x < w; ++x)
        for (int d = 0; d < band; ++d) {
            if (isSheet(x, h - 1 - d)) { ++touching[2]; break; }
        }
    for (int y = 0; y < h; ++y)
        for (int d = 0; d < band; ++d) {
            if (isSheet(d, y)) { ++touching[3]; break; }
        }
    for (int y = 0; y < h; ++y)
        for (int d = 0; d < band; ++d) {
            if (isSheet(w - 1 - d, y)) { ++touching[1]; break; }
        }
    if (touching[0] > w / 50 || touching[2] > w / 50 || touching[1] > h / 50 || touching[3] > h / 50) return std::nullopt;

    // Its outline: the first and last sheet pixel of every row and every column.
    std::vector<Point> outline;
    for (int y = 0; y < h; ++y) {
        int first = -1, last = -1;
        for (int x = 0; x < w; ++x)
            if (sheet[std::size_t(y) * std::size_t(w) + std::size_t(x)]) last = x, first = first < 0 ? x : first;
        if (first >= 0) outline.push_back({double(first), y + 0.5}), outline.push_back({last + 1.0, y + 0.5});
    }
    for (int x = 0; x < w; ++x) {
        int first = -1, last = -1;
        for (int y = 0; y < h; ++y)
            if (sheet[std::size_t(y) * std::size_t(w) + std::size_t(x)]) last = y, first = first < 0 ? y : first;
        if (first >= 0) outline.push_back({x + 0.5, double(first)}), outline.push_back({x + 0.5, last + 1.0});
    }
    // The quadrilateral of largest area on its hull, from the hull's sharpest corners.
    std::vector<Point> hull = hullOf(outline);
    while (hull.size() > 16) {
        std::size_t flattest = 0;
        double least = 1e300;
        for (std::size_t i = 0; i < hull.size(); ++i) {
            const double a = std::abs(cross(hull[(i + hull.size() - 1) % hull.size()], hull[i], hull[(i + 1) % hull.size()]));
            if (a < least) least = a, flattest = i;
        }
        hull.erase(hull.begin() + std::ptrdiff_t(flattest));
    }
    if (hull.size() < 4) return std::nullopt;
    Corners corners;
    double largest = -1;
    const std::size_t m = hull.size();
    for (std::size_t a = 0; a < m; ++a)
        for (std::size_t b = a + 1; b < m; ++b)
            for (std::size_t c = b + 1; c < m; ++c)
                for (std::size_t d = c + 1; d < m; ++d) {
                    const Corners q{hull[a], hull[b], hull[c], hull[d]};
                    const double qa = doubleArea(q);
                    if (qa > largest) largest = qa, corners = q;
                }
    // Each side a line fitted to the outline along it: a rounded or dog-eared corner, a thumb on an
    // edge do not move the corners. The corners are where the lines meet.
    const double diagonal = std::hypot(w, h);
    std::array<Line, 4> sides;
    for (std::size_t i = 0; i < 4; ++i) {
        const Point& a = corners[i];
        const Point& b = corners[(i + 1) % 4];
        Line line{a, {(b.x - a.x) / distance(a, b), (b.y - a.y) / distance(a, b)}};
        Line fitted;
        if (fitLine(nearSide(outline, a, b, line, std::max(2.0, 0.01 * diagonal)), &fitted)) line = fitted;
        if (fitLine(nearSide(outline, a, b, line, 1.5), &fitted)) line = fitted;
        sides[i] = line;
    }
    Corners refined;
    for (std::size_t i = 0; i < 4; ++i) {
        Point at;
        const bool met = meet(sides[(i + 3) % 4], sides[i], &at);
        refined[i] = met && distance(at, corners[i]) < 0.05 * diagonal ? at : corners[i];
    }
    corners = refined;

    // A sheet: a convex quadrilateral of near right angles (a photo at an angle makes them 50 to
    // 130 degrees) that the paper fills.
    const double quadArea = doubleArea(corners) / 2;
    if (quadArea < 0.1 * double(n)) return std::nullopt;
    for (std::size_t i = 0; i < 4; ++i) {
        if (cross(corners[(i + 3) % 4], corners[i], corners[(i + 1) % 4]) <= 0) return std::nullopt;
        const double angle = cornerAngle(corners[(i + 3) % 4], corners[i], corners[(i + 1) % 4]);
        if (angle < 45 || angle > 135) return std::nullopt;
    }
    const double filled = double(area) / quadArea;
    if (filled < 0.9 || filled > 1.08) return std::nullopt;
    // Top left first: the corner nearest the photo's top left corner.
    std::size_t first = 0;
    for (std::size_t i = 1; i < 4; ++i)
        if (corners[i].x + corners[i].y < corners[first].x + corners[first].y) first = i;
    std::rotate(corners.begin(), corners.begin() + std::ptrdiff_t(first), corners.end());
    return corners;
}

Corners sharpened(const RgbImage& photo, const Corners& corners, double reach) {
    const auto paperness = [&](double x, double y) {
        const int x0 = std::clamp(int(x), 0, photo.width - 2), y0 = std::clamp(int(y), 0, photo.height - 2);
        const double fx = std::clamp(x - x0, 0.0, 1.0), fy = std::clamp(y - y0, 0.0, 1.0);
        double v[4];
        for (int k = 0; k < 4; ++k) {
            const std::uint8_t* p = photo.pixels.data() + (std::size_t(y0 + k / 2) * std::size_t(photo.width) + std::size_t(x0 + k % 2)) * 3;
            v[k] = (p[0] + p[1] + p[2]) / 3.0 - (std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}));
        }
        return (v[0] * (1 - fx) + v[1] * fx) * (1 - fy) + (v[2] * (1 - fx) + v[3] * fx) * fy;
    };
    const int steps = std::max(4, int(2 * reach));
    std::array<Line, 4> sides;
    for (std::size_t i = 0; i < 4; ++i) {
        const Point& a = corners[i];
        const Point& b = corners[(i + 1) % 4];
        const double length = distance(a, b);
        if (length < 8) return corners;
        const Point along{(b.x - a.x) / length, (b.y - a.y) / length}, out{along.y, -along.x};
        // Along each of many lines across the side, where the paper's level falls halfway to the
        // surface's.
        std::vector<Point> edge;
        std::vector<double> profile(std::size_t(2 * steps + 1));
        for (int k = 0; k <= 80; ++k) {
            const double t = 0.1 + 0.8 * k / 80;
            const Point at{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
            for (int j = -steps; j <= steps; ++j) {
                const double d = reach * j / steps;
                profile[std::size_t(j + steps)] = paperness(at.x + d * out.x, at.y + d * out.y);
            }
            const double inside = *std::max_element(profile.begin(), profile.begin() + steps);
            const double outside = *std::min_element(profile.begin() + steps + 1, profile.end());
            if (inside - outside < 30) continue;  // no clear edge here (a thumb, a shadow's end)
            const double half = (inside + outside) / 2;
            // The crossing nearest where the small copy put the side.
            double best = 1e300, crossing = 0;
            for (int j = 0; j + 1 < int(profile.size()); ++j) {
                const double p0 = profile[std::size_t(j)], p1 = profile[std::size_t(j + 1)];
                if ((p0 - half) * (p1 - half) > 0 || p0 == p1) continue;
                const double d = reach * (j - steps + (p0 - half) / (p0 - p1)) / steps;
                if (std::abs(d) < std::abs(best)) best = d, crossing = d;
            }
            if (best < 1e299) edge.push_back({at.x + crossing * out.x, at.y + crossing * out.y});
        }
        Line line;
        if (!fitLine(edge, &line)) return corners;
        // Again without the points far off the line (print close to the edge, a fold).
        std::vector<Point> near;
        for (const Point& p : edge)
            if (std::abs((p.x - line.at.x) * line.along.y - (p.y - line.at.y) * line.along.x) < 2) near.push_back(p);
        if (!fitLine(near, &line)) return corners;
        sides[i] = line;
    }
    Corners out;
    for (std::size_t i = 0; i < 4; ++i) {
        Point at;
        if (!meet(sides[(i + 3) % 4], sides[i], &at) || distance(at, corners[i]) > 3 * reach) return corners;
        out[i] = at;
    }
    return out;
}

double sheetProportions(const Corners& c, double cx, double cy) {
    // Zhang and He, "Whiteboard scanning and image enhancement" (2007): the focal length follows
    // from the vanishing directions of the sides; the rectangle's proportions then follow too.
    struct V {
        double x, y, z;
    };
    const auto at = [&](const Point& p) { return V{p.x - cx, p.y - cy, 1}; };
    const auto crossOf = [](const V& a, const V& b) { return V{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; };
    const auto dot = [](const V& a, const V& b) { return a.x * b.x + a.y * b.y + a.z * b.z; };
    const V m1 = at(c[0]), m2 = at(c[1]), m3 = at(c[3]), m4 = at(c[2]);  // the paper's numbering
    const double bySides = (distance(c[0], c[1]) + distance(c[3], c[2])) / (distance(c[0], c[3]) + distance(c[1], c[2]));
    const double k2d = dot(crossOf(m2, m4), m3), k3d = dot(crossOf(m3, m4), m2);
    if (std::abs(k2d) < 1e-12 || std::abs(k3d) < 1e-12) return bySides;
    const double k2 = dot(crossOf(m1, m4), m3) / k2d, k3 = dot(crossOf(m1, m4), m2) / k3d;
    const V n2{k2 * m2.x - m1.x, k2 * m2.y - m1.y, k2 * m2.z - m1.z};
    const V n3{k3 * m3.x - m1.x, k3 * m3.y - m1.y, k3 * m3.z - m1.z};
    // The focal length, in pixels of a photo `width` across: a phone's main camera has about 0.8
    // of the width, a wide one half, a zoom one and a half.
    const double width = 2 * cx;
    double f2 = 0;
    if (std::abs(n2.z * n3.z) > 1e-12) f2 = -(n2.x * n3.x + n2.y * n3.y) / (n2.z * n3.z);
    // With a pair of sides parallel on the photo (or nearly: a sheet seen square on, or leaning
    // only away from the camera) the corners do not tell the focal length: a camera's usual one
    // is taken.
    if (!(f2 > 0.25 * width * width && f2 < 2.6 * width * width)) f2 = 0.64 * width * width;
    return std::sqrt((n2.x * n2.x + n2.y * n2.y + f2 * n2.z * n2.z) / (n3.x * n3.x + n3.y * n3.y + f2 * n3.z * n3.z));
}

std::array<double, 8> rectangleTo(double width, double height, const Corners& to) {
    const Point from[4] = {{0, 0}, {width, 0}, {width, height}, {0, height}};
    double a[8][9] = {};
    for (int i = 0; i < 4; ++i) {
        const double u = from[i].x, v = from[i].y, x = to[std::size_t(i)].x, y = to[std::size_t(i)].y;
        const double rowX[9] = {u, v, 1, 0, 0, 0, -u * x, -v * x, x};
        const double rowY[9] = {0, 0, 0, u, v, 1, -u * y, -v * y, y};
        std::copy(rowX, rowX + 9, a[2 * i]);
        std::copy(rowY, rowY + 9, a[2 * i + 1]);
    }
    for (int col = 0; col < 8; ++col) {  // Gaussian elimination, the largest pivot first
        int pivot = col;
        for (int r = col + 1; r < 8; ++r)
            if (std::abs(a[r][col]) > std::abs(a[pivot][col])) pivot = r;
        std::swap(a[col], a[pivot]);
        if (std::abs(a[col][col]) < 1e-12) return {1, 0, 0, 0, 1, 0, 0, 0};
        for (int r = 0; r < 8; ++r) {
            if (r == col) continue;
            const double f = a[r][col] / a[col][col];
            for (int k = col; k < 9; ++k) a[r][k] -= f * a[col][k];
        }
    }
    std::array<double, 8> h{};
    for (int i = 0; i < 8; ++i) h[std::size_t(i)] = a[i][8] / a[i][i];
    return h;
}

}  // namespace cleaning
