// Matting quality against a known truth. Renders presenter pictures whose
// alpha and foreground colours are known (soft silhouette, hair strands of
// alpha 0.3-0.7, a semi-transparent sleeve, a motion-blurred arm) over a
// green or blue backdrop with a lighting gradient, a cast shadow, a light spot
// and sensor noise, in YUYV 4:2:2. Each picture goes through the compositor
// (mask, and the composite over a known canvas) and through FFmpeg's
// chromakey + despill at the best of a small grid of their settings; both are
// scored per region:
//   alpha: mean absolute error of the mask (0..1) against the true alpha in
//          the whole frame, the edge band (0 < alpha < 1: soft rims, motion
//          blur, sleeve), the strands, the backdrop's shadow and light spot,
//          and the solid foreground (fraction of pixels not exactly opaque);
//   colour: mean absolute error (0..1 per channel) of the composite against
//          the true composite in the edge band, where green spill shows.
//
//   matte_quality [--grid] [--bounds] [--size 720|1080|both]
//                 [--backdrop green|blue|both] [--engine P0,P1,P10,P11] [--png FILE]
//
// --grid searches P0, P1, P10 and P11 for the one setting that scores best
// over all chosen pictures; otherwise the setting of --engine (or the
// default below) is used. --bounds adds what the keyer's fixed steps leave
// reachable at that setting (see PrintBounds). --png writes a crop of the 720p green composite.
// Everything runs in a temporary data folder (the colour tables are built
// there once per run).

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
}

#include "engine/compositor/ColourMath.h"
#include "engine/compositor/TCompositor.h"
#include "engine/modules/ModuleExtractor.h"
#include "engine/modules/ModuleFolder.h"
#include "tools/compose-still/StillImage.h"
#include "tools/compose-still/SyntheticScene.h"

namespace {

using namespace pelorn;

// ---------------------------------------------------------------- the scene

enum class Backdrop { kGreen, kBlue };

enum Region { kWhole, kEdge, kStrands, kShadow, kSpot, kSolid, kRegionCount };
const char* const kRegionNames[kRegionCount] = {"whole", "edge", "strands",
                                                "shadow", "spot", "solid"};

struct TColour {
    double b, g, r;
};

struct TScene {
    int width = 0;
    int height = 0;
    Backdrop backdrop = Backdrop::kGreen;
    TColour key{};                 // the backdrop's nominal colour
    std::vector<float> alpha;      // true opacity 0..1
    std::vector<float> fg;         // true foreground colour, BGR 0..255
    std::vector<uint8_t> region;   // bit per Region (kWhole not stored)
    std::vector<uint8_t> bgr;      // the camera picture, BGR24
    std::vector<uint8_t> yuyv;     // the same as the compositor's input
    std::vector<uint8_t> decoded;  // the YUYV decoded back to BGR24
    std::vector<uint8_t> canvas;   // BGRA
};

double Smooth(double x) {  // 0 below 0, 1 above 1
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3.0 - 2.0 * x);
}

uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

// Roughly Gaussian noise of deviation 1 (sum of four uniforms).
double Noise(int x, int y) {
    double sum = 0.0;
    for (uint32_t i = 0; i < 4; ++i) sum += (Hash(x, y, i) & 0xFFFF) / 65535.0;
    return (sum - 2.0) * 1.732;
}

// One layer painted over the accumulated foreground (premultiplied "over").
void Paint(TScene& scene, size_t i, double a, const TColour& c) {
    if (a <= 0.0)
        return;
    const double under = scene.alpha[i];
    const double out = a + under * (1.0 - a);
    float* f = &scene.fg[i * 3];
    f[0] = static_cast<float>((c.b * a + f[0] * under * (1.0 - a)) / out);
    f[1] = static_cast<float>((c.g * a + f[1] * under * (1.0 - a)) / out);
    f[2] = static_cast<float>((c.r * a + f[2] * under * (1.0 - a)) / out);
    scene.alpha[i] = static_cast<float>(out);
}

// Coverage of an ellipse whose rim is `soft` pixels wide.
double Ellipse(double x, double y, double cx, double cy, double rx, double ry, double soft) {
    const double dx = (x - cx) / rx;
    const double dy = (y - cy) / ry;
    const double distance = (std::sqrt(dx * dx + dy * dy) - 1.0) * std::min(rx, ry);
    return 1.0 - Smooth(distance / soft + 0.5);
}

double Box(double x, double y, double l, double t, double r, double b, double softX,
           double softY) {
    return Smooth((x - l) / softX + 0.5) * Smooth((r - x) / softX + 0.5) *
           Smooth((y - t) / softY + 0.5) * Smooth((b - y) / softY + 0.5);
}

