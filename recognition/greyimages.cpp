// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/recogniser.h"

#include <algorithm>
#include <cmath>

namespace recognition {

imaging::GreyImage turned(const imaging::GreyImage& image, int degrees) {
    degrees = ((degrees % 360) + 360) % 360;
    if (degrees == 0) return image;
    imaging::GreyImage out;
    const bool swap = degrees != 180;
    out.width = swap ? image.height : image.width;
    out.height = swap ? image.width : image.height;
    out.pixels.resize(image.pixels.size());
    const int w = image.width, h = image.height;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = image.pixels.data() + std::size_t(y) * std::size_t(w);
        for (int x = 0; x < w; ++x) {
            int tx, ty;
            if (degrees == 90) tx = h - 1 - y, ty = x;            // clockwise
            else if (degrees == 180) tx = w - 1 - x, ty = h - 1 - y;
            else tx = y, ty = w - 1 - x;                           // 270 clockwise
            out.pixels[std::size_t(ty) * std::size_t(out.width) + std::size_t(tx)] = row[x];
        }
    }
    return out;
}

imaging::GreyImage scaled(const imaging::GreyImage& image, int width, int height) {
    if (image.isNull() || width <= 0 || height <= 0 || width > image.width || height > image.height) return {};
    // Each pixel is the mean of the area it covers: the taps of one axis, a first source pixel and
    // the weights of it and those after it.
    struct Taps {
        int first = 0;
        std::vector<float> weights;
    };
    const auto tapsOf = [](int from, int to) {
        std::vector<Taps> all(std::size_t(to), Taps{});
        const double step = double(from) / to;
        for (int i = 0; i < to; ++i) {
            const double a = i * step, b = std::min(double(from), (i + 1) * step);
            Taps& t = all[std::size_t(i)];
            t.first = int(a);
            for (int k = t.first; k < b; ++k)
                t.weights.push_back(float((std::min(double(k + 1), b) - std::max(double(k), a)) / (b - a)));
        }
        return all;
    };
    const std::vector<Taps> across = tapsOf(image.width, width), down = tapsOf(image.height, height);
    std::vector<float> rows(std::size_t(width) * std::size_t(image.height));
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* from = image.pixels.data() + std::size_t(y) * std::size_t(image.width);
        float* to = rows.data() + std::size_t(y) * std::size_t(width);
        for (int x = 0; x < width; ++x) {
            const Taps& t = across[std::size_t(x)];
            float sum = 0;
            for (std::size_t k = 0; k < t.weights.size(); ++k) sum += t.weights[k] * from[std::size_t(t.first) + k];
            to[x] = sum;
        }
    }
    imaging::GreyImage out;
    out.width = width;
    out.height = height;
    out.pixels.resize(std::size_t(width) * std::size_t(height));
    std::vector<float> sum(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        const Taps& t = down[std::size_t(y)];
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (std::size_t k = 0; k < t.weights.size(); ++k) {
            const float* row = rows.data() + (std::size_t(t.first) + k) * std::size_t(width);
            for (std::size_t x = 0; x < sum.size(); ++x) sum[x] += t.weights[k] * row[x];
        }
        std::uint8_t* to = out.pixels.data() + std::size_t(y) * std::size_t(width);
        for (std::size_t x = 0; x < sum.size(); ++x) to[x] = std::uint8_t(std::clamp(std::lround(sum[x]), 0L, 255L));
    }
    return out;
}

}  // namespace recognition
