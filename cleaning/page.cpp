// SPDX-License-Identifier: GPL-3.0-or-later
// A photo of a document made a clean page: the sheet cut out and squared (or a scan straightened),
// the light evened out, and the page stored in colour, grey or black and white.
#include "cleaning/page.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include <dlfcn.h>

#include "cleaning/compact.h"
#include "cleaning/spooled.h"
#include "imaging/jpegfile.h"
#include "imaging/pixelrows.h"
#include "imaging/reducedimage.h"

namespace cleaning {

namespace {

constexpr double pageDpi = 300;  // a sheet squared is drawn at this density
constexpr double mmPerInch = 25.4;

struct Paper {
    const char* name;
    double shortMm, longMm;
};
// Standard sizes a sheet is snapped to when its proportions are within 3 % (A5 has the
// proportions of A4, which is taken).
constexpr Paper papers[] = {{"A4", 210, 297}, {"Letter", 215.9, 279.4}, {"Legal", 215.9, 355.6}, {"A5", 148, 210}};

std::uint8_t greyOf(const std::uint8_t* p) { return std::uint8_t((p[0] * 77 + p[1] * 150 + p[2] * 29) >> 8); }

// The value below which `share` of the samples lie.
std::uint8_t percentile(std::vector<std::uint8_t>& values, double share) {
    if (values.empty()) return 0;
    const auto at = values.begin() + std::ptrdiff_t(std::min(values.size() - 1, std::size_t(share * double(values.size()))));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// Whether the picture is mostly paper, as a scan is.
bool mostlyPaper(const RgbImage& small) {
    std::size_t paperish = 0;
    const std::size_t n = std::size_t(small.width) * std::size_t(small.height);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* p = small.pixels.data() + 3 * i;
        const int colour = std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
        paperish += greyOf(p) > 150 && colour < 40;
    }
    return double(paperish) >= 0.5 * double(n);
}

// How many rows (or columns) at an edge are dark: a scanner's lid or the space beside a sheet.
int darkEdge(const RgbImage& page, bool rows, bool fromEnd, double paperLevel) {
    const int count = rows ? page.height : page.width, across = rows ? page.width : page.height;
    int dark = 0;
    for (; dark < count / 6; ++dark) {
        const int at = fromEnd ? count - 1 - dark : dark;
        std::uint64_t sum = 0;
        for (int i = 0; i < across; i += 2) {
            const int x = rows ? i : at, y = rows ? at : i;
            sum += greyOf(page.pixels.data() + (std::size_t(y) * std::size_t(page.width) + std::size_t(x)) * 3);
        }
        if (double(sum) / ((across + 1) / 2) > 0.6 * paperLevel) break;
    }
    return dark;
}

// What is left of the table along the page's edges (a sheet not quite flat has edges that are not
// quite straight) made paper: a dark run from an edge that ends in paper within a sliver of the
// page. A darker run (a picture printed to the edge) stays.
void whitenRim(RgbImage& page) {
    const int w = page.width, h = page.height;
    const auto dark = [&](int x, int y) { return greyOf(page.pixels.data() + (std::size_t(y) * std::size_t(w) + std::size_t(x)) * 3) < 160; };
    const auto whiten = [&](int x, int y) { std::fill_n(page.pixels.data() + (std::size_t(y) * std::size_t(w) + std::size_t(x)) * 3, 3, 255); };
    const int acrossLimit = std::max(4, h * 3 / 200), downLimit = std::max(4, w * 3 / 200);
    for (int x = 0; x < w; ++x)
        for (const bool fromBottom : {false, true}) {
            int run = 0;
            while (run < acrossLimit && dark(x, fromBottom ? h - 1 - run : run)) ++run;
            if (run < acrossLimit)
                for (int i = 0; i < run; ++i) whiten(x, fromBottom ? h - 1 - i : i);
        }
    for (int y = 0; y < h; ++y)
        for (const bool fromRight : {false, true}) {
            int run = 0;
            while (run < downLimit && dark(fromRight ? w - 1 - run : run, y)) ++run;
            if (run < downLimit)
                for (int i = 0; i < run; ++i) whiten(fromRight ? w - 1 - i : i, y);
        }
}

RgbImage cropped(const RgbImage& page, int left, int top, int right, int bottom) {
    RgbImage out;
    out.width = page.width - left - right;
    out.height = page.height - top - bottom;
    if (out.width <= 0 || out.height <= 0) return page;
    out.pixels.resize(std::size_t(out.width) * std::size_t(out.height) * 3);
    for (int y = 0; y < out.height; ++y)
        std::copy_n(page.pixels.data() + (std::size_t(y + top) * std::size_t(page.width) + std::size_t(left)) * 3,
                    std::size_t(out.width) * 3, out.pixels.data() + std::size_t(y) * std::size_t(out.width) * 3);
    return out;
}

// Leptonica, loaded the first time a scan is straightened: a library of thousands of functions
// that every run would otherwise pay 2 ms to load.
struct Leptonica {
#define PICTOLIO_LEPTONICA_FUNCTIONS(X) \
    X(pixCreate) X(pixDestroy) X(pixGetData) X(pixGetWpl) X(pixThresholdToBinary) X(pixFindSkewSweepAndSearch)
#define PICTOLIO_LEPTONICA_POINTER(name) decltype(&::name) name = nullptr;
    PICTOLIO_LEPTONICA_FUNCTIONS(PICTOLIO_LEPTONICA_POINTER)
#undef PICTOLIO_LEPTONICA_POINTER
    std::string error;  // why it cannot be loaded (the functions are then null)
};

const Leptonica& leptonica() {
    static const Leptonica library = [] {
        Leptonica l;
        void* handle = ::dlopen("liblept.so.5", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            l.error = ::dlerror();
            return l;
        }
        Leptonica found;
#define PICTOLIO_LEPTONICA_LOOKUP(name)                                                 \
    found.name = reinterpret_cast<decltype(found.name)>(::dlsym(handle, #name));        \
    if (!found.name) {                                                                  \
        l.error = "liblept.so.5 has no " #name;                                         \
        return l;                                                                       \
    }
        PICTOLIO_LEPTONICA_FUNCTIONS(PICTOLIO_LEPTONICA_LOOKUP)
#undef PICTOLIO_LEPTONICA_LOOKUP
        return found;
    }();
    return library;
}

}  // namespace

// The degrees the lines of print on a scan are turned by, up to 10 either way; none when there
// are no lines of print to tell.

std::optional<double> skewOfPrint(const RgbImage& pixels) {
    const Leptonica& lept = leptonica();
    if (!lept.pixCreate) throw std::runtime_error("Leptonica cannot be loaded: " + lept.error);
    // Half the size of a large scan reads its lines of print as well, in a quarter of the time.
    const int longest = std::max(pixels.width, pixels.height);
    const RgbImage half = shrunk(pixels, longest > 3000 ? longest / 2 : longest);
    PIX* grey = lept.pixCreate(half.width, half.height, 8);
    if (!grey) return std::nullopt;
    for (int y = 0; y < half.height; ++y) {
        l_uint32* line = lept.pixGetData(grey) + y * lept.pixGetWpl(grey);
        for (int x = 0; x < half.width; ++x)
            SET_DATA_BYTE(line, x, greyOf(half.pixels.data() + (std::size_t(y) * std::size_t(half.width) + std::size_t(x)) * 3));
    }
    PIX* binary = lept.pixThresholdToBinary(grey, 140);
    lept.pixDestroy(&grey);
    if (!binary) return std::nullopt;
    l_float32 angle = 0, confidence = 0;
    const bool found = lept.pixFindSkewSweepAndSearch(binary, &angle, &confidence, 2, 1, 10.5f, 0.5f, 0.01f) == 0;
    lept.pixDestroy(&binary);
    if (!found || confidence < 2.5f) return std::nullopt;
    return double(angle);
}

RgbImage rgbPixels(const imaging::ImageSource& picture) {
    RgbImage out;
    const imaging::ImageFormat f = picture.format();
    bool ok = false;
    try {
        if (f.encoding == imaging::ImageEncoding::Dct) {
            std::vector<std::uint8_t> jpeg;
            picture.writeData([&](const std::uint8_t* d, std::size_t n) { jpeg.insert(jpeg.end(), d, d + n); });
            int components = 3;
            ok = imaging::decodeJpegRows(
                jpeg.data(), jpeg.size(), 1, true,
                [&](int w, int h, int c) {
                    out.width = w, out.height = h, components = c;
                    out.pixels.reserve(std::size_t(w) * std::size_t(h) * 3);
                },
                [&](const std::uint8_t* row) {
                    if (components == 3) {
                        out.pixels.insert(out.pixels.end(), row, row + std::size_t(out.width) * 3);
                        return;
                    }
                    for (int x = 0; x < out.width; ++x) out.pixels.insert(out.pixels.end(), 3, row[x]);
                });
        } else {
            out.width = f.width, out.height = f.height;
            out.pixels.reserve(std::size_t(f.width) * std::size_t(f.height) * 3);
            ok = imaging::readPixelRows(picture, true, [&](const std::uint8_t* row) {
                out.pixels.insert(out.pixels.end(), row, row + std::size_t(out.width) * 3);
            });
        }
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok || out.isNull() || out.pixels.size() != std::size_t(out.width) * std::size_t(out.height) * 3) return {};
    return out;
}

RgbImage squared(const RgbImage& photo, const Corners& corners, int width, int height) {
    const std::array<double, 8> h = rectangleTo(width, height, corners);
    RgbImage out;
    out.width = width, out.height = height;
    out.pixels.assign(std::size_t(width) * std::size_t(height) * 3, 255);
    const std::size_t stride = std::size_t(photo.width) * 3;
    for (int oy = 0; oy < height; ++oy) {
        const double v = oy + 0.5;
        std::uint8_t* row = out.pixels.data() + std::size_t(oy) * std::size_t(width) * 3;
        for (int ox = 0; ox < width; ++ox) {
            const double u = ox + 0.5;
            const double d = h[6] * u + h[7] * v + 1;
            const double x = (h[0] * u + h[1] * v + h[2]) / d - 0.5, y = (h[3] * u + h[4] * v + h[5]) / d - 0.5;
            if (!(x >= 0 && y >= 0 && x < photo.width - 1 && y < photo.height - 1)) continue;
            const int x0 = int(x), y0 = int(y);
            const double fx = x - x0, fy = y - y0;
            const std::uint8_t* p = photo.pixels.data() + std::size_t(y0) * stride + std::size_t(x0) * 3;
            for (int c = 0; c < 3; ++c) {
                const double top = p[c] + fx * (p[3 + c] - p[c]);
                const double bottom = p[stride + std::size_t(c)] + fx * (p[stride + 3 + std::size_t(c)] - p[stride + std::size_t(c)]);
                row[ox * 3 + c] = std::uint8_t(top + fy * (bottom - top) + 0.5);
            }
        }
    }
    return out;
}

void evenLight(RgbImage& page) {
    const int w = page.width, h = page.height;
    if (w < 16 || h < 16) return;
    // The paper's brightness around each point: in blocks of about 1.4 mm at 300 dpi, the level
    // nine pixels in ten stay below (print covers less than that); then the median of the blocks
    // around (a heading's thick strokes), and spread smoothly.
    const int block = std::max(8, std::min(w, h) / 150);
    const int gw = (w + block - 1) / block, gh = (h + block - 1) / block;
    std::vector<double> grid(std::size_t(gw) * std::size_t(gh));
    std::vector<std::uint8_t> values;
    for (int gy = 0; gy < gh; ++gy)
        for (int gx = 0; gx < gw; ++gx) {
            values.clear();
            for (int y = gy * block; y < std::min(h, (gy + 1) * block); ++y)
                for (int x = gx * block; x < std::min(w, (gx + 1) * block); ++x)
                    values.push_back(greyOf(page.pixels.data() + (std::size_t(y) * std::size_t(w) + std::size_t(x)) * 3));
            grid[std::size_t(gy) * std::size_t(gw) + std::size_t(gx)] = percentile(values, 0.9);
        }
    const auto filtered = [&](int radius, auto take) {
        std::vector<double> out(grid.size());
        std::vector<double> around;
        for (int gy = 0; gy < gh; ++gy)
            for (int gx = 0; gx < gw; ++gx) {
                around.clear();
                for (int y = std::max(0, gy - radius); y <= std::min(gh - 1, gy + radius); ++y)
                    for (int x = std::max(0, gx - radius); x <= std::min(gw - 1, gx + radius); ++x)
                        around.push_back(grid[std::size_t(y) * std::size_t(gw) + std::size_t(x)]);
                out[std::size_t(gy) * std::size_t(gw) + std::size_t(gx)] = take(around);
            }
        grid = std::move(out);
    };
    const auto median = [](std::vector<double>& v) {
        std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    const auto mean = [](std::vector<double>& v) {
        double s = 0;
        for (const double x : v) s += x;
        return s / double(v.size());
    };
    filtered(1, [](std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
    filtered(3, median);
    filtered(1, [](std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
    // Shadows darken paper by at most about half: darker than that is print or a picture.
    std::vector<double> all = grid;
    const double paperLevel = median(all);
    for (double& v : grid) v = std::max({v, 0.5 * paperLevel, 16.0});
    filtered(2, mean);
    filtered(2, mean);

    // The levels after the light is evened: paper a little below the brightest is white; the
    // print's typical darkness comes out near black.
    const auto background = [&](int x, int y) {
        const double gx = std::clamp((x + 0.5) / block - 0.5, 0.0, gw - 1.0), gy = std::clamp((y + 0.5) / block - 0.5, 0.0, gh - 1.0);
        const int x0 = std::min(int(gx), gw - 2 < 0 ? 0 : gw - 2), y0 = std::min(int(gy), gh - 2 < 0 ? 0 : gh - 2);
        const int x1 = std::min(x0 + 1, gw - 1), y1 = std::min(y0 + 1, gh - 1);
        const double fx = std::clamp(gx - x0, 0.0, 1.0), fy = std::clamp(gy - y0, 0.0, 1.0);
        const auto g = [&](int xx, int yy) { return grid[std::size_t(yy) * std::size_t(gw) + std::size_t(xx)]; };
        const double top = g(x0, y0) + fx * (g(x1, y0) - g(x0, y0)), bottom = g(x0, y1) + fx * (g(x1, y1) - g(x0, y1));
        return top + fy * (bottom - top);
    };
    std::vector<std::uint8_t> ink;
    for (int y = 0; y < h; y += 3)
        for (int x = 0; x < w; x += 3) {
            const double v = greyOf(page.pixels.data() + (std::size_t(y) * std::size_t(w) + std::size_t(x)) * 3) * 255.0 / background(x, y);
            if (v < 150) ink.push_back(std::uint8_t(v));
        }
    // Paper a little below the brightest is white; the print's typical darkness near black, and
    // the middle greys darker (a power of 1.5): print blurred by the camera reads dark again.
    const double white = 222;
    const double black = std::clamp(double(percentile(ink, 0.5)) - 30, 0.0, 100.0);
    std::array<std::uint8_t, 1024> levels{};
    for (std::size_t v = 0; v < levels.size(); ++v)
        levels[v] = std::uint8_t(255 * std::pow(std::clamp((double(v) - black) / (white - black), 0.0, 1.0), 1.5) + 0.5);
    std::vector<double> rowLight(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) rowLight[std::size_t(x)] = 255.0 / background(x, y);
        std::uint8_t* p = page.pixels.data() + std::size_t(y) * std::size_t(w) * 3;
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c, ++p) *p = levels[std::min<std::size_t>(levels.size() - 1, std::size_t(*p * rowLight[std::size_t(x)] + 0.5))];
    }
}

pictolio::Outcome<CleanedPage> cleanPhoto(const imaging::ImageSource& photo, const CleaningOptions& options) {
    RgbImage pixels = rgbPixels(photo);  // (let go of as soon as the page is drawn: a 600-dpi scan is 100 MB)
    if (pixels.isNull()) return pictolio::Failure{QStringLiteral("its pixels cannot be read")};
    const RgbImage small = shrunk(pixels, 800);
    const double sx = double(pixels.width) / small.width, sy = double(pixels.height) / small.height;
    CleanedPage cleaned;
    RgbImage page;
    double dpi = pageDpi;
    if (std::optional<Corners> found = findSheet(small)) {
        Corners corners = *found;
        for (Point& p : corners) p.x *= sx, p.y *= sy;
        corners = sharpened(pixels, corners, 3 * std::max(sx, sy));
        // A little within the sheet's edges: its rim, half paper and half table, stays out.
        const Point middle{(corners[0].x + corners[1].x + corners[2].x + corners[3].x) / 4,
                           (corners[0].y + corners[1].y + corners[2].y + corners[3].y) / 4};
        for (Point& p : corners) {
            const double d = std::hypot(p.x - middle.x, p.y - middle.y);
            if (d > 0) p.x += (middle.x - p.x) * 3 / d, p.y += (middle.y - p.y) * 3 / d;
        }
        const double proportions = sheetProportions(corners, pixels.width / 2.0, pixels.height / 2.0);
        cleaned.proportions = proportions;
        const bool wide = proportions > 1;
        const double ratio = wide ? 1 / proportions : proportions;  // short side over long side
        double shortMm = 0, longMm = 0;
        for (const Paper& paper : papers)
            if (std::abs(ratio / (paper.shortMm / paper.longMm) - 1) <= 0.03) {
                cleaned.paper = paper.name, shortMm = paper.shortMm, longMm = paper.longMm;
                break;
            }
        if (cleaned.paper.empty()) {
            // A size of its own (a receipt, a card): its long side as long as the photo shows it.
            const auto length = [&](int a, int b) { return std::hypot(corners[std::size_t(a)].x - corners[std::size_t(b)].x, corners[std::size_t(a)].y - corners[std::size_t(b)].y); };
            const double longPx = wide ? std::max(length(0, 1), length(3, 2)) : std::max(length(0, 3), length(1, 2));
            longMm = std::min(longPx, 6000.0) / pageDpi * mmPerInch;
            shortMm = longMm * ratio;
        }
        cleaned.widthMm = wide ? longMm : shortMm;
        cleaned.heightMm = wide ? shortMm : longMm;
        page = squared(pixels, corners, int(std::lround(cleaned.widthMm / mmPerInch * pageDpi)),
                       int(std::lround(cleaned.heightMm / mmPerInch * pageDpi)));
        pixels = RgbImage();
    } else if (mostlyPaper(small)) {
        // A scanner's dark borders run along the scan's own edges: cut off first, then the page
        // within turned straight by its lines of print.
        std::vector<std::uint8_t> levels;
        for (std::size_t i = 0; i < pixels.pixels.size(); i += 3 * 7) levels.push_back(greyOf(pixels.pixels.data() + i));
        const double paperLevel = percentile(levels, 0.9);
        const RgbImage scan = cropped(pixels, darkEdge(pixels, false, false, paperLevel), darkEdge(pixels, true, false, paperLevel),
                                      darkEdge(pixels, false, true, paperLevel), darkEdge(pixels, true, true, paperLevel));
        pixels = RgbImage();
        std::optional<double> skew;
        try {
            skew = skewOfPrint(scan);
        } catch (const std::runtime_error& e) {
            return pictolio::Failure{QString::fromStdString(e.what())};
        }
        if (!skew) return pictolio::Failure{QStringLiteral("no page found")};
        // The largest upright rectangle within the scan turned straight, about its centre.
        const double a = *skew * M_PI / 180, c = std::cos(std::abs(a)), s = std::sin(std::abs(a));
        const double W = scan.width, H = scan.height, cos2 = c * c - s * s;
        const double w = std::abs(a) < 1e-6 ? W : (W * c - H * s) / cos2, hgt = std::abs(a) < 1e-6 ? H : (H * c - W * s) / cos2;
        Corners corners;
        const Point offsets[4] = {{-w / 2, -hgt / 2}, {w / 2, -hgt / 2}, {w / 2, hgt / 2}, {-w / 2, hgt / 2}};
        for (std::size_t i = 0; i < 4; ++i) {
            const Point& o = offsets[i];
            corners[i] = {W / 2 + o.x * std::cos(a) + o.y * std::sin(a), H / 2 - o.x * std::sin(a) + o.y * std::cos(a)};
        }
        page = squared(scan, corners, int(w), int(hgt));
        cleaned.scan = true;
        cleaned.turnedBy = *skew;
        dpi = 0;
    } else {
        return pictolio::Failure{QStringLiteral("no page found")};
    }
    if (page.width < 16 || page.height < 16) return pictolio::Failure{QStringLiteral("no page found")};
    evenLight(page);
    if (!cleaned.scan) whitenRim(page);

    // Colour where there is colour (a stamp, a logo, a highlighter), over a share of the page
    // that grain and fringes of colour around print do not reach.
    Colours kind = options.colours;
    std::vector<std::uint8_t> grey(std::size_t(page.width) * std::size_t(page.height));
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = greyOf(page.pixels.data() + 3 * i);
    if (kind == Colours::Auto) {
        const RgbImage blurred = shrunk(page, std::max(page.width, page.height) / 4);
        std::size_t coloured = 0;
        const std::size_t n = std::size_t(blurred.width) * std::size_t(blurred.height);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* p = blurred.pixels.data() + 3 * i;
            coloured += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 48;
        }
        std::size_t middling = 0;
        for (const std::uint8_t v : grey) middling += v > 64 && v < 192;
        kind = double(coloured) > 0.0015 * double(n) ? Colours::Colour
               : double(middling) < 0.05 * double(grey.size()) ? Colours::Mono
                                                              : Colours::Grey;
    }
    if (dpi > 0) {
        cleaned.widthMm = page.width / dpi * mmPerInch;
        cleaned.heightMm = page.height / dpi * mmPerInch;
    }
    cleaned.stored = kind;
    cleaned.width = page.width, cleaned.height = page.height;
    const int quality = std::clamp(options.jpegQuality, 1, 100);
    if (options.compact && kind != Colours::Mono) {
        if (kind == Colours::Grey)
            for (std::size_t i = 0; i < grey.size(); ++i) std::fill_n(page.pixels.data() + 3 * i, 3, grey[i]);
        auto compact = compactPage(page, quality, photo.description());
        if (compact) {
            cleaned.image = std::move(*compact);
            return cleaned;
        }
        cleaned.notCompact = compact.reason();
    }
    imaging::ImageFormat format;
    format.width = page.width, format.height = page.height;
    std::vector<std::uint8_t> data;
    try {
        if (kind == Colours::Mono) {
            format.colorSpace = imaging::ColorSpace::Gray;
            format.encoding = imaging::ImageEncoding::Ccitt;
            format.bitsPerComponent = 1;
            format.fax.k = -1;
            data = imaging::group4(imaging::blackAndWhite(grey, page.width, page.height), page.width, page.height);
        } else if (kind == Colours::Grey) {
            format.colorSpace = imaging::ColorSpace::Gray;
            data = imaging::encodeJpeg(grey.data(), page.width, page.height, 1, quality);
        } else {
            data = imaging::encodeJpeg(page.pixels.data(), page.width, page.height, 3, quality);
        }
    } catch (const std::exception& e) {
        return pictolio::Failure{QString::fromStdString(e.what())};
    }
    cleaned.image = std::make_shared<SpooledImage>(std::move(data), format, photo.description());
    return cleaned;
}

}  // namespace cleaning