struct TStrand {
    double x0, y0, x1, y1, bend, alpha;
};

// Distance from (x, y) to a quadratic curve, by sampling (strands are short).
double StrandCoverage(const TStrand& s, double x, double y, double width) {
    double best = 1e9;
    const double mx = (s.x0 + s.x1) / 2 + s.bend;
    const double my = (s.y0 + s.y1) / 2;
    for (int k = 0; k <= 48; ++k) {
        const double t = k / 48.0;
        const double px = (1 - t) * (1 - t) * s.x0 + 2 * t * (1 - t) * mx + t * t * s.x1;
        const double py = (1 - t) * (1 - t) * s.y0 + 2 * t * (1 - t) * my + t * t * s.y1;
        best = std::min(best, std::hypot(x - px, y - py));
    }
    return std::clamp(width / 2 + 0.5 - best, 0.0, 1.0);
}

TScene MakeScene(int width, int height, Backdrop backdrop) {
    TScene scene;
    scene.width = width;
    scene.height = height;
    scene.backdrop = backdrop;
    scene.key = backdrop == Backdrop::kGreen ? TColour{60, 175, 55} : TColour{190, 80, 30};
    const size_t pixels = static_cast<size_t>(width) * height;
    scene.alpha.assign(pixels, 0.0f);
    scene.fg.assign(pixels * 3, 0.0f);
    scene.region.assign(pixels, 0);
    scene.bgr.resize(pixels * 3);

    const double s = height / 720.0;  // geometry in 720p pixels
    const double soft = 1.6 * s;
    const TColour skin{120, 150, 205}, hair{28, 34, 46}, shirt{70, 55, 150}, collar{235, 235, 240};
    const TColour sleeve{225, 222, 230};
    const double cx = width * 0.45;

    std::vector<TStrand> strands;
    for (int k = 0; k < 36; ++k) {
        const double angle = -2.6 + 2.2 * k / 35.0;  // fan over the head
        const double r0 = 84 * s, r1 = (118 + 30 * ((k * 7) % 5) / 4.0) * s;
        const double hx = cx, hy = 235 * s;
        strands.push_back({hx + r0 * std::cos(angle), hy + r0 * std::sin(angle),
                           hx + r1 * std::cos(angle), hy + r1 * std::sin(angle),
                           ((k % 3) - 1) * 10 * s, 0.3 + 0.4 * ((k * 5) % 9) / 8.0});
    }

    std::vector<float> strandAlpha(pixels, 0.0f);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            // Body and shoulders, then the neck, the head and its hair cap.
            Paint(scene, i,
                  std::max(Ellipse(x, y, cx, 540 * s, 210 * s, 100 * s, soft),
                           Box(x, y, cx - 200 * s, 540 * s, cx + 200 * s, height + 40, soft, soft)),
                  shirt);
            Paint(scene, i, Box(x, y, cx - 30 * s, 330 * s, cx + 30 * s, 470 * s, soft, soft), skin);
            Paint(scene, i, Ellipse(x, y, cx - 40 * s, 470 * s, 50 * s, 22 * s, soft), collar);
            Paint(scene, i, Ellipse(x, y, cx, 250 * s, 75 * s, 95 * s, soft), skin);
            Paint(scene, i,
                  Ellipse(x, y, cx, 215 * s, 82 * s, 72 * s, soft) *
                      (1.0 - Smooth((y - 235 * s) / (3 * s))),
                  hair);
            // The raised right arm, blurred by motion along x.
            Paint(scene, i, Box(x, y, cx + 200 * s, 420 * s, cx + 330 * s, 520 * s, 16 * s, soft),
                  skin);
            // A semi-transparent sleeve over part of the arm and the backdrop.
            Paint(scene, i,
                  0.55 * Box(x, y, cx + 190 * s, 400 * s, cx + 290 * s, 545 * s, soft, soft),
                  sleeve);
            double strandCover = 0.0;
            if (y < 260 * s && y > 80 * s && std::abs(x - cx) < 160 * s) {
                for (const TStrand& strand : strands) {
                    const double c = strand.alpha * StrandCoverage(strand, x, y, 1.4 * s);
                    if (c > 0.0) {
                        Paint(scene, i, c, hair);
                        strandCover = std::max(strandCover, c);
                    }
                }
            }
            strandAlpha[i] = static_cast<float>(strandCover);
        }
    }

    // Backdrop: gradient, light spot top right, shadow cast to the left.
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const double gradient = 0.82 + 0.25 * x / width - 0.08 * y / height;
            const double sx = (x - width * 0.86) / (110 * s), sy = (y - height * 0.22) / (90 * s);
            const double spot = 0.32 * std::exp(-(sx * sx + sy * sy));
            // The figure's shape moved left and blurred: a soft cast shadow.
            const double shadowShape =
                Box(x, y, cx - 420 * s, 330 * s, cx - 210 * s, height + 40, 40 * s, 40 * s) +
                Ellipse(x, y, cx - 300 * s, 260 * s, 80 * s, 95 * s, 40 * s);
            const double shadow = 0.45 * std::min(shadowShape, 1.0);
            const double gain = (gradient + spot) * (1.0 - shadow);
            const TColour back{scene.key.b * gain, scene.key.g * gain, scene.key.r * gain};
            const double a = scene.alpha[i];
            const float* f = &scene.fg[i * 3];
            const double noise = 2.0;
            const double c[3] = {f[0] * a + back.b * (1 - a) + noise * Noise(x * 3, y),
                                 f[1] * a + back.g * (1 - a) + noise * Noise(x * 3 + 1, y),
                                 f[2] * a + back.r * (1 - a) + noise * Noise(x * 3 + 2, y)};
            for (int ch = 0; ch < 3; ++ch)
                scene.bgr[i * 3 + ch] = static_cast<uint8_t>(std::clamp(std::lround(c[ch]), 0L, 255L));

            uint8_t bits = 0;
            if (strandAlpha[i] > 0.05f && a < 0.996)
                bits |= 1 << kStrands;
            else if (a > 0.004 && a < 0.996)
                bits |= 1 << kEdge;
            if (a == 0.0 && shadow > 0.1)
                bits |= 1 << kShadow;
            if (a == 0.0 && spot > 0.08)
                bits |= 1 << kSpot;
            scene.region[i] = bits;
        }
    }
    // Solid: opaque over the whole 5 x 5 neighbourhood.
    for (int y = 2; y < height - 2; ++y) {
        for (int x = 2; x < width - 2; ++x) {
            bool solid = true;
            for (int dy = -2; dy <= 2 && solid; ++dy)
                for (int dx = -2; dx <= 2 && solid; ++dx)
                    solid = scene.alpha[static_cast<size_t>(y + dy) * width + x + dx] >= 0.9999f;
            if (solid)
                scene.region[static_cast<size_t>(y) * width + x] |= 1 << kSolid;
        }
    }

    scene.yuyv = tools::ToYuyv(scene.bgr, width, height);
    scene.decoded.resize(pixels * 3);
    for (size_t p = 0; p < pixels; p += 2) {
        const uint8_t* q = &scene.yuyv[p * 2];
        for (int k = 0; k < 2 && p + k < pixels; ++k) {
            const colour::TBgr c = colour::SampleColour(q[1], q[3], q[k * 2]);
            scene.decoded[(p + k) * 3] = static_cast<uint8_t>(c.b);
            scene.decoded[(p + k) * 3 + 1] = static_cast<uint8_t>(c.g);
            scene.decoded[(p + k) * 3 + 2] = static_cast<uint8_t>(c.r);
        }
    }
    scene.canvas = tools::MakeCanvas(width, height);
    return scene;
}

