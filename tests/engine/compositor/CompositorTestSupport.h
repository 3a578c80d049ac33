#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/TCapLayout.h"

namespace pelorn::testing_support {

// Puts "Gxrl.dat" into the module folder (from the container beside the test
// binary) unless it is there: the holder deletes it whenever the module is
// released, as it does in the product.
bool EnsureConverterModule();

// A layout with the presenter's layer (and optionally the frame layer) at
// the given rectangle, in working-size coordinates.
TCapLayout PresenterLayout(int width, int height, int left, int top, int right, int bottom,
                           int32_t flag = TCapLayer::kFlagEnabled);
TCapLayout FullScreenLayout(int width, int height);

// The synthetic presenter scene as compositor input.
struct TScene {
    int width;
    int height;
    std::vector<uint8_t> bgr;
    std::vector<uint8_t> coverage;
    std::vector<uint8_t> shadow;
    std::vector<uint8_t> yuyv;
    std::vector<uint8_t> canvas;  // BGRA
};
TScene MakeScene(int width, int height);

}  // namespace pelorn::testing_support
