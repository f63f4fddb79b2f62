// SPDX-License-Identifier: GPL-3.0-or-later
// A page of print taken apart into its print (one bit a pixel, at full resolution, a colour for
// each ink) and its background (small, the print filled from around it): together a tenth or
// less of the scan, the text as sharp as scanned.
#include "cleaning/compact.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "cleaning/spooled.h"
#include "imaging/deflate.h"
#include "imaging/jpegfile.h"
#include "imaging/reducedimage.h"

namespace cleaning {

namespace {

std::uint8_t greyOf(const std::uint8_t* p) { return std::uint8_t((p[0] * 77 + p[1] * 150 + p[2] * 29) >> 8); }

using Colour = std::array<double, 3>;

double distance2(const Colour& a, const Colour& b) {
    return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
}

// How far a pixel of print is from the line between the paper and an ink: a pixel at the edge of
// a letter is part paper, so its own colour lies on that line.
double offLine(const Colour& p, const Colour& paper, const Colour& ink) {
    const Colour v{ink[0] - paper[0], ink[1] - paper[1], ink[2] - paper[2]};
    const Colour d{p[0] - paper[0], p[1] - paper[1], p[2] - paper[2]};
    const double vv = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    const double t = vv > 0 ? std::clamp((d[0] * v[0] + d[1] * v[1] + d[2] * v[2]) / vv, 0.0, 1.0) : 0;
    return distance2(d, Colour{t * v[0], t * v[1], t * v[2]});
}

// The inks of the print: the colours its pixels gather round, up to four, each with enough
// pixels and clearly apart in hue from the others (black print and a blue heading; not two blacks).
std::vector<Colour> inksOf(const std::vector<Colour>& samples) {
    // Starting points: the colours many samples share (a stray pixel starts no ink of its own),
    // each as far as can be from those taken.
    std::vector<int> bins(4096, 0);
    const auto binOf = [](const Colour& c) { return (int(c[0]) >> 4) << 8 | (int(c[1]) >> 4) << 4 | (int(c[2]) >> 4); };
    for (const Colour& c : samples) ++bins[std::size_t(binOf(c))];
    const std::size_t enough = std::max<std::size_t>(30, samples.size() / 200);
    std::vector<Colour> common;
    int most = 0;
    for (int b = 0; b < 4096; ++b) {
        if (std::size_t(bins[std::size_t(b)]) < enough) continue;
        common.push_back({double((b >> 8) * 16 + 8), double(((b >> 4) & 15) * 16 + 8), double((b & 15) * 16 + 8)});
        if (bins[std::size_t(b)] > bins[std::size_t(most)]) most = b;
    }
    if (common.empty() || samples.empty()) return {};
    // Four centres, each as far as can be from those taken, then gathered round (k-means).
    const std::size_t k = std::min<std::size_t>(4, common.size());
    std::vector<Colour> centres{{double((most >> 8) * 16 + 8), double(((most >> 4) & 15) * 16 + 8), double((most & 15) * 16 + 8)}};
    while (centres.size() < k) {
        const Colour* far = &common.front();
        double farthest = -1;
        for (const Colour& c : common) {
            double nearest = 1e18;
            for (const Colour& m : centres) nearest = std::min(nearest, distance2(c, m));
            if (nearest > farthest) farthest = nearest, far = &c;
        }
        centres.push_back(*far);
    }
    std::vector<double> counts;
    for (int round = 0; round < 10; ++round) {
        std::vector<Colour> sums(k, Colour{});
        counts.assign(k, 0);
        for (const Colour& s : samples) {
            std::size_t nearest = 0;
            for (std::size_t j = 1; j < k; ++j)
                if (distance2(s, centres[j]) < distance2(s, centres[nearest])) nearest = j;
            for (int c = 0; c < 3; ++c) sums[nearest][std::size_t(c)] += s[std::size_t(c)];
            ++counts[nearest];
        }
        for (std::size_t j = 0; j < k; ++j)
            if (counts[j] > 0)
                for (int c = 0; c < 3; ++c) centres[j][std::size_t(c)] = sums[j][std::size_t(c)] / counts[j];
    }
    // Inks too close in hue are one: print blurred or pressed unevenly is lighter here and darker
    // there. So is one with too few pixels, with the ink nearest. The closest pair goes first.
    const auto tint = [](const Colour& c) { return Colour{c[0] - c[1], c[2] - c[1], 0}; };
    for (;;) {
        std::size_t a = 0, b = 0;
        double closest = 50.0 * 50.0;
        for (std::size_t i = 0; i < centres.size(); ++i)
            for (std::size_t j = i + 1; j < centres.size(); ++j) {
                const bool few = counts[i] < double(enough) || counts[j] < double(enough);
                const double d = few ? 1e-9 * distance2(centres[i], centres[j]) : distance2(tint(centres[i]), tint(centres[j]));
                if (d < closest) closest = d, a = i, b = j;
            }
        if (a == b) break;
        const double total = std::max(1.0, counts[a] + counts[b]);
        for (int c = 0; c < 3; ++c)
            centres[a][std::size_t(c)] = (centres[a][std::size_t(c)] * counts[a] + centres[b][std::size_t(c)] * counts[b]) / total;
        counts[a] += counts[b];
        centres.erase(centres.begin() + std::ptrdiff_t(b));
        counts.erase(counts.begin() + std::ptrdiff_t(b));
    }
    return centres;
}

// Areas that are no paper over more than a stroke of print is wide: photos, tinted boxes. In
// cells, on the grid of `cell`-pixel squares; the boxes returned are in pixels.
std::vector<Box> picturesOn(const std::vector<bool>& paper, int gw, int gh, int cell, int width, int height) {
    const auto at = [&](const std::vector<bool>& v, int x, int y) {
        return x < 0 || y < 0 || x >= gw || y >= gh || v[std::size_t(y) * std::size_t(gw) + std::size_t(x)];
    };
    // Opened by two cells: what stays is more than a heading's stroke across, everywhere.
    constexpr int r = 2;
    std::vector<bool> core(paper.size()), area(paper.size());
    for (int y = 0; y < gh; ++y)
        for (int x = 0; x < gw; ++x) {
            bool all = true;
            for (int dy = -r; dy <= r && all; ++dy)
                for (int dx = -r; dx <= r && all; ++dx) all = at(paper, x + dx, y + dy) == false;
            core[std::size_t(y) * std::size_t(gw) + std::size_t(x)] = all;
        }
    for (int y = 0; y < gh; ++y)
        for (int x = 0; x < gw; ++x) {
            bool any = false;
            for (int dy = -r; dy <= r && !any; ++dy)
                for (int dx = -r; dx <= r && !any; ++dx) {
                    const int xx = x + dx, yy = y + dy;
                    any = xx >= 0 && yy >= 0 && xx < gw && yy < gh && core[std::size_t(yy) * std::size_t(gw) + std::size_t(xx)];
                }
            area[std::size_t(y) * std::size_t(gw) + std::size_t(x)] = any;
        }
    std::vector<Box> boxes;
    std::vector<bool> seen(area.size());
    std::vector<int> stack;
    for (int start = 0; start < gw * gh; ++start) {
        if (!area[std::size_t(start)] || seen[std::size_t(start)]) continue;
        int x0 = gw, y0 = gh, x1 = -1, y1 = -1;
        stack.assign(1, start);
        seen[std::size_t(start)] = true;
        while (!stack.empty()) {
            const int i = stack.back(), x = i % gw, y = i / gw;
            stack.pop_back();
            x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
            for (const int j : {x > 0 ? i - 1 : -1, x + 1 < gw ? i + 1 : -1, y > 0 ? i - gw : -1, y + 1 < gh ? i + gw : -1})
                if (j >= 0 && area[std::size_t(j)] && !seen[std::size_t(j)]) seen[std::size_t(j)] = true, stack.push_back(j);
        }
        // About a third of an inch each way at the least: a big letter is no picture.
        if (x1 - x0 + 1 < 10 || y1 - y0 + 1 < 10) continue;
        const int left = std::max(0, (x0 - 1) * cell), top = std::max(0, (y0 - 1) * cell);
        boxes.push_back({left, top, std::min(width, (x1 + 2) * cell) - left, std::min(height, (y1 + 2) * cell) - top});
    }
    return boxes;
}

// The background's pixels (averages of `factor`-pixel squares) where no print lies, the rest
// filled from around: each gap takes the average of the coarser square around it, level by level.
RgbImage filledBackground(const RgbImage& page, const std::vector<std::uint8_t>& bits, int factor) {
    const int W = page.width, H = page.height;
    const std::size_t rowBytes = (std::size_t(W) + 7) / 8;
    struct Level {
        int w = 0, h = 0;
        std::vector<double> sum;  // colour sums, three a cell
        std::vector<double> weight;
    };
    std::vector<Level> levels(1);
    Level& base = levels[0];  // (until the coarser levels are added)
    base.w = (W + factor - 1) / factor, base.h = (H + factor - 1) / factor;
    base.sum.assign(std::size_t(base.w) * std::size_t(base.h) * 3, 0);
    base.weight.assign(std::size_t(base.w) * std::size_t(base.h), 0);
    // Print and the pixel around it (its blurred edge) stay out.
    std::vector<std::uint8_t> near(rowBytes);
    const std::vector<std::uint8_t> none(rowBytes, 0);
    for (int y = 0; y < H; ++y) {
        const std::uint8_t* row = bits.data() + std::size_t(y) * rowBytes;
        const std::uint8_t* up = y > 0 ? row - rowBytes : none.data();
        const std::uint8_t* down = y + 1 < H ? row + rowBytes : none.data();
        for (std::size_t i = 0; i < rowBytes; ++i)
            near[i] = std::uint8_t(row[i] | up[i] | down[i] | row[i] >> 1 | row[i] << 1 | (i > 0 ? row[i - 1] << 7 : 0) |
                                   (i + 1 < rowBytes ? row[i + 1] >> 7 : 0));
        const std::uint8_t* p = page.pixels.data() + std::size_t(y) * std::size_t(W) * 3;
        double* sums = base.sum.data() + std::size_t(y / factor) * std::size_t(base.w) * 3;
        double* weights = base.weight.data() + std::size_t(y / factor) * std::size_t(base.w);
        for (int x = 0; x < W; ++x, p += 3) {
            if (near[std::size_t(x) / 8] & (0x80 >> (x % 8))) continue;
            const int bx = x / factor;
            sums[bx * 3] += p[0], sums[bx * 3 + 1] += p[1], sums[bx * 3 + 2] += p[2];
            weights[bx] += 1;
        }
    }
    while (levels.back().w > 1 || levels.back().h > 1) {
        const Level& fine = levels.back();
        Level coarse;
        coarse.w = (fine.w + 1) / 2, coarse.h = (fine.h + 1) / 2;
        coarse.sum.assign(std::size_t(coarse.w) * std::size_t(coarse.h) * 3, 0);
        coarse.weight.assign(std::size_t(coarse.w) * std::size_t(coarse.h), 0);
        for (int y = 0; y < fine.h; ++y)
            for (int x = 0; x < fine.w; ++x) {
                const std::size_t from = std::size_t(y) * std::size_t(fine.w) + std::size_t(x);
                const std::size_t to = std::size_t(y / 2) * std::size_t(coarse.w) + std::size_t(x / 2);
                for (int c = 0; c < 3; ++c) coarse.sum[to * 3 + std::size_t(c)] += fine.sum[from * 3 + std::size_t(c)];
                coarse.weight[to] += fine.weight[from];
            }
        levels.push_back(std::move(coarse));
    }
    // From the top down, each cell its average, or its parent's where it has none.
    for (std::size_t l = levels.size(); l-- > 0;) {
        Level& level = levels[l];
        for (int y = 0; y < level.h; ++y)
            for (int x = 0; x < level.w; ++x) {
                const std::size_t i = std::size_t(y) * std::size_t(level.w) + std::size_t(x);
                for (int c = 0; c < 3; ++c) {
                    double& v = level.sum[i * 3 + std::size_t(c)];
                    if (level.weight[i] > 0)
                        v /= level.weight[i];
                    else if (l + 1 < levels.size())
                        v = levels[l + 1].sum[(std::size_t(y / 2) * std::size_t(levels[l + 1].w) + std::size_t(x / 2)) * 3 + std::size_t(c)];
                    else
                        v = 255;
                }
            }
    }
    const Level& filled = levels.front();
    RgbImage out;
    out.width = filled.w, out.height = filled.h;
    out.pixels.resize(filled.sum.size());
    for (std::size_t i = 0; i < filled.sum.size(); ++i) out.pixels[i] = std::uint8_t(std::clamp(filled.sum[i] + 0.5, 0.0, 255.0));
    return out;
}

struct Encoded {
    std::vector<std::uint8_t> data;
    imaging::ImageFormat format;
};

// Pictures kept together in one file of no name (a compact page's layers: one open file a page).
std::vector<std::shared_ptr<const imaging::ImageSource>> spooledTogether(std::vector<Encoded> parts, const std::string& description) {
    std::vector<std::uint8_t> all;
    std::vector<std::pair<std::size_t, std::size_t>> places;
    for (const Encoded& part : parts) {
        places.push_back({all.size(), part.data.size()});
        all.insert(all.end(), part.data.begin(), part.data.end());
    }
    const auto whole = std::make_shared<const SpooledImage>(std::move(all), imaging::ImageFormat{}, description);
    std::vector<std::shared_ptr<const imaging::ImageSource>> pictures;
    for (std::size_t i = 0; i < parts.size(); ++i)
        pictures.push_back(std::make_shared<SpooledPart>(whole, places[i].first, places[i].second, parts[i].format));
    return pictures;
}

// An ink as the PDF takes it: a stencil of Group 4 fax data or of deflated rows, whichever is
// smaller. Throws when zlib or the fax coder fails.
Encoded encodedInk(const Ink& ink, int W, int H) {
    const std::size_t rowBytes = (std::size_t(W) + 7) / 8;
    imaging::ImageFormat shape;
    shape.width = W, shape.height = H;
    shape.colorSpace = imaging::ColorSpace::Gray;
    shape.bitsPerComponent = 1;
    std::vector<std::uint8_t> fax = imaging::group4(ink.bits, W, H);
    // The same rows deflated, each after a byte that says it is not filtered.
    std::vector<std::uint8_t> rows;
    rows.reserve((rowBytes + 1) * std::size_t(H));
    for (int y = 0; y < H; ++y) {
        rows.push_back(0);
        rows.insert(rows.end(), ink.bits.begin() + std::ptrdiff_t(std::size_t(y) * rowBytes),
                    ink.bits.begin() + std::ptrdiff_t(std::size_t(y + 1) * rowBytes));
    }
    const std::string deflated = imaging::deflatedWhole(rows.data(), rows.size(), "a compact page's print");
    if (deflated.size() < fax.size()) {
        shape.encoding = imaging::ImageEncoding::Flate;
        shape.inverted = true;  // 1 is print
        fax.assign(deflated.begin(), deflated.end());
    } else {
        shape.encoding = imaging::ImageEncoding::Ccitt;
        shape.fax.k = -1;
    }
    return {std::move(fax), shape};
}

// Clears the specks of print (pieces of at most `most` pixels, eight neighbours joined) that lie
// away from every word (`nearWords`, a grid of `cell`-pixel squares). Whether any was cleared.
bool clearSpecks(std::vector<std::uint8_t>& bits, int W, int H, int most, const std::vector<bool>& nearWords, int cell) {
    const std::size_t rowBytes = (std::size_t(W) + 7) / 8;
    const auto at = [&](int x, int y) { return (bits[std::size_t(y) * rowBytes + std::size_t(x) / 8] & (0x80 >> (x % 8))) != 0; };
    std::vector<std::uint8_t> seen(std::size_t(W) * std::size_t(H), 0);
    std::vector<std::pair<int, int>> piece, stack;
    const int gw = (W + cell - 1) / cell;
    bool cleared = false;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (!at(x, y) || seen[std::size_t(y) * std::size_t(W) + std::size_t(x)]) continue;
            piece.clear();
            stack.assign(1, {x, y});
            seen[std::size_t(y) * std::size_t(W) + std::size_t(x)] = 1;
            std::size_t size = 0;
            bool near = false;
            while (!stack.empty()) {
                const auto [px, py] = stack.back();
                stack.pop_back();
                if (++size <= std::size_t(most)) piece.push_back({px, py});
                near = near || nearWords[std::size_t(py / cell) * std::size_t(gw) + std::size_t(px / cell)];
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = px + dx, ny = py + dy;
                        if (nx < 0 || ny < 0 || nx >= W || ny >= H || !at(nx, ny)) continue;
                        std::uint8_t& s = seen[std::size_t(ny) * std::size_t(W) + std::size_t(nx)];
                        if (!s) s = 1, stack.push_back({nx, ny});
                    }
            }
            if (size > std::size_t(most) || near) continue;
            for (const auto& [px, py] : piece) bits[std::size_t(py) * rowBytes + std::size_t(px) / 8] &= std::uint8_t(~(0x80 >> (px % 8)));
            cleared = true;
        }
    return cleared;
}