// ---------------------------------------------------------------- scoring

struct TScore {
    double alpha[kRegionCount] = {};
    double edgeColour = 0.0;
    // One figure to rank settings by: the regions' alpha errors and the
    // colour error, with the whole frame and solid part weighted up to the
    // size of the others.
    double Rank() const {
        return alpha[kEdge] + alpha[kStrands] + alpha[kShadow] + alpha[kSpot] +
               10 * alpha[kWhole] + alpha[kSolid] + edgeColour;
    }
};

// `alpha` is 0..255 per pixel; `composite` BGR24 (stride 3) or BGRA (4).
TScore Score(const TScene& scene, const uint8_t* alpha, const uint8_t* composite, int stride,
             bool solidExact) {
    double sum[kRegionCount] = {};
    size_t count[kRegionCount] = {};
    double colourSum = 0.0;
    const size_t pixels = scene.alpha.size();
    for (size_t i = 0; i < pixels; ++i) {
        const double error = std::abs(alpha[i] / 255.0 - scene.alpha[i]);
        sum[kWhole] += error;
        ++count[kWhole];
        for (int r = kEdge; r < kRegionCount; ++r) {
            if (!(scene.region[i] >> r & 1))
                continue;
            sum[r] += r == kSolid ? (solidExact ? alpha[i] != 255 : error) : error;
            ++count[r];
        }
        if (scene.region[i] >> kEdge & 1) {
            const double a = scene.alpha[i];
            for (int ch = 0; ch < 3; ++ch) {
                const double truth = scene.fg[i * 3 + ch] * a + scene.canvas[i * 4 + ch] * (1 - a);
                colourSum += std::abs(composite[i * stride + ch] - truth) / 255.0;
            }
        }
    }
    TScore score;
    for (int r = 0; r < kRegionCount; ++r) score.alpha[r] = count[r] ? sum[r] / count[r] : 0.0;
    score.edgeColour = count[kEdge] ? colourSum / (3.0 * count[kEdge]) : 0.0;
    return score;
}

