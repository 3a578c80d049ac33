#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace console {

struct TDrawRect {
    int left, top, right, bottom;
};

// Renders lines of text and stamps the glyphs into a YUY2 (format 1) or
// BGRA (any other format) frame buffer, in grey levels taken from the text
// colour's blue component. Used by one thread at a time; rendering needs the
// application's font database (a QGuiApplication).
class IDrawText {
public:
    virtual ~IDrawText() = default;
    // `colour` is 0x00BBGGRR. `bitmapWidth` is also the row length, in
    // pixels, of the frames DrawLines writes into, and bitmapWidth x
    // bitmapHeight their size.
    virtual void Setup(int charWidth, int charHeight, int pixelFormat, int bitmapWidth, int bitmapHeight,
                       uint32_t colour, int lineGap) = 0;
    // `text` is in the ANSI code page (GBK); lines end at CR or LF, empty
    // ones are skipped. Writes only inside `rect` and the frame.
    virtual void DrawLines(uint8_t* frame, const char* text, TDrawRect rect) = 0;
};

IDrawText* CreateInstance_IDrawText();
void ReleaseInstance_IDrawText(IDrawText** holder);

// Writes one rendered band into a frame: every pixel of the band (BGRA rows
// of `bandStride` bytes) whose blue byte v is non-zero becomes (v, v, v, v)
// in a BGRA frame, luma v with chroma 128 in a YUY2 one, v in each byte of a
// BGR24 one. Band pixel (c, r) lands on frame pixel (x + c, y + r); what
// falls outside `clip` (inclusive) or the frame is left alone.
struct TStampTarget {
    uint8_t* frame;
    int width, height, pixelFormat;
};
void StampBand(const TStampTarget& target, const uint8_t* band, int bandStride, int bandWidth, int bandHeight,
               int x, int y, TDrawRect clip);

}  // namespace console