// A compact page as the PDF takes it: the background's data, with the inks painted over it.
class CompactImage : public imaging::ImageSource {
public:
    CompactImage(std::shared_ptr<const imaging::ImageSource> background, std::vector<imaging::Stencil> inks, int width, int height, int factor)
        : m_background(std::move(background)), m_inks(std::move(inks)), m_width(width), m_height(height), m_factor(factor) {}

    imaging::ImageFormat format() const override { return m_background->format(); }
    void writeData(const imaging::DataSink& sink) const override { m_background->writeData(sink); }
    void copyData(imaging::DataOut& out) const override { m_background->copyData(out); }
    std::vector<imaging::Stencil> stencils() const override { return m_inks; }

    // Specks of print away from every word (dust, grain the threshold took) dropped: their place
    // shows the background, which has the paper there.
    std::shared_ptr<const imaging::ImageSource> guidedBy(const std::vector<imaging::Rect>& words) const override {
        if (words.empty()) return nullptr;
        const int cell = 8;
        const int gw = (m_width + cell - 1) / cell, gh = (m_height + cell - 1) / cell;
        std::vector<bool> nearWords(std::size_t(gw) * std::size_t(gh));
        for (const imaging::Rect& r : words) {
            // Each word's box grown by half its height (at most a third of an inch): accents, dots
            // and underlines stay.
            const double grow = std::min(0.5 * r.height * m_height, std::max(m_width, m_height) / 35.0);
            const int x0 = std::max(0, int((r.x * m_width - grow) / cell)), x1 = std::min(gw - 1, int(((r.x + r.width) * m_width + grow) / cell));
            const int y0 = std::max(0, int((r.y * m_height - grow) / cell)), y1 = std::min(gh - 1, int(((r.y + r.height) * m_height + grow) / cell));
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) nearWords[std::size_t(y) * std::size_t(gw) + std::size_t(x)] = true;
        }
        // Specks: a few pixels at 300 dpi (a full stop of small print has about ten).
        const int most = std::max(2, int(std::lround(4.0 * m_factor * m_factor / 9)));
        try {
            std::vector<imaging::Stencil> inks = m_inks;
            std::vector<Encoded> cleared;
            std::vector<std::size_t> which;
            for (std::size_t i = 0; i < m_inks.size(); ++i) {
                Ink ink{m_inks[i].colour, printOf(*m_inks[i].shape)};
                if (!clearSpecks(ink.bits, m_width, m_height, most, nearWords, cell)) continue;
                cleared.push_back(encodedInk(ink, m_width, m_height));
                which.push_back(i);
            }
            if (cleared.empty()) return nullptr;
            const auto shapes = spooledTogether(std::move(cleared), m_background->description());
            for (std::size_t j = 0; j < which.size(); ++j) inks[which[j]].shape = shapes[j];
            return std::make_shared<CompactImage>(m_background, std::move(inks), m_width, m_height, m_factor);
        } catch (const std::exception&) {
            return nullptr;  // the page as it was
        }
    }
    std::string description() const override { return m_background->description(); }
    bool stillAsChecked() const override { return true; }

    // The page as it shows, in grey: at most about 300 dpi, whatever is asked (print finer than
    // that reads no better).
    imaging::GreyImage grey(int shrink) const override {
        const int s = std::max({1, shrink, m_factor / 3});
        const imaging::GreyImage back = m_background->grey(1);
        if (back.isNull()) return {};
        std::vector<std::uint8_t> page(std::size_t(m_width) * std::size_t(m_height));
        for (int y = 0; y < m_height; ++y) {
            const std::uint8_t* from = back.pixels.data() + std::size_t(std::min(back.height - 1, y / m_factor)) * std::size_t(back.width);
            std::uint8_t* to = page.data() + std::size_t(y) * std::size_t(m_width);
            for (int x = 0; x < m_width; ++x) to[x] = from[std::min(back.width - 1, x / m_factor)];
        }
        try {
            for (const imaging::Stencil& ink : m_inks) {
                const std::uint8_t level = greyOf(ink.colour.data());
                const std::vector<std::uint8_t> bits = printOf(*ink.shape);
                const std::size_t rowBytes = (std::size_t(m_width) + 7) / 8;
                for (int y = 0; y < m_height; ++y)
                    for (int x = 0; x < m_width; ++x)
                        if (bits[std::size_t(y) * rowBytes + std::size_t(x) / 8] & (0x80 >> (x % 8)))
                            page[std::size_t(y) * std::size_t(m_width) + std::size_t(x)] = level;
            }
        } catch (const std::exception&) {
            return {};
        }
        imaging::GreyImage out;
        out.width = (m_width + s - 1) / s, out.height = (m_height + s - 1) / s;
        out.pixels.resize(std::size_t(out.width) * std::size_t(out.height));
        for (int oy = 0; oy < out.height; ++oy)
            for (int ox = 0; ox < out.width; ++ox) {
                unsigned sum = 0, n = 0;
                for (int y = oy * s; y < std::min(m_height, (oy + 1) * s); ++y)
                    for (int x = ox * s; x < std::min(m_width, (ox + 1) * s); ++x, ++n) sum += page[std::size_t(y) * std::size_t(m_width) + std::size_t(x)];
                out.pixels[std::size_t(oy) * std::size_t(out.width) + std::size_t(ox)] = std::uint8_t(sum / std::max(1u, n));
            }
        return out;
    }

