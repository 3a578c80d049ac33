#include "platform/V4l2Output.h"

#include <linux/videodev2.h>

#include <cerrno>

namespace platform {

uint32_t TV4l2Output::BytesPerPixel(TV4l2Packing packing) {
    switch (packing) {
        case TV4l2Packing::Yuyv: return 2;
        case TV4l2Packing::Bgr24: return 3;
        case TV4l2Packing::Bgra: return 4;
    }
    return 0;
}

int TV4l2Output::Open(const std::string& path, std::unique_ptr<TV4l2Output>* output) {
    std::unique_ptr<TV4l2DeviceFd> device;
    if (int error = TV4l2DeviceFd::Open(path, &device)) return error;
    auto opened = std::make_unique<TV4l2Output>(std::move(device));
    if (int error = opened->CheckIsOutput()) return error;
    *output = std::move(opened);
    return 0;
}

int TV4l2Output::CheckIsOutput() {
    v4l2_capability caps{};
    if (int error = m_pDevice->Ioctl(VIDIOC_QUERYCAP, &caps)) return error;
    const uint32_t offered =
        (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
    return (offered & V4L2_CAP_VIDEO_OUTPUT) != 0 ? 0 : ENODEV;
}

int TV4l2Output::TrySetFormat(uint32_t width, uint32_t height, uint32_t fourcc,
                              uint32_t bytesPerPixel) {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    format.fmt.pix.width = width;
    format.fmt.pix.height = height;
    format.fmt.pix.pixelformat = fourcc;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    format.fmt.pix.bytesperline = width * bytesPerPixel;
    format.fmt.pix.sizeimage = width * bytesPerPixel * height;
    format.fmt.pix.colorspace =
        fourcc == V4L2_PIX_FMT_YUYV ? V4L2_COLORSPACE_SMPTE170M : V4L2_COLORSPACE_SRGB;
    if (int error = m_pDevice->Ioctl(VIDIOC_S_FMT, &format)) return error;

    // The driver answers with what it will use; a different size or layout
    // would make every frame we write wrong.
    const v4l2_pix_format& agreed = format.fmt.pix;
    const uint32_t packedLine = width * bytesPerPixel;
    if (agreed.width != width || agreed.height != height || agreed.pixelformat != fourcc ||
        agreed.bytesperline < packedLine || agreed.sizeimage < agreed.bytesperline * height) {
        return EINVAL;
    }
    m_format = {agreed.width, agreed.height, agreed.pixelformat, agreed.bytesperline,
                agreed.sizeimage};
    return 0;
}

int TV4l2Output::SetFormat(uint32_t width, uint32_t height, TV4l2Packing packing) {
    m_format = {};
    const uint32_t bytesPerPixel = BytesPerPixel(packing);
    switch (packing) {
        case TV4l2Packing::Yuyv:
            return TrySetFormat(width, height, V4L2_PIX_FMT_YUYV, bytesPerPixel);
        case TV4l2Packing::Bgr24:
            return TrySetFormat(width, height, V4L2_PIX_FMT_BGR24, bytesPerPixel);
        case TV4l2Packing::Bgra: {
            const int error = TrySetFormat(width, height, V4L2_PIX_FMT_ABGR32, bytesPerPixel);
            if (error != EINVAL) return error;
            return TrySetFormat(width, height, V4L2_PIX_FMT_BGR32, bytesPerPixel);
        }
    }
    return EINVAL;
}

int TV4l2Output::WriteFrame(const void* bytes, size_t size) {
    size_t written = 0;
    if (int error = m_pDevice->Write(bytes, size, &written)) return error;
    return written == size ? 0 : EIO;
}

}  // namespace platform
