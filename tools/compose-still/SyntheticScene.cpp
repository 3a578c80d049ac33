#include "tools/compose-still/SyntheticScene.h"

#include <algorithm>
#include <cmath>

#include "engine/compositor/CompositorKernels.h"

namespace pelorn::tools {
namespace {

double Smooth(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Coverage of an ellipse with a soft rim `soft` pixels wide.
double Ellipse(double x, double y, double cx, double cy, double rx, double ry, double soft) {
    const double dx = (x - cx) / rx;
    const double dy = (y - cy) / ry;
    const double distance = (std::sqrt(dx * dx + dy * dy) - 1.0) * std::min(rx, ry);
    return 1.0 - Smooth(-soft, soft, distance);
}

// Coverage of a rounded box.
double Box(double x, double y, double left, double top, double right, double bottom, double soft) {
    const double inside = std::min({x - left, right - x, y - top, bottom - y});
    return Smooth(-soft, soft, inside);
}

uint32_t Hash(uint32_t x, uint32_t y) {
    uint32_t h = x * 374761393u + y * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

struct TColour {
    double b, g, r;
};

TColour Mix(const TColour& a, const TColour& b, double t) {
    return {a.b + (b.b - a.b) * t, a.g + (b.g - a.g) * t, a.r + (b.r - a.r) * t};
}

}  // namespace

TSyntheticScene MakePresenterScene(int width, int height) {
    TSyntheticScene scene;
    scene.width = width;
    scene.height = height;
    const size_t pixels = static_cast<size_t>(width) * height;
    scene.bgr.resize(pixels * 3);
    scene.coverage.resize(pixels);
    scene.shadow.resize(pixels);

    const double w = width;
    const double h = height;
    const double soft = std::max(1.0, w / 640.0);  // a few pixels at 1080p
    const TColour skin{120, 150, 210};
    const TColour hair{30, 38, 52};
    const TColour shirt{160, 80, 40};
    const TColour sleeve{150, 72, 36};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double px = x + 0.5;
            const double py = y + 0.5;
            // Backdrop: lit from the top left, with a little sensor noise.
            const double light = 1.02 - 0.08 * (py / h) - 0.05 * (px / w);
            const double noise = (static_cast<int>(Hash(x, y) % 9) - 4) * 0.6;
            TColour colour{40 * light + noise, 180 * light + noise, 50 * light + noise};

            // The shadow falls to the right of the figure, with a soft rim.
            const double shade =
                std::max(Ellipse(px, py, w * 0.60, h * 0.72, w * 0.16, h * 0.34, w * 0.04), 0.0) *
                0.3;
            colour = Mix(colour, {colour.b * 0.5, colour.g * 0.5, colour.r * 0.5}, shade);

            const double head = Ellipse(px, py, w * 0.5, h * 0.30, w * 0.075, h * 0.13, soft);
            const double hairCap = Ellipse(px, py, w * 0.5, h * 0.24, w * 0.085, h * 0.10, soft) *
                                   (1.0 - Smooth(h * 0.24, h * 0.27, py));
            const double neck = Box(px, py, w * 0.47, h * 0.40, w * 0.53, h * 0.50, soft);
            const double body = Ellipse(px, py, w * 0.5, h * 0.86, w * 0.20, h * 0.36, soft) *
                                Smooth(h * 0.47, h * 0.49, py);
            const double arms = Box(px, py, w * 0.27, h * 0.58, w * 0.73, h * 1.05, soft) *
                                Smooth(h * 0.55, h * 0.60, py);
            TColour figure = Mix(skin, hair, hairCap);
            double cover = std::max({head, hairCap, neck});
            if (body > 0.0 || arms > 0.0) {
                const double clothes = std::max(body, arms);
                figure = Mix(figure, body >= arms ? shirt : sleeve, clothes);
                cover = std::max(cover, clothes);
            }
            colour = Mix(colour, figure, cover);

            const size_t at = static_cast<size_t>(y) * width + x;
            scene.bgr[at * 3] = static_cast<uint8_t>(std::clamp(colour.b, 0.0, 255.0));
            scene.bgr[at * 3 + 1] = static_cast<uint8_t>(std::clamp(colour.g, 0.0, 255.0));
            scene.bgr[at * 3 + 2] = static_cast<uint8_t>(std::clamp(colour.r, 0.0, 255.0));
            scene.coverage[at] = static_cast<uint8_t>(std::lround(cover * 255.0));
            scene.shadow[at] = static_cast<uint8_t>(std::lround(shade * 255.0));
        }
    }
    return scene;
}

std::vector<uint8_t> MakeCanvas(int width, int height) {
    std::vector<uint8_t> canvas(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = canvas.data() + (static_cast<size_t>(y) * width + x) * 4;
            const bool tile = ((x * 8 / std::max(width, 1)) + (y * 6 / std::max(height, 1))) % 2;
            pixel[0] = static_cast<uint8_t>(200 * y / std::max(height - 1, 1) + (tile ? 40 : 0));
            pixel[1] = static_cast<uint8_t>(tile ? 70 : 30);
            pixel[2] = static_cast<uint8_t>(215 * x / std::max(width - 1, 1) + (tile ? 0 : 30));
            pixel[3] = 255;
        }
    }
    return canvas;
}

std::vector<uint8_t> ToYuyv(const std::vector<uint8_t>& bgr, int width, int height) {
    std::vector<uint8_t> yuyv(static_cast<size_t>((width + 1) / 2) * 4 * height);
    const kernels::TConvertArgs args{yuyv.data(), bgr.data(), width, height, 1};
    for (int band = 0; band < 4; ++band) kernels::BgrToYuv(&args, band);
    return yuyv;
}

}  // namespace pelorn::tools