private:
    // An ink's pixels, one bit each (1 for print), from its stencil's data.
    std::vector<std::uint8_t> printOf(const imaging::ImageSource& shape) const {
        std::vector<std::uint8_t> data;
        shape.writeData([&](const std::uint8_t* d, std::size_t n) { data.insert(data.end(), d, d + n); });
        const std::size_t rowBytes = (std::size_t(m_width) + 7) / 8;
        std::vector<std::uint8_t> bits(rowBytes * std::size_t(m_height));
        if (shape.format().encoding == imaging::ImageEncoding::Ccitt) {
            const std::vector<std::uint8_t> grey = imaging::greyOfGroup4(data, m_width, m_height);
            for (int y = 0; y < m_height; ++y)
                for (int x = 0; x < m_width; ++x)
                    if (grey[std::size_t(y) * std::size_t(m_width) + std::size_t(x)] < 128)
                        bits[std::size_t(y) * rowBytes + std::size_t(x) / 8] |= std::uint8_t(0x80 >> (x % 8));
            return bits;
        }
        std::vector<std::uint8_t> rows((rowBytes + 1) * std::size_t(m_height));
        uLongf size = uLongf(rows.size());
        if (uncompress(rows.data(), &size, data.data(), uLong(data.size())) != Z_OK || size != rows.size())
            throw std::runtime_error("a compact page's print cannot be read back");
        for (int y = 0; y < m_height; ++y)
            std::copy_n(rows.data() + std::size_t(y) * (rowBytes + 1) + 1, rowBytes, bits.data() + std::size_t(y) * rowBytes);
        return bits;
    }

    std::shared_ptr<const imaging::ImageSource> m_background;
    std::vector<imaging::Stencil> m_inks;
    int m_width, m_height, m_factor;
};

}  // namespace

