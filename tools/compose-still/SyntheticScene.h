#pragma once

#include <cstdint>
#include <vector>

namespace pelorn::tools {

// A presenter-like figure (head, hair, neck, shirt, arms) with soft,
// anti-aliased edges, standing on a lit green backdrop that darkens into a
// soft shadow beside the figure; and a colourful canvas standing for a
// captured screen. Deterministic, any size.
struct TSyntheticScene {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;       // the camera picture, BGR24
    std::vector<uint8_t> coverage;  // 255 where the figure is, 0 on the backdrop
    std::vector<uint8_t> shadow;    // 0..255, how dark the backdrop's shadow is
};

TSyntheticScene MakePresenterScene(int width, int height);
// BGRA, rows of width x 4 bytes.
std::vector<uint8_t> MakeCanvas(int width, int height);
// The picture as the compositor's input format 1 (YUYV422), rows of
// (width + 1) / 2 pairs.
std::vector<uint8_t> ToYuyv(const std::vector<uint8_t>& bgr, int width, int height);

}  // namespace pelorn::tools