// ---------------------------------------------------------------- engine

struct TEngineSetting {
    int p0 = 0, p1 = 0, p10 = 0, p11 = 0;
};

TCapLayout FullFrame(int width, int height) {
    TCapLayout layout{};
    for (TCapLayer& layer : layout.layers) layer.Id = TCapLayer::kUnused;
    layout.LayerCnt = 1;
    layout.MaxWidth = width;
    layout.MaxHeight = height;
    layout.layers[0] = {TCapLayer::kPresenter,
                        TCapLayer::kFlagEnabled,
                        0,
                        {{0, 0}, {width - 1, 0}, {width - 1, height - 1}, {0, height - 1}}};
    return layout;
}

class TEngineRunner {
public:
    bool Prepare(const TScene& scene) {
        if (scene.width == m_nWidth && scene.height == m_nHeight)
            return m_compositor.IsReady();
        m_compositor.SetFormats(1, 3);
        if (m_compositor.SetUp(scene.width, scene.height) != 0)
            return false;
        m_compositor.Controls().SetLayout(FullFrame(scene.width, scene.height));
        m_nWidth = scene.width;
        m_nHeight = scene.height;
        m_out.resize(static_cast<size_t>(m_nWidth) * m_nHeight * 3);
        m_mask.resize(static_cast<size_t>(m_nWidth) * m_nHeight);
        return m_compositor.IsReady();
    }

    void Apply(const TEngineSetting& setting) {
        TMattControls& controls = m_compositor.Controls();
        controls.SetValue(0, setting.p0);
        controls.SetValue(1, setting.p1);
        controls.SetValue(10, setting.p10);
        controls.SetValue(11, setting.p11);
    }

    // Mask through the grey-mask path, then the composite over the canvas.
    bool Run(const TScene& scene, TScore& score) {
        TMattControls& controls = m_compositor.Controls();
        controls.SetProcessFlags(TCompositor::kFlagCanvasBackground | TCompositor::kFlagMaskPicture);
        if (m_compositor.Compose(m_out.data(), scene.yuyv.data(), scene.canvas.data()) != 0)
            return false;
        std::memcpy(m_mask.data(), m_compositor.Mask(), m_mask.size());
        controls.SetProcessFlags(TCompositor::kFlagCanvasBackground);
        if (m_compositor.Compose(m_out.data(), scene.yuyv.data(), scene.canvas.data()) != 0)
            return false;
        score = Score(scene, m_mask.data(), m_out.data(), 3, true);
        return true;
    }
    const std::vector<uint8_t>& Composite() const { return m_out; }

private:
    TCompositor m_compositor;
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::vector<uint8_t> m_out;
    std::vector<uint8_t> m_mask;
};

// ---------------------------------------------------------------- FFmpeg

struct TKeySetting {
    double similarity, blend;
};

// chromakey + despill on the decoded camera picture; RGBA out as BGRA.
bool RunChromakey(const TScene& scene, const TKeySetting& setting, std::vector<uint8_t>& bgra) {
    const bool green = scene.backdrop == Backdrop::kGreen;
    char description[512];
    std::snprintf(description, sizeof description,
                  "buffer=video_size=%dx%d:pix_fmt=bgr24:time_base=1/25,"
                  "chromakey=color=0x%02X%02X%02X:similarity=%.3f:blend=%.3f,"
                  "despill=type=%s,format=bgra,buffersink",
                  scene.width, scene.height, static_cast<int>(scene.key.r),
                  static_cast<int>(scene.key.g), static_cast<int>(scene.key.b),
                  setting.similarity, setting.blend, green ? "green" : "blue");
    AVFilterGraph* graph = avfilter_graph_alloc();
    AVFilterInOut* inputs = nullptr;
    AVFilterInOut* outputs = nullptr;
    bool ok = avfilter_graph_parse2(graph, description, &inputs, &outputs) >= 0 &&
              avfilter_graph_config(graph, nullptr) >= 0;
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    for (unsigned i = 0; ok && i < graph->nb_filters; ++i) {
        const std::string name = graph->filters[i]->filter->name;
        if (name == "buffer")
            source = graph->filters[i];
        if (name == "buffersink")
            sink = graph->filters[i];
    }
    AVFrame* in = av_frame_alloc();
    AVFrame* out = av_frame_alloc();
    in->width = scene.width;
    in->height = scene.height;
    in->format = AV_PIX_FMT_BGR24;
    ok = ok && source && sink && av_frame_get_buffer(in, 32) >= 0;
    if (ok) {
        for (int y = 0; y < scene.height; ++y)
            std::memcpy(in->data[0] + static_cast<ptrdiff_t>(y) * in->linesize[0],
                        &scene.decoded[static_cast<size_t>(y) * scene.width * 3], scene.width * 3);
        ok = av_buffersrc_add_frame(source, in) >= 0 && av_buffersink_get_frame(sink, out) >= 0;
    }
    if (ok) {
        bgra.resize(static_cast<size_t>(scene.width) * scene.height * 4);
        for (int y = 0; y < scene.height; ++y)
            std::memcpy(&bgra[static_cast<size_t>(y) * scene.width * 4],
                        out->data[0] + static_cast<ptrdiff_t>(y) * out->linesize[0],
                        scene.width * 4);
    }
    av_frame_free(&in);
    av_frame_free(&out);
    avfilter_graph_free(&graph);
    return ok;
}