pictolio::Outcome<CompactLayers> compactLayers(const RgbImage& page) {
    const pictolio::Failure noText{QStringLiteral("no text found")};
    const int W = page.width, H = page.height;
    if (W < 64 || H < 64) return noText;
    const int longest = std::max(W, H);
    const std::size_t n = std::size_t(W) * std::size_t(H);
    std::vector<std::uint8_t> grey(n);
    for (std::size_t i = 0; i < n; ++i) grey[i] = greyOf(page.pixels.data() + 3 * i);

    // The lightest colour in each cell (about a 25th of an inch, on a page of Letter or A4 size):
    // the paper's where the cell holds any paper.
    const int cell = std::max(4, int(std::lround(longest / 300.0)));
    const int gw = (W + cell - 1) / cell, gh = (H + cell - 1) / cell;
    std::vector<std::uint8_t> brightest(std::size_t(gw) * std::size_t(gh), 0);
    for (int y = 0; y < H; ++y) {
        std::uint8_t* cells = brightest.data() + std::size_t(y / cell) * std::size_t(gw);
        const std::uint8_t* row = grey.data() + std::size_t(y) * std::size_t(W);
        for (int x = 0; x < W; ++x) cells[x / cell] = std::max(cells[x / cell], row[x]);
    }
    std::vector<std::array<double, 4>> light(brightest.size(), std::array<double, 4>{});
    for (int y = 0; y < H; ++y) {
        const std::size_t line = std::size_t(y / cell) * std::size_t(gw);
        for (int x = 0; x < W; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(W) + std::size_t(x);
            if (grey[i] + 24 < brightest[line + std::size_t(x / cell)]) continue;
            std::array<double, 4>& l = light[line + std::size_t(x / cell)];
            for (int c = 0; c < 3; ++c) l[std::size_t(c)] += page.pixels[i * 3 + std::size_t(c)];
            l[3] += 1;
        }
    }
    for (auto& l : light)
        for (int c = 0; c < 3; ++c) l[std::size_t(c)] /= std::max(1.0, l[3]);
    // The paper: the colour of the lighter half of the cells.
    std::vector<std::uint8_t> levels = brightest;
    std::nth_element(levels.begin(), levels.begin() + std::ptrdiff_t(levels.size() / 2), levels.end());
    const std::uint8_t middle = levels[levels.size() / 2];
    Colour paper{};
    for (int c = 0; c < 3; ++c) {
        std::vector<double> values;
        for (std::size_t i = 0; i < light.size(); ++i)
            if (brightest[i] >= middle) values.push_back(light[i][std::size_t(c)]);
        std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(values.size() / 2), values.end());
        paper[std::size_t(c)] = values[values.size() / 2];
    }
    const double paperGrey = (paper[0] * 77 + paper[1] * 150 + paper[2] * 29) / 256;
    std::vector<bool> isPaper(light.size());
    std::size_t paperCells = 0;
    for (std::size_t i = 0; i < light.size(); ++i) {
        const auto& l = light[i];
        const double g = (l[0] * 77 + l[1] * 150 + l[2] * 29) / 256;
        const double tint = std::max(std::abs((l[0] - l[1]) - (paper[0] - paper[1])), std::abs((l[2] - l[1]) - (paper[2] - paper[1])));
        isPaper[i] = g >= 0.75 * paperGrey && tint <= 36;
        paperCells += isPaper[i];
    }
    // A page that is mostly picture is no page of print.
    if (paperGrey < 128 || double(paperCells) < 0.3 * double(light.size())) return noText;

    CompactLayers layers;
    layers.width = W, layers.height = H;
    for (int c = 0; c < 3; ++c) layers.paper[std::size_t(c)] = std::uint8_t(std::lround(paper[std::size_t(c)]));
    layers.pictures = picturesOn(isPaper, gw, gh, cell, W, H);

    // The print: pixels clearly darker than the light around them, outside the pictures.
    std::vector<std::uint8_t> bits = imaging::blackAndWhite(grey, W, H);
    grey = {};
    const std::size_t rowBytes = (std::size_t(W) + 7) / 8;
    for (const Box& b : layers.pictures)
        for (int y = b.y; y < b.y + b.height; ++y)
            for (int x = b.x; x < b.x + b.width; ++x) bits[std::size_t(y) * rowBytes + std::size_t(x) / 8] &= std::uint8_t(~(0x80 >> (x % 8)));
    const auto inkAt = [&](int x, int y) { return (bits[std::size_t(y) * rowBytes + std::size_t(x) / 8] & (0x80 >> (x % 8))) != 0; };
    std::size_t printed = 0;
    for (const std::uint8_t b : bits) printed += std::size_t(__builtin_popcount(b));
    if (double(printed) < double(n) / 2000) return noText;

    // The inks, from the middles of strokes (their edges are part paper): up to 40,000 of them.
    std::vector<Colour> samples;
    const std::size_t every = std::max<std::size_t>(1, printed / 40000);
    std::size_t counted = 0;
    for (int y = 1; y + 1 < H; ++y)
        for (int x = 1; x + 1 < W; ++x)
            if (inkAt(x, y) && inkAt(x - 1, y) && inkAt(x + 1, y) && inkAt(x, y - 1) && inkAt(x, y + 1) && counted++ % every == 0) {
                const std::uint8_t* p = page.pixels.data() + (std::size_t(y) * std::size_t(W) + std::size_t(x)) * 3;
                samples.push_back({double(p[0]), double(p[1]), double(p[2])});
            }
    std::vector<Colour> inks = inksOf(samples);
    if (inks.empty()) {
        // Print too thin for middles: its darkest pixels.
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const std::uint8_t* p = page.pixels.data() + (std::size_t(y) * std::size_t(W) + std::size_t(x)) * 3;
                if (inkAt(x, y) && greyOf(p) < paperGrey / 2) samples.push_back({double(p[0]), double(p[1]), double(p[2])});
            }
        inks = inksOf(samples);
        if (inks.empty()) inks.push_back({0, 0, 0});
    }
    for (const Colour& ink : inks) {
        Ink out;
        for (int c = 0; c < 3; ++c) out.colour[std::size_t(c)] = std::uint8_t(std::clamp(std::lround(ink[std::size_t(c)]), 0L, 255L));
        out.bits.assign(bits.size(), 0);
        layers.inks.push_back(std::move(out));
    }
    if (inks.size() == 1) {
        layers.inks[0].bits = bits;
    } else {
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                if (!inkAt(x, y)) continue;
                const std::uint8_t* p = page.pixels.data() + (std::size_t(y) * std::size_t(W) + std::size_t(x)) * 3;
                const Colour c{double(p[0]), double(p[1]), double(p[2])};
                std::size_t nearest = 0;
                double least = 1e18;
                for (std::size_t k = 0; k < inks.size(); ++k)
                    if (const double d = offLine(c, paper, inks[k]); d < least) least = d, nearest = k;
                layers.inks[nearest].bits[std::size_t(y) * rowBytes + std::size_t(x) / 8] |= std::uint8_t(0x80 >> (x % 8));
            }
    }

    // The background at about 100 dpi; paper within a few levels of the paper's colour made
    // exactly that (grain costs bytes and shows nothing).
    layers.factor = std::max(1, int(std::lround(longest / 1170.0)));
    layers.background = filledBackground(page, bits, layers.factor);
    for (std::size_t i = 0; i < layers.background.pixels.size(); i += 3) {
        std::uint8_t* p = layers.background.pixels.data() + i;
        bool close = true;
        for (int c = 0; c < 3; ++c) close = close && std::abs(p[c] - layers.paper[std::size_t(c)]) <= 10;
        if (close) std::copy(layers.paper.begin(), layers.paper.end(), p);
    }
    return layers;
}

