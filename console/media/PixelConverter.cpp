#include "console/media/PixelConverter.h"

#include "engine/modules/ModuleFolder.h"

namespace console {

namespace {

int AllocateFrame(AVFrame* frame, int width, int height, int format) {
    av_frame_unref(frame);
    frame->width = width;
    frame->height = height;
    frame->format = format;
    return av_frame_get_buffer(frame, 1);
}

int RunOn(auto& object, const AVFrame* src, AVFrame* dst) {
    return object->Run(dst->data, dst->linesize, src->data, src->linesize);
}

}  // namespace

PixelConverter::PixelConverter()
    : PixelConverter(pelorn::ModuleFolder() + "/" + pelorn::BrenvikDLL::kFileName) {}

PixelConverter::PixelConverter(const std::string& modulePath)
    : m_pModule(std::make_unique<pelorn::BrenvikDLL>(modulePath)),
      m_pDstFrame(av_frame_alloc()),
      m_pMidFrame(av_frame_alloc()) {
    if (m_pModule->CreateConverter(m_converter.Receive(), nullptr) != 0) m_converter.Reset();
    if (m_pModule->CreateScaler(m_scaler.Receive(), 3, 3) != 0) m_scaler.Reset();
}

PixelConverter::~PixelConverter() {
    av_frame_free(&m_pDstFrame);
    av_frame_free(&m_pMidFrame);
    m_converter.Reset();
    m_scaler.Reset();
}

int PixelConverter::SourceCode(int pixelFormat) {
    switch (pixelFormat) {
        case AV_PIX_FMT_YUV420P: return kPixCodeYuv420p;
        case AV_PIX_FMT_YUYV422: return kPixCodeYuyv422;
        case AV_PIX_FMT_YUVJ422P: return kPixCodeYuvj422p;
        case AV_PIX_FMT_BGR24: return kPixCodeBgr24;
        case AV_PIX_FMT_BGRA: return kPixCodeBgra;
        case AV_PIX_FMT_NV12: return kPixCodeNv12;
        default: return kPixCodeUyvy422;
    }
}

int PixelConverter::DestinationCode(int pixelFormat) {
    switch (pixelFormat) {
        case AV_PIX_FMT_BGRA: return kPixCodeBgra;
        case AV_PIX_FMT_NV12: return kPixCodeNv12;
        default: return kPixCodeUyvy422;
    }
}

int PixelConverter::Configure(int srcWidth, int srcHeight, int srcFormat, int dstWidth,
                              int dstHeight, int dstFormat) {
    if (srcWidth == m_nSrcWidth && srcHeight == m_nSrcHeight && srcFormat == m_nSrcFormat &&
        dstWidth == m_nDstWidth && dstHeight == m_nDstHeight && dstFormat == m_nDstFormat)
        return 0;
    if (!m_converter || (!m_scaler && (srcWidth != dstWidth || srcHeight != dstHeight))) return -1;
    int ret = m_converter->Configure(DestinationCode(dstFormat), 1, SourceCode(srcFormat), 1,
                                     srcWidth, srcHeight, 0, 1, 255, 1);
    if (ret == 0 && (srcWidth != dstWidth || srcHeight != dstHeight)) {
        ret = m_scaler->Configure(dstWidth, dstHeight, srcWidth, srcHeight,
                                  DestinationCode(dstFormat));
        if (ret == 0) ret = AllocateFrame(m_pMidFrame, srcWidth, srcHeight, dstFormat);
    }
    if (ret == 0) ret = AllocateFrame(m_pDstFrame, dstWidth, dstHeight, dstFormat);
    if (ret != 0) {
        m_nSrcFormat = m_nDstFormat = -1;
        return ret;
    }
    m_nSrcWidth = srcWidth;
    m_nSrcHeight = srcHeight;
    m_nSrcFormat = srcFormat;
    m_nDstWidth = dstWidth;
    m_nDstHeight = dstHeight;
    m_nDstFormat = dstFormat;
    return 0;
}

int PixelConverter::Convert(const AVFrame* src, AVFrame* dst) {
    if (!m_converter || m_nSrcFormat < 0) return -1;
    if (src->width != m_nSrcWidth || src->height != m_nSrcHeight || src->format != m_nSrcFormat)
        return -1;
    int ret;
    if (!NeedsScaling()) {
        ret = RunOn(m_converter, src, dst);
    } else if (m_nSrcFormat == m_nDstFormat) {
        ret = RunOn(m_scaler, src, dst);
    } else {
        ret = RunOn(m_converter, src, m_pMidFrame);
        if (ret == 0) ret = RunOn(m_scaler, m_pMidFrame, dst);
    }
    dst->pts = src->pts;
    dst->opaque = src->opaque;
    return ret;
}

}  // namespace console
