#include "platform/V4l2Output.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace platform {
namespace {

uint32_t HalfUp(uint32_t n) { return (n + 1) / 2; }

bool IsPlanar(TV4l2Packing packing) {
    return packing == TV4l2Packing::I420 || packing == TV4l2Packing::Nv12;
}

bool IsYuv(TV4l2Packing packing) { return packing == TV4l2Packing::Yuyv || IsPlanar(packing); }

// The number after "video", or -1 for any other name.
long VideoNodeNumber(const std::string& name) {
    constexpr char kPrefix[] = "video";
    constexpr size_t kPrefixLength = sizeof kPrefix - 1;
    if (name.size() <= kPrefixLength || name.compare(0, kPrefixLength, kPrefix) != 0) return -1;
    char* end = nullptr;
    const long number = std::strtol(name.c_str() + kPrefixLength, &end, 10);
    return *end == '\0' ? number : -1;
}

}  // namespace

uint32_t TV4l2Output::MinBytesPerLine(TV4l2Packing packing, uint32_t width) {
    switch (packing) {
        case TV4l2Packing::Yuyv: return HalfUp(width) * 4;
        case TV4l2Packing::Bgr24:
        case TV4l2Packing::Rgb24: return width * 3;
        case TV4l2Packing::Bgra: return width * 4;
        // The chroma lines are half the luma line, and hold HalfUp(width) samples.
        case TV4l2Packing::I420:
        case TV4l2Packing::Nv12: return HalfUp(width) * 2;
    }
    return 0;
}

uint32_t TV4l2Output::ImageBytes(TV4l2Packing packing, uint32_t bytesPerLine, uint32_t height) {
    if (!IsPlanar(packing)) return bytesPerLine * height;
    if (bytesPerLine % 2 != 0) return 0;
    return bytesPerLine * height + bytesPerLine * HalfUp(height);
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
    const char* card = reinterpret_cast<const char*>(caps.card);
    m_strCard.assign(card, strnlen(card, sizeof caps.card));
    const uint32_t offered =
        (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
    return (offered & V4L2_CAP_VIDEO_OUTPUT) != 0 ? 0 : ENODEV;
}

int TV4l2Output::TrySetFormat(uint32_t width, uint32_t height, uint32_t fourcc,
                              TV4l2Packing packing) {
    const uint32_t minLine = MinBytesPerLine(packing, width);
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    format.fmt.pix.width = width;
    format.fmt.pix.height = height;
    format.fmt.pix.pixelformat = fourcc;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    format.fmt.pix.bytesperline = minLine;
    format.fmt.pix.sizeimage = ImageBytes(packing, minLine, height);
    if (IsYuv(packing)) {
        format.fmt.pix.colorspace = V4L2_COLORSPACE_SMPTE170M;
        format.fmt.pix.ycbcr_enc = V4L2_YCBCR_ENC_601;
        format.fmt.pix.quantization = V4L2_QUANTIZATION_LIM_RANGE;
    } else {
        format.fmt.pix.colorspace = V4L2_COLORSPACE_SRGB;
    }
    if (int error = m_pDevice->Ioctl(VIDIOC_S_FMT, &format)) return error;

    // The driver answers with what it will use; a different size or layout
    // would make every frame we write wrong.
    const v4l2_pix_format& agreed = format.fmt.pix;
    const uint32_t needed = ImageBytes(packing, agreed.bytesperline, height);
    if (agreed.width != width || agreed.height != height || agreed.pixelformat != fourcc ||
        agreed.bytesperline < minLine || needed == 0 || agreed.sizeimage < needed) {
        return EINVAL;
    }
    m_format = {agreed.width, agreed.height, agreed.pixelformat, agreed.bytesperline,
                agreed.sizeimage};
    return 0;
}

int TV4l2Output::SetFormat(uint32_t width, uint32_t height, TV4l2Packing packing) {
    m_format = {};
    switch (packing) {
        case TV4l2Packing::Yuyv: return TrySetFormat(width, height, V4L2_PIX_FMT_YUYV, packing);
        case TV4l2Packing::Bgr24: return TrySetFormat(width, height, V4L2_PIX_FMT_BGR24, packing);
        case TV4l2Packing::Rgb24: return TrySetFormat(width, height, V4L2_PIX_FMT_RGB24, packing);
        case TV4l2Packing::I420: return TrySetFormat(width, height, V4L2_PIX_FMT_YUV420, packing);
        case TV4l2Packing::Nv12: return TrySetFormat(width, height, V4L2_PIX_FMT_NV12, packing);
        case TV4l2Packing::Bgra: {
            const int error = TrySetFormat(width, height, V4L2_PIX_FMT_ABGR32, packing);
            if (error != EINVAL) return error;
            return TrySetFormat(width, height, V4L2_PIX_FMT_BGR32, packing);
        }
    }
    return EINVAL;
}

int TV4l2Output::SetFrameRate(uint32_t framesPerSecond, double* agreedPerSecond) {
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    parm.parm.output.timeperframe = {1, framesPerSecond};
    if (int error = m_pDevice->Ioctl(VIDIOC_S_PARM, &parm)) return error;
    const v4l2_fract& agreed = parm.parm.output.timeperframe;
    *agreedPerSecond = agreed.numerator != 0 && agreed.denominator != 0
                           ? static_cast<double>(agreed.denominator) / agreed.numerator
                           : framesPerSecond;
    return 0;
}

int TV4l2Output::WriteFrame(const void* bytes, size_t size) {
    size_t written = 0;
    if (int error = m_pDevice->Write(bytes, size, &written)) return error;
    return written == size ? 0 : EIO;
}

std::vector<TV4l2Node> ListOutputNodes(const std::string& dir) {
    std::vector<std::pair<long, std::string>> candidates;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const long number = VideoNodeNumber(entry.path().filename().string());
        if (number >= 0) candidates.emplace_back(number, entry.path().string());
    }
    std::sort(candidates.begin(), candidates.end());
    std::vector<TV4l2Node> nodes;
    for (const auto& [number, path] : candidates) {
        std::unique_ptr<TV4l2Output> output;
        if (TV4l2Output::Open(path, &output) == 0) nodes.push_back({path, output->Card()});
    }
    return nodes;
}

int PickOutputNode(const std::vector<TV4l2Node>& nodes, const std::string& label, std::string* path) {
    for (const TV4l2Node& node : nodes) {
        if (node.card == label) {
            *path = node.path;
            return 0;
        }
    }
    if (nodes.empty()) return ENODEV;
    if (nodes.size() > 1) return ENOTUNIQ;
    *path = nodes.front().path;
    return 0;
}

}  // namespace platform
