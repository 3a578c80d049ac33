// vcam_stream_check WIDTH HEIGHT [MIN_FRAMES [bgra|yuyv]]: reads packed BGRA
// (or YUYV) pictures from standard input (qndl-vcam --out -) and the frame
// number each one
// carries in its top band: ten cells, each a sixteenth of the width wide and
// a twelfth of the height high, white for a set bit and black otherwise
// (lowest bit on the left). It checks that the numbers rise one by one.
//
// A reader that starts late first finds the frames that waited in the ring
// (at most its 19 slots) and then the live ones: one jump within the first
// 20 frames is that catch-up, not a gap.
//
// Exit status 0 when every frame is readable and in order and at least
// MIN_FRAMES arrived; 1 otherwise; 2 for a bad command line. Gaps are
// counted and printed for the caller to judge: under load the engine and
// the ring drop frames by design.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kBits = 10;
constexpr int kCellsAcross = 16;
constexpr int kBandRows = 12;
constexpr int kCatchUpFrames = 20;

struct TSequence {
    int64_t frames = 0;
    int64_t first = -1;
    int64_t last = -1;
    int64_t caughtUpAfter = 0;  // frames before the catch-up jump, 0 without one
    int64_t gaps = 0;
    int64_t missing = 0;
    int64_t outOfOrder = 0;
    int64_t unreadable = 0;
};

// Where a pixel's brightness is: BGRA's green, YUYV's luma.
struct TPacking {
    int bytesPerPixel;
    int brightnessByte;
};

// Mean brightness of a 9 x 9 patch around (x, y), on the scale 0..255 (luma
// 16..235 reads as a little more contrasty; the thresholds allow for it).
int PatchBrightness(const std::vector<uint8_t>& picture, const TPacking& packing, int width, int x,
                    int y) {
    int sum = 0;
    for (int dy = -4; dy <= 4; ++dy) {
        for (int dx = -4; dx <= 4; ++dx) {
            const size_t pixel = static_cast<size_t>(y + dy) * width + (x + dx);
            sum += picture[pixel * packing.bytesPerPixel + packing.brightnessByte];
        }
    }
    return sum / 81;
}

// The frame number, or -1 when a cell is neither clearly black nor white.
int64_t FrameNumber(const std::vector<uint8_t>& picture, const TPacking& packing, int width,
                    int height) {
    int64_t number = 0;
    const int y = height / (2 * kBandRows);
    for (int bit = 0; bit < kBits; ++bit) {
        const int x = (2 * bit + 1) * width / (2 * kCellsAcross);
        const int brightness = PatchBrightness(picture, packing, width, x, y);
        if (brightness > 170) {
            number |= int64_t{1} << bit;
        } else if (brightness >= 85) {
            return -1;
        }
    }
    return number;
}

void Follow(TSequence& sequence, int64_t number) {
    ++sequence.frames;
    if (number < 0) {
        ++sequence.unreadable;
        return;
    }
    if (sequence.first < 0) {
        sequence.first = sequence.last = number;
        return;
    }
    const int64_t step = number - sequence.last;
    if (step <= 0) {
        ++sequence.outOfOrder;
    } else if (step > 1 && sequence.caughtUpAfter == 0 && sequence.frames <= kCatchUpFrames) {
        sequence.caughtUpAfter = sequence.frames - 1;
    } else if (step > 1) {
        ++sequence.gaps;
        sequence.missing += step - 1;
    }
    sequence.last = number;
}

}  // namespace

int main(int argc, char** argv) {
    const bool yuyv = argc == 5 && std::strcmp(argv[4], "yuyv") == 0;
    if (argc < 3 || argc > 5 || (argc == 5 && !yuyv && std::strcmp(argv[4], "bgra") != 0)) {
        std::fprintf(stderr,
                     "usage: vcam_stream_check WIDTH HEIGHT [MIN_FRAMES [bgra|yuyv]] < stream\n");
        return 2;
    }
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    const int64_t minFrames = argc >= 4 ? std::atoll(argv[3]) : 1;
    const TPacking packing = yuyv ? TPacking{2, 0} : TPacking{4, 1};
    if (width < kCellsAcross * 10 || height < kBandRows * 10) {
        std::fprintf(stderr, "vcam_stream_check: %dx%d is too small for the number band\n",
                     width, height);
        return 2;
    }
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * packing.bytesPerPixel);
    TSequence sequence;
    while (std::fread(picture.data(), 1, picture.size(), stdin) == picture.size()) {
        Follow(sequence, FrameNumber(picture, packing, width, height));
    }
    std::printf(
        "vcam_stream_check: frames %lld (numbers %lld..%lld), caught up after %lld waiting "
        "frames, gaps %lld (%lld frames missing), out of order %lld, unreadable %lld\n",
        static_cast<long long>(sequence.frames), static_cast<long long>(sequence.first),
        static_cast<long long>(sequence.last), static_cast<long long>(sequence.caughtUpAfter),
        static_cast<long long>(sequence.gaps), static_cast<long long>(sequence.missing),
        static_cast<long long>(sequence.outOfOrder), static_cast<long long>(sequence.unreadable));
    const bool orderly =
        sequence.outOfOrder == 0 && sequence.unreadable == 0 && sequence.frames >= minFrames;
    return orderly ? 0 : 1;
}
