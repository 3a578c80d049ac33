#pragma once

namespace console {

// The lower-cased name of FFmpeg's enumerator for a pixel-format number
// ("yuv420p" for 0, "gray8" for 8), or "" for a number outside the list.
const char* PixFmtName(int format);

}  // namespace console
