#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelorn::tools {

// Still pictures through FFmpeg's PNG and BMP codecs.

enum class TPixelLayout { kBgr24, kBgra };

// Decodes a PNG or BMP file (chosen by its name's ending) into a packed
// picture of `layout`, resampled to width x height when both are above 0,
// else at its own size (written back). Empty on failure.
std::vector<uint8_t> LoadPicture(const std::string& path, TPixelLayout layout, int& width,
                                 int& height);
// Writes a packed picture as PNG (BGR24 as RGB, BGRA as RGBA) or, for a name
// ending in ".bmp", as a 24-bit BMP. False on failure.
bool SavePicture(const std::string& path, const uint8_t* pixels, TPixelLayout layout, int width,
                 int height);

}  // namespace pelorn::tools