TScore ScoreChromakey(const TScene& scene, const std::vector<uint8_t>& bgra) {
    const size_t pixels = scene.alpha.size();
    std::vector<uint8_t> alpha(pixels);
    std::vector<uint8_t> composite(pixels * 3);
    for (size_t i = 0; i < pixels; ++i) {
        const int a = bgra[i * 4 + 3];
        alpha[i] = static_cast<uint8_t>(a);
        for (int ch = 0; ch < 3; ++ch)
            composite[i * 3 + ch] = static_cast<uint8_t>(
                (bgra[i * 4 + ch] * a + scene.canvas[i * 4 + ch] * (255 - a) + 127) / 255);
    }
    return Score(scene, alpha.data(), composite.data(), 3, true);
}

struct TBestKey {
    TKeySetting setting{};
    TScore score{};
    bool found = false;
};

TBestKey BestChromakey(const TScene& scene) {
    TBestKey best;
    std::vector<uint8_t> bgra;
    for (double similarity : {0.06, 0.10, 0.14, 0.20, 0.28}) {
        for (double blend : {0.0, 0.04, 0.08, 0.14}) {
            const TKeySetting setting{similarity, blend};
            if (!RunChromakey(scene, setting, bgra))
                continue;
            const TScore score = ScoreChromakey(scene, bgra);
            if (!best.found || score.Rank() < best.score.Rank())
                best = {setting, score, true};
        }
    }
    return best;
}

// ---------------------------------------------------------------- bounds

// What the keyer's fixed steps leave reachable. A pixel's mask byte is
// either decided before the angle table (opaque or clear) or read from it,
// and all pixels reading one table entry share its byte; the fixed 1-2-1
// filter then spreads it. Fitting the free bytes to this very picture, with
// the regions weighted as Rank weighs them, shows what the best table (or
// the best mask of free pixels) could do here: projected sub-gradient steps
// on the mean absolute errors, each byte's step scaled by the weight it
// carries.
void Filter121(const std::vector<float>& in, std::vector<float>& out, int width, int height) {
    out.assign(in.size(), 0.0f);
    for (int y = 1; y < height - 1; ++y)
        for (int x = 1; x < width - 1; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const float* u = &in[i - width];
            const float* m = &in[i];
            const float* d = &in[i + width];
            out[i] = (u[-1] + 2 * u[0] + u[1] + 2 * m[-1] + 4 * m[0] + 2 * m[1] + d[-1] +
                      2 * d[0] + d[1]) / 16.0f;
        }
}