namespace {

// The page's layers encoded. Throws when there is no memory for them, or zlib fails.
pictolio::Outcome<std::shared_ptr<const imaging::ImageSource>> encoded(const RgbImage& page, int jpegQuality,
                                                                       const std::string& description, const Profile& profile) {
    pictolio::Outcome<CompactLayers> layers = compactLayers(page);
    if (!layers) return pictolio::Failure{layers.reason()};
    const RgbImage& back = layers->background;
    // Grey when nothing on the background has colour.
    std::size_t tinted = 0;
    for (std::size_t i = 0; i < back.pixels.size(); i += 3) {
        const std::uint8_t* p = back.pixels.data() + i;
        tinted += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 16;
    }
    const bool colour = tinted * 1000 > back.pixels.size() / 3;
    Encoded background;
    background.format.width = back.width, background.format.height = back.height;
    background.format.colorSpace = colour ? imaging::ColorSpace::Rgb : imaging::ColorSpace::Gray;
    background.format.iccProfile = profile;  // (the writer leaves out a profile whose colours are not the picture's)
    const int quality = std::clamp(jpegQuality, 1, 100);
    if (colour) {
        background.data = imaging::encodeJpeg(back.pixels.data(), back.width, back.height, 3, quality);
    } else {
        std::vector<std::uint8_t> grey(back.pixels.size() / 3);
        for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = greyOf(back.pixels.data() + 3 * i);
        background.data = imaging::encodeJpeg(grey.data(), back.width, back.height, 1, quality);
    }
    // The background and the inks in one file.
    const int W = layers->width, H = layers->height;
    std::vector<Encoded> parts{std::move(background)};
    for (const Ink& ink : layers->inks) parts.push_back(encodedInk(ink, W, H));
    const auto pictures = spooledTogether(std::move(parts), description);
    std::vector<imaging::Stencil> stencils;
    for (std::size_t i = 0; i < layers->inks.size(); ++i) stencils.push_back({pictures[i + 1], layers->inks[i].colour});
    return std::shared_ptr<const imaging::ImageSource>(std::make_shared<CompactImage>(pictures[0], std::move(stencils), W, H, layers->factor));
}

}  // namespace

pictolio::Outcome<std::shared_ptr<const imaging::ImageSource>> compactPage(const RgbImage& page, int jpegQuality,
                                                                           const std::string& description, const Profile& profile) {
    try {
        return encoded(page, jpegQuality, description, profile);
    } catch (const std::exception& e) {
        return pictolio::Failure{QString::fromStdString(e.what())};
    }
}

}  // namespace cleaning
