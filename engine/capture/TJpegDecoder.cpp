#include "engine/capture/TJpegDecoder.h"

#include <turbojpeg.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
}

namespace pelorn {
namespace {

constexpr int kAlign = 32;

AVPixelFormat PixelFormatOf(int subsampling, int colorspace) {
    if (colorspace != TJCS_YCbCr) return AV_PIX_FMT_NONE;
    if (subsampling == TJSAMP_422) return AV_PIX_FMT_YUVJ422P;
    if (subsampling == TJSAMP_420) return AV_PIX_FMT_YUVJ420P;
    return AV_PIX_FMT_NONE;
}

}  // namespace

TJpegDecoder::TJpegDecoder() : m_handle(tjInitDecompress()) {}

TJpegDecoder::~TJpegDecoder() {
    av_buffer_pool_uninit(&m_pool);  // freed once receivers have let go of every buffer
    if (m_handle != nullptr) tjDestroy(m_handle);
}

TJpegDecoder::Result TJpegDecoder::Decode(const uint8_t* data, int size, AVFrame* out) {
    av_frame_unref(out);
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (m_handle == nullptr || data == nullptr || size <= 0 ||
        tjDecompressHeader3(m_handle, data, static_cast<unsigned long>(size), &width, &height, &subsampling,
                            &colorspace) != 0)
        return Result::kRefused;
    const AVPixelFormat format = PixelFormatOf(subsampling, colorspace);
    if (format == AV_PIX_FMT_NONE || !Allocate(format, width, height, out)) return Result::kRefused;

    unsigned char* planes[3] = {out->data[0], out->data[1], out->data[2]};
    int strides[3] = {out->linesize[0], out->linesize[1], out->linesize[2]};
    // A warning (data ending early, stray bytes) still leaves a whole picture.
    if (tjDecompressToYUVPlanes(m_handle, data, static_cast<unsigned long>(size), planes, width, strides, height,
                                0) != 0 &&
        tjGetErrorCode(m_handle) != TJERR_WARNING) {
        av_frame_unref(out);
        return Result::kRefused;
    }
    out->color_range = AVCOL_RANGE_JPEG;
    out->colorspace = AVCOL_SPC_BT470BG;
    out->chroma_location = AVCHROMA_LOC_CENTER;
    out->key_frame = 1;
    out->pict_type = AV_PICTURE_TYPE_I;
    return Result::kPicture;
}

bool TJpegDecoder::Allocate(int pixelFormat, int width, int height, AVFrame* out) {
    const auto format = static_cast<AVPixelFormat>(pixelFormat);
    const int size = av_image_get_buffer_size(format, width, height, kAlign);
    if (size <= 0) return false;
    if (m_pool == nullptr || m_nPoolSize != size) {
        av_buffer_pool_uninit(&m_pool);
        m_pool = av_buffer_pool_init(static_cast<size_t>(size), nullptr);
        m_nPoolSize = size;
    }
    out->buf[0] = m_pool != nullptr ? av_buffer_pool_get(m_pool) : nullptr;
    if (out->buf[0] == nullptr) return false;
    if (av_image_fill_arrays(out->data, out->linesize, out->buf[0]->data, format, width, height, kAlign) < 0) {
        av_frame_unref(out);
        return false;
    }
    out->format = format;
    out->width = width;
    out->height = height;
    return true;
}

}  // namespace pelorn