// `group` is -1 for a decided pixel (its value in `fixed`), else the index of
// the free byte it reads. Returns the fitted mask's score (alpha only).
TScore FitToPicture(const TScene& scene, const std::vector<int>& group, int groups,
                    const std::vector<float>& fixed) {
    const int w = scene.width, h = scene.height;
    const size_t pixels = scene.alpha.size();
    double count[kRegionCount] = {};
    for (size_t i = 0; i < pixels; ++i)
        for (int r = kEdge; r < kRegionCount; ++r) count[r] += scene.region[i] >> r & 1;
    std::vector<float> weight(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        double sum = 10.0 / pixels;
        for (int r = kEdge; r < kRegionCount; ++r)
            if (scene.region[i] >> r & 1)
                sum += 1.0 / count[r];
        weight[i] = static_cast<float>(sum);
    }
    std::vector<double> value(groups, 0.5), gradient(groups), scale(groups, 0.0);
    std::vector<float> mask(pixels), filtered, slope(weight), spread;
    auto fill = [&] {
        for (size_t i = 0; i < pixels; ++i)
            mask[i] = group[i] < 0 ? fixed[i] : static_cast<float>(value[group[i]]);
        Filter121(mask, filtered, w, h);
    };
    auto gather = [&](std::vector<double>& into) {
        Filter121(slope, spread, w, h);  // the filter is symmetric
        std::fill(into.begin(), into.end(), 0.0);
        for (size_t i = 0; i < pixels; ++i)
            if (group[i] >= 0)
                into[group[i]] += spread[i];
    };
    gather(scale);
    constexpr int kPasses = 300;
    for (int pass = 0; pass < kPasses; ++pass) {
        fill();
        for (size_t i = 0; i < pixels; ++i)
            slope[i] = filtered[i] > scene.alpha[i]   ? weight[i]
                       : filtered[i] < scene.alpha[i] ? -weight[i]
                                                      : 0.0f;
        gather(gradient);
        const double step = 0.1 * std::pow(0.01, static_cast<double>(pass) / (kPasses - 1));
        for (int g = 0; g < groups; ++g)
            if (scale[g] > 0.0)
                value[g] = std::clamp(value[g] - step * gradient[g] / scale[g], 0.0, 1.0);
    }
    fill();
    std::vector<uint8_t> bytes(pixels);
    for (size_t i = 0; i < pixels; ++i)
        bytes[i] = static_cast<uint8_t>(std::lround(std::clamp(filtered[i], 0.0f, 1.0f) * 255));
    return Score(scene, bytes.data(), scene.decoded.data(), 3, false);
}

// Least colour error any mask can give in the edge band, pixel by pixel:
// the composite shows the camera colour c over the canvas k by the mask f,
// so per channel the error is |f (c - k) - (truth - k)|, convex in f; the
// least of the sum lies at 0, 1 or one of the channels' zeros.
double LeastEdgeColour(const TScene& scene) {
    double sum = 0.0, count = 0.0;
    for (size_t i = 0; i < scene.alpha.size(); ++i) {
        if (!(scene.region[i] >> kEdge & 1))
            continue;
        double shown[3], wanted[3];
        for (int ch = 0; ch < 3; ++ch) {
            const double k = scene.canvas[i * 4 + ch];
            shown[ch] = scene.decoded[i * 3 + ch] - k;
            wanted[ch] = (scene.fg[i * 3 + ch] - k) * scene.alpha[i];
        }
        double best = 1e9;
        std::vector<double> candidates = {0.0, 1.0};
        for (int ch = 0; ch < 3; ++ch)
            if (shown[ch] != 0.0)
                candidates.push_back(std::clamp(wanted[ch] / shown[ch], 0.0, 1.0));
        for (double f : candidates) {
            double e = 0.0;
            for (int ch = 0; ch < 3; ++ch) e += std::abs(f * shown[ch] - wanted[ch]);
            best = std::min(best, e);
        }
        sum += best / (3 * 255.0);
        count += 1;
    }
    return sum / std::max(count, 1.0);
}

