#include "platform/FakeCameraBackend.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

// Answers the capability and enumeration ioctls from a node's script.
class TFakeCaptureDevice final : public IV4l2Device {
public:
    explicit TFakeCaptureDevice(TFakeCameraNode node) : m_node(std::move(node)) {}

    int Ioctl(unsigned long request, void* argument) override {
        switch (request) {
        case VIDIOC_QUERYCAP: return QueryCap(*static_cast<v4l2_capability*>(argument));
        case VIDIOC_ENUM_FMT: return EnumFormat(*static_cast<v4l2_fmtdesc*>(argument));
        case VIDIOC_ENUM_FRAMESIZES: return EnumSize(*static_cast<v4l2_frmsizeenum*>(argument));
        case VIDIOC_ENUM_FRAMEINTERVALS: return EnumInterval(*static_cast<v4l2_frmivalenum*>(argument));
        default: return ENOTTY;
        }
    }
    int Write(const void*, size_t, size_t*) override { return EINVAL; }

private:
    int QueryCap(v4l2_capability& capability) const {
        if (m_node.queryCapError != 0) return m_node.queryCapError;
        capability = {};
        std::snprintf(reinterpret_cast<char*>(capability.card), sizeof(capability.card), "%s",
                      m_node.cardName.c_str());
        capability.device_caps = (m_node.capture ? V4L2_CAP_VIDEO_CAPTURE : V4L2_CAP_META_CAPTURE) |
                                 V4L2_CAP_STREAMING;
        capability.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }

    int EnumFormat(v4l2_fmtdesc& format) const {
        if (!m_node.capture || format.index >= m_node.formats.size()) return EINVAL;
        format.pixelformat = m_node.formats[format.index].fourcc;
        return 0;
    }

    const TFakeFormat* FindFormat(uint32_t fourcc) const {
        for (const TFakeFormat& format : m_node.formats)
            if (format.fourcc == fourcc) return &format;
        return nullptr;
    }

    int EnumSize(v4l2_frmsizeenum& size) const {
        const TFakeFormat* format = FindFormat(size.pixel_format);
        if (format == nullptr) return EINVAL;
        if (format->sizeRange) {
            if (size.index > 0 || format->sizes.size() < 2) return EINVAL;
            size.type = V4L2_FRMSIZE_TYPE_STEPWISE;
            size.stepwise = {format->sizes[0].width, format->sizes[1].width, 2,
                             format->sizes[0].height, format->sizes[1].height, 2};
            return 0;
        }
        if (size.index >= format->sizes.size()) return EINVAL;
        size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size.discrete = {format->sizes[size.index].width, format->sizes[size.index].height};
        return 0;
    }

    const TFakeFrameSize* FindSize(const TFakeFormat& format, uint32_t width, uint32_t height) const {
        if (format.sizeRange) return format.sizes.empty() ? nullptr : &format.sizes[0];
        for (const TFakeFrameSize& size : format.sizes)
            if (size.width == width && size.height == height) return &size;
        return nullptr;
    }

    int EnumInterval(v4l2_frmivalenum& interval) const {
        const TFakeFormat* format = FindFormat(interval.pixel_format);
        const TFakeFrameSize* size =
            format != nullptr ? FindSize(*format, interval.width, interval.height) : nullptr;
        if (size == nullptr) return EINVAL;
        const auto fraction = [](const TFakeInterval& value) {
            return v4l2_fract{value.numerator, value.denominator};
        };
        if (size->intervalRange) {
            if (interval.index > 0 || size->intervals.size() < 2) return EINVAL;
            interval.type = V4L2_FRMIVAL_TYPE_CONTINUOUS;
            interval.stepwise = {fraction(size->intervals[0]), fraction(size->intervals[1]), {1, 1}};
            return 0;
        }
        if (interval.index >= size->intervals.size()) return EINVAL;
        interval.type = V4L2_FRMIVAL_TYPE_DISCRETE;
        interval.discrete = fraction(size->intervals[interval.index]);
        return 0;
    }

    const TFakeCameraNode m_node;
};

}  // namespace

void TFakeCameraBackend::AddNode(TFakeCameraNode node) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nodes.push_back(std::move(node));
    m_inputsTaken.push_back(0);
}

int TFakeCameraBackend::InputCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nInputCount;
}

std::vector<std::string> TFakeCameraBackend::NodePaths() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> paths;
    for (const TFakeCameraNode& node : m_nodes) paths.push_back(node.path);
    return paths;
}

int TFakeCameraBackend::OpenNode(const std::string& path, std::unique_ptr<IV4l2Device>* device) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const TFakeCameraNode& node : m_nodes) {
        if (node.path != path) continue;
        if (node.openError != 0) return node.openError;
        *device = std::make_unique<TFakeCaptureDevice>(node);
        return 0;
    }
    return ENOENT;
}

TCaptureInput TFakeCameraBackend::InputFor(const std::string& path) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (size_t i = 0; i < m_nodes.size(); ++i) {
        const std::vector<TCaptureInput>& inputs = m_nodes[i].inputs;
        if (m_nodes[i].path != path || inputs.empty()) continue;
        ++m_nInputCount;
        return inputs[std::min(m_inputsTaken[i]++, inputs.size() - 1)];
    }
    return {};
}

bool ParseCameraStandin(const std::string& text, TFakeCameraNode* node) {
    // NAME|WxH@FPS|FORMAT|URL; the URL is the rest and may hold '|'.
    const size_t first = text.find('|');
    const size_t second = first == std::string::npos ? first : text.find('|', first + 1);
    const size_t third = second == std::string::npos ? second : text.find('|', second + 1);
    if (third == std::string::npos || first == 0) return false;
    unsigned width = 0, height = 0, rate = 0;
    char tail = 0;
    const std::string mode = text.substr(first + 1, second - first - 1);
    if (std::sscanf(mode.c_str(), "%ux%u@%u%c", &width, &height, &rate, &tail) != 3 || width == 0 ||
        height == 0 || rate == 0)
        return false;
    const std::string format = text.substr(second + 1, third - second - 1);
    if (format.empty()) return false;
    node->path = "/dev/video0";
    node->cardName = text.substr(0, first);
    node->capture = true;
    node->formats = {{format == "mjpeg" ? FourCc("MJPG") : FourCc("YUYV"), {{width, height, {{1, rate}}}}}};
    node->inputs = {{format, text.substr(third + 1), "pixel_format"}};
    return true;
}

}  // namespace platform
