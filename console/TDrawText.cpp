#include "console/TDrawText.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstring>

#include "console/AnsiCodePage.h"

namespace console {

namespace {

constexpr int kFormatYuy2 = 1;
constexpr int kFormatBgr24 = 3;
constexpr size_t kMaxTextBytes = 2047;
constexpr int kFontWeight = 800;

int BytesPerPixel(int pixelFormat) {
    if (pixelFormat == kFormatYuy2) return 2;
    if (pixelFormat == kFormatBgr24) return 3;
    return 4;
}

class TDrawText final : public IDrawText {
public:
    void Setup(int charWidth, int charHeight, int pixelFormat, int bitmapWidth, int bitmapHeight, uint32_t colour,
               int lineGap) override {
        m_nCharWidth = std::max(charWidth, 1);
        m_nCharHeight = std::max(charHeight, 1);
        m_nFormat = pixelFormat;
        m_nBitmapWidth = std::max(bitmapWidth, 0);
        m_nBitmapHeight = std::max(bitmapHeight, 0);
        m_nLineGap = std::max(lineGap, 0);
        m_colour = QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
        m_font = QFont(QStringLiteral("WenQuanYi Micro Hei"));
        m_font.setPixelSize(m_nCharHeight);
        m_font.setWeight(static_cast<QFont::Weight>(kFontWeight));
        // The glyphs are stretched so that an average character is charWidth wide.
        const int average = std::max(QFontMetrics(m_font).averageCharWidth(), 1);
        m_font.setStretch(std::clamp((m_nCharWidth * 100 + average / 2) / average, 1, 4000));
        // One band at a time is rendered, stamped and cleared.
        m_band = QImage(std::max(m_nBitmapWidth, 1), BandHeight(), QImage::Format_RGB32);
        m_band.fill(Qt::black);
    }

    void DrawLines(uint8_t* frame, const char* text, TDrawRect rect) override {
        if (frame == nullptr || text == nullptr || m_band.isNull()) return;
        const std::string_view all(text, strnlen(text, kMaxTextBytes));
        const TStampTarget target{frame, m_nBitmapWidth, m_nBitmapHeight, m_nFormat};
        // One painter for all lines: the raster engine writes the band's
        // pixels as it draws, so they can be read between lines.
        QPainter painter(&m_band);
        painter.setFont(m_font);
        painter.setPen(m_colour);
        int line = 0;
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find_first_of("\r\n", start);
            if (end == std::string_view::npos) end = all.size();
            const std::string_view piece = all.substr(start, end - start);
            start = end + 1;
            if (piece.empty()) continue;
            const int bandTop = line * BandHeight();
            if (bandTop + BandHeight() > m_nBitmapHeight) break;
            DrawBand(painter, target, piece, bandTop, rect);
            ++line;
        }
    }

private:
    int BandHeight() const { return m_nCharHeight + m_nLineGap; }

    void DrawBand(QPainter& painter, const TStampTarget& target, std::string_view line, int bandTop,
                  TDrawRect rect) {
        const int width = std::min({(static_cast<int>(line.size()) + 2) * m_nCharWidth, m_nBitmapWidth,
                                    rect.right - rect.left});
        if (width <= 0 || !m_codec.FromAnsi(line, &m_utf8)) return;
        painter.drawText(QRect(0, 0, width, BandHeight()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         QString::fromUtf8(m_utf8.data(), static_cast<qsizetype>(m_utf8.size())));
        StampBand(target, m_band.constBits(), static_cast<int>(m_band.bytesPerLine()), width, BandHeight(),
                  rect.left, rect.top + bandTop, rect);
        // Only the drawn width needs clearing.
        for (int row = 0; row < BandHeight(); ++row)
            std::memset(m_band.scanLine(row), 0, static_cast<size_t>(width) * 4);
    }

    int m_nFormat = 28;
    int m_nCharWidth = 1, m_nCharHeight = 1, m_nBitmapWidth = 0, m_nBitmapHeight = 0, m_nLineGap = 0;
    QColor m_colour;
    QFont m_font;
    QImage m_band;
    TAnsiCodec m_codec;
    std::string m_utf8;
};

}  // namespace

namespace {

// One row: band pixel c's blue byte v, when non-zero, goes to frame pixel c.
// Branch-free selects, so that the compiler vectorises the rows.
void StampRowBgra(const uint8_t* band, uint8_t* frame, int columns) {
    for (int c = 0; c < columns; ++c) {
        const uint32_t v = band[c * 4];
        uint32_t pixel;
        std::memcpy(&pixel, frame + c * 4, 4);
        pixel = v != 0 ? v * 0x01010101u : pixel;
        std::memcpy(frame + c * 4, &pixel, 4);
    }
}

void StampRowYuy2(const uint8_t* band, uint8_t* frame, int columns) {
    for (int c = 0; c < columns; ++c) {
        const uint8_t v = band[c * 4];
        frame[c * 2] = v != 0 ? v : frame[c * 2];
        frame[c * 2 + 1] = v != 0 ? uint8_t(128) : frame[c * 2 + 1];
    }
}

void StampRowBgr24(const uint8_t* band, uint8_t* frame, int columns) {
    for (int c = 0; c < columns; ++c) {
        const uint8_t v = band[c * 4];
        for (int k = 0; k < 3; ++k) frame[c * 3 + k] = v != 0 ? v : frame[c * 3 + k];
    }
}

}  // namespace

void StampBand(const TStampTarget& target, const uint8_t* band, int bandStride, int bandWidth, int bandHeight,
               int x, int y, TDrawRect clip) {
    const int bytes = BytesPerPixel(target.pixelFormat);
    const int firstColumn = std::max({0, clip.left - x, -x});
    const int endColumn = std::min({bandWidth, clip.right - x + 1, target.width - x});
    const int firstRow = std::max({0, clip.top - y, -y});
    const int endRow = std::min({bandHeight, clip.bottom - y + 1, target.height - y});
    if (endColumn <= firstColumn) return;
    const size_t frameStride = static_cast<size_t>(target.width) * bytes;
    const auto stampRow = bytes == 2 ? &StampRowYuy2 : bytes == 3 ? &StampRowBgr24 : &StampRowBgra;
    for (int row = firstRow; row < endRow; ++row) {
        const uint8_t* source = band + static_cast<size_t>(row) * bandStride + firstColumn * 4;
        uint8_t* destination =
            target.frame + static_cast<size_t>(y + row) * frameStride + static_cast<size_t>(x + firstColumn) * bytes;
        stampRow(source, destination, endColumn - firstColumn);
    }
}

IDrawText* CreateInstance_IDrawText() { return new TDrawText(); }

void ReleaseInstance_IDrawText(IDrawText** holder) {
    if (holder == nullptr) return;
    delete *holder;
    *holder = nullptr;
}

}  // namespace console