void PrintBounds(const TScene& scene, const TEngineSetting& setting, double chromakeyColour) {
    static std::vector<uint8_t> slice;
    if (slice.empty()) {
        slice.resize(colour::kColourSliceBytes);
        colour::BuildColourSlice(slice.data());
    }
    const std::vector<uint8_t> clear(colour::kAngleBytes, 0), opaque(colour::kAngleBytes, 255);
    const colour::TKeyParams params{setting.p0, 2 * setting.p1, 2 * setting.p10, 2 * setting.p11,
                                    0, 255};
    const size_t pixels = scene.alpha.size();
    std::vector<int> perEntry(pixels);
    std::vector<float> fixed(pixels, 0.0f), truth(scene.alpha);
    std::vector<int> entryGroup(colour::kAngleBytes, -1);
    int entries = 0;
    double backdrop = 0.0, backdropDecided = 0.0, backdropOpaque = 0.0;
    for (size_t p = 0; p < pixels; ++p) {
        const uint8_t* pair = &scene.yuyv[(p & ~size_t{1}) * 2];
        const int u = pair[1], v = pair[3], y = pair[(p & 1) * 2];
        const int k = colour::KeyValue(u, v);
        int decided = -1;  // opacity 0..255 when the table is not read
        size_t entry = 0;
        if (k >= 510) {
            decided = 0;
        } else if (k < 1) {
            decided = 255;
        } else {
            const colour::TDerived d = colour::DerivedEntry(u, v, y, slice.data());
            const int low = colour::GreenOpacity(k, d, params, clear.data());
            const int high = colour::GreenOpacity(k, d, params, opaque.data());
            if (low == high) {
                decided = low;
            } else {  // the keyer's table coordinates, as GreenOpacity finds them
                const int h = static_cast<int16_t>(k - std::max(params.p1 + d.c0 + d.c2 - d.c1, 0));
                const int kk = std::max<int>(
                    static_cast<int16_t>((d.c0 + d.c2) * params.p0 / 16 + d.offset), 0);
                entry = colour::AngleIndex(h, std::clamp(((510 - kk) * d.scale) >> 7, 1, 510));
            }
        }
        if (decided >= 0) {
            perEntry[p] = -1;
            fixed[p] = decided / 255.0f;
        } else {
            int& g = entryGroup[entry];
            if (g < 0)
                g = entries++;
            perEntry[p] = g;
        }
        if (scene.alpha[p] == 0.0f) {
            backdrop += 1;
            if (decided >= 0)
                backdropDecided += 1;
            if (decided == 255)
                backdropOpaque += 1;
        }
    }
    std::vector<float> filteredTruth;
    Filter121(truth, filteredTruth, scene.width, scene.height);
    std::vector<uint8_t> truthBytes(pixels);
    for (size_t i = 0; i < pixels; ++i)
        truthBytes[i] = static_cast<uint8_t>(std::lround(filteredTruth[i] * 255));
    std::vector<int> everyPixel(pixels);
    for (size_t i = 0; i < pixels; ++i) everyPixel[i] = static_cast<int>(i);
    auto line = [](const char* what, const TScore& score) {
        std::printf("    %-34s whole %.4f edge %.4f strands %.4f shadow %.4f spot %.4f\n", what,
                    score.alpha[kWhole], score.alpha[kEdge], score.alpha[kStrands],
                    score.alpha[kShadow], score.alpha[kSpot]);
    };
    std::printf("  reachable after the fixed filter at this setting (masks fitted to this picture):\n");
    line("the true alpha, filtered", Score(scene, truthBytes.data(), scene.decoded.data(), 3, false));
    line("best mask of free pixels", FitToPicture(scene, everyPixel, static_cast<int>(pixels),
                                                   std::vector<float>(pixels)));
    line("best angle table", FitToPicture(scene, perEntry, entries, fixed));
    const double colourBound = LeastEdgeColour(scene);
    std::printf("    colour edge: no mask goes below %.4f (%.2f of chromakey+despill)\n",
                colourBound, chromakeyColour > 0 ? colourBound / chromakeyColour : 0.0);
    std::printf("    backdrop pixels decided before the angle table: %.1f %% (opaque %.1f %%)\n",
                100.0 * backdropDecided / std::max(backdrop, 1.0),
                100.0 * backdropOpaque / std::max(backdrop, 1.0));
}

// ---------------------------------------------------------------- report

void PrintComparison(const TScene& scene, const TScore& ours, const TBestKey& theirs) {
    std::printf("%dx%d %s backdrop; chromakey+despill best at similarity %.2f blend %.2f\n",
                scene.width, scene.height, scene.backdrop == Backdrop::kGreen ? "green" : "blue",
                theirs.setting.similarity, theirs.setting.blend);
    std::printf("  %-14s %10s %12s %8s\n", "region", "engine", "chromakey", "ratio");
    auto line = [](const char* name, double a, double b) {
        std::printf("  %-14s %10.4f %12.4f %8.2f\n", name, a, b, b > 0 ? a / b : 0.0);
    };
    for (int r = 0; r < kRegionCount; ++r) {
        char name[32];
        std::snprintf(name, sizeof name, "alpha %s", kRegionNames[r]);
        line(name, ours.alpha[r], theirs.score.alpha[r]);
    }
    line("colour edge", ours.edgeColour, theirs.score.edgeColour);
}

bool ParseSetting(const char* text, TEngineSetting& setting) {
    return std::sscanf(text, "%d,%d,%d,%d", &setting.p0, &setting.p1, &setting.p10,
                       &setting.p11) == 4;
}

void SaveCrop(const std::string& path, const std::vector<uint8_t>& bgr, int width, int height) {
    const int cropW = std::min(width, 560), cropH = std::min(height, 420);
    const int left = std::clamp(static_cast<int>(width * 0.45) - cropW / 2, 0, width - cropW);
    const int top = std::clamp(static_cast<int>(height * 0.08), 0, height - cropH);
    std::vector<uint8_t> crop(static_cast<size_t>(cropW) * cropH * 3);
    for (int y = 0; y < cropH; ++y)
        std::memcpy(&crop[static_cast<size_t>(y) * cropW * 3],
                    &bgr[(static_cast<size_t>(top + y) * width + left) * 3], cropW * 3);
    if (!tools::SavePicture(path, crop.data(), tools::TPixelLayout::kBgr24, cropW, cropH))
        std::fprintf(stderr, "matte_quality: cannot write %s\n", path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    bool grid = false;
    bool bounds = false;
    std::vector<int> heights = {720, 1080};
    std::vector<Backdrop> backdrops = {Backdrop::kGreen, Backdrop::kBlue};
    // The best setting of the grid for the tables as generated.
    TEngineSetting setting{0, -16, 0, 0};
    std::string png;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : "";
        if (arg == "--grid") {
            grid = true;
        } else if (arg == "--bounds") {
            bounds = true;
        } else if (arg == "--size" && i + 1 < argc) {
            heights = std::strcmp(next, "720") == 0    ? std::vector<int>{720}
                      : std::strcmp(next, "1080") == 0 ? std::vector<int>{1080}
                                                       : std::vector<int>{720, 1080};
            ++i;
        } else if (arg == "--backdrop" && i + 1 < argc) {
            backdrops = std::strcmp(next, "green") == 0  ? std::vector{Backdrop::kGreen}
                        : std::strcmp(next, "blue") == 0 ? std::vector{Backdrop::kBlue}
                                                         : std::vector{Backdrop::kGreen,
                                                                       Backdrop::kBlue};
            ++i;
        } else if (arg == "--engine" && i + 1 < argc && ParseSetting(next, setting)) {
            ++i;
        } else if (arg == "--png" && i + 1 < argc) {
            png = next;
            ++i;
        } else {
            std::fprintf(stderr,
                         "usage: matte_quality [--grid] [--bounds] [--size 720|1080|both] "
                         "[--backdrop green|blue|both] [--engine P0,P1,P10,P11] [--png FILE]\n");
            return 2;
        }
    }

    char pattern[] = "/tmp/matte-quality-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return 1;
    const std::string root = pattern;
    setenv("XDG_DATA_HOME", root.c_str(), 1);
    std::filesystem::create_directories(ModuleFolder());
    ModuleExtractor::ExtractInstalled();

    std::vector<TScene> scenes;
    for (int h : heights)
        for (Backdrop b : backdrops) scenes.push_back(MakeScene(h * 16 / 9, h, b));

    int status = 0;
    {
        // One compositor per size, so a setting change rebuilds the
        // decision data once per size.
        std::vector<TEngineRunner> runners(heights.size());
        auto runnerOf = [&](const TScene& scene) -> TEngineRunner& {
            for (size_t k = 0; k < heights.size(); ++k)
                if (heights[k] == scene.height)
                    return runners[k];
            return runners[0];
        };
        for (const TScene& scene : scenes) {
            if (!runnerOf(scene).Prepare(scene)) {
                std::fprintf(stderr, "matte_quality: the compositor is not ready "
                                     "(is Gxrl.dat beside the program?)\n");
                status = 1;
            }
        }
        auto evaluate = [&](const TEngineSetting& s, std::vector<TScore>& scores) {
            scores.assign(scenes.size(), TScore{});
            double rank = 0.0;
            for (size_t k = 0; k < scenes.size(); ++k) {
                TEngineRunner& runner = runnerOf(scenes[k]);
                runner.Apply(s);
                if (!runner.Run(scenes[k], scores[k]))
                    return 1e9;
                rank += scores[k].Rank();
            }
            return rank;
        };

        std::vector<TScore> scores;
        if (status == 0 && grid) {
            double bestRank = 1e18;
            TEngineSetting best = setting;
            for (int p0 : {-20, 0, 20})
                for (int p1 : {-16, -8, 0, 8})
                    for (int p10 : {0, 60, 100, 140, 180})
                        for (int p11 : {0, 80}) {
                            const TEngineSetting s{p0, p1, p10, p11};
                            const double rank = evaluate(s, scores);
                            if (rank < bestRank) {
                                bestRank = rank;
                                best = s;
                            }
                        }
            setting = best;
        }
        if (status == 0) {
            evaluate(setting, scores);
            std::printf("engine setting: P0 %d, P1 %d, P10 %d, P11 %d%s\n", setting.p0,
                        setting.p1, setting.p10, setting.p11,
                        grid ? " (best of the grid)" : "");
            for (size_t k = 0; k < scenes.size(); ++k) {
                const TBestKey theirs = BestChromakey(scenes[k]);
                PrintComparison(scenes[k], scores[k], theirs);
                if (bounds)
                    PrintBounds(scenes[k], setting, theirs.score.edgeColour);
                if (!png.empty() && scenes[k].height == 720 &&
                    scenes[k].backdrop == Backdrop::kGreen) {
                    TEngineRunner& runner = runnerOf(scenes[k]);
                    TScore again;
                    if (runner.Run(scenes[k], again))
                        SaveCrop(png, runner.Composite(), scenes[k].width, scenes[k].height);
                }
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return status;
}
