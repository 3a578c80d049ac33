#include "platform/CaptureDevices.h"

#include <dirent.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "platform/FakeCameraBackend.h"

namespace platform {
namespace {

std::atomic<ICameraBackend*> g_installed{nullptr};

// One fake backend per stand-in text ever seen, kept for the process's life,
// so that a reference handed out stays valid when the variable changes.
ICameraBackend* StandinBackend(const char* text) {
    static std::mutex lock;
    static std::map<std::string, std::unique_ptr<TFakeCameraBackend>> backends;
    std::lock_guard<std::mutex> guard(lock);
    std::unique_ptr<TFakeCameraBackend>& backend = backends[text];
    if (!backend) {
        backend = std::make_unique<TFakeCameraBackend>();
        TFakeCameraNode node;
        if (ParseCameraStandin(text, &node)) backend->AddNode(std::move(node));
    }
    return backend.get();
}

// The pixel request for a V4L2 format; 0 for formats the chain cannot read.
bool PixelRequestOf(uint32_t fourcc, int32_t* request) {
    static const std::map<uint32_t, int32_t> table = {
        {V4L2_PIX_FMT_MJPEG, kMjpegRequest},     {V4L2_PIX_FMT_JPEG, kMjpegRequest},
        {V4L2_PIX_FMT_YUYV, AV_PIX_FMT_YUYV422}, {V4L2_PIX_FMT_UYVY, AV_PIX_FMT_UYVY422},
        {V4L2_PIX_FMT_NV12, AV_PIX_FMT_NV12},    {V4L2_PIX_FMT_YUV420, AV_PIX_FMT_YUV420P},
        {V4L2_PIX_FMT_RGB24, AV_PIX_FMT_RGB24},  {V4L2_PIX_FMT_BGR24, AV_PIX_FMT_BGR24},
        {V4L2_PIX_FMT_GREY, AV_PIX_FMT_GRAY8},
    };
    const auto found = table.find(fourcc);
    if (found == table.end()) return false;
    *request = found->second;
    return true;
}

int64_t IntervalOf(const v4l2_fract& fraction) {
    if (fraction.denominator == 0) return 0;
    return (kIntervalUnits * fraction.numerator + fraction.denominator / 2) / fraction.denominator;
}

void ReadIntervals(IV4l2Device& device, uint32_t fourcc, TCaptureMode& mode) {
    v4l2_frmivalenum interval{};
    interval.pixel_format = fourcc;
    interval.width = static_cast<uint32_t>(mode.width);
    interval.height = static_cast<uint32_t>(mode.height);
    for (; device.Ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0; ++interval.index) {
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            const int64_t value = IntervalOf(interval.discrete);
            if (value > 0) mode.intervals.push_back(value);
            continue;
        }
        mode.intervalRange = true;
        mode.minInterval = IntervalOf(interval.stepwise.min);
        mode.maxInterval = IntervalOf(interval.stepwise.max);
        break;
    }
    if (!mode.intervals.empty()) {
        const auto [shortest, longest] = std::minmax_element(mode.intervals.begin(), mode.intervals.end());
        mode.minInterval = *shortest;
        mode.maxInterval = *longest;
    }
    mode.avgTimePerFrame = mode.minInterval;
}

bool RangeHolds(const v4l2_frmsize_stepwise& range, uint32_t width, uint32_t height) {
    const uint32_t stepWidth = std::max(range.step_width, 1u);
    const uint32_t stepHeight = std::max(range.step_height, 1u);
    return width >= range.min_width && width <= range.max_width && height >= range.min_height &&
           height <= range.max_height && (width - range.min_width) % stepWidth == 0 &&
           (height - range.min_height) % stepHeight == 0;
}

// The one size a range contributes.
void PickFromRange(const v4l2_frmsize_stepwise& range, int32_t width, int32_t height, TCaptureMode& mode) {
    const uint32_t w = static_cast<uint32_t>(std::max(width, 0));
    const uint32_t h = static_cast<uint32_t>(std::max(height, 0));
    if (RangeHolds(range, w, h)) {
        mode.width = width;
        mode.height = height;
    } else if (RangeHolds(range, h, w)) {
        mode.width = height;
        mode.height = width;
    } else {
        mode.width = static_cast<int32_t>(range.max_width);
        mode.height = static_cast<int32_t>(range.max_height);
    }
}

void ReadFormatModes(IV4l2Device& device, uint32_t fourcc, int32_t request, int32_t width, int32_t height,
                     std::vector<TCaptureMode>& modes) {
    v4l2_frmsizeenum size{};
    size.pixel_format = fourcc;
    for (; device.Ioctl(VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
        TCaptureMode mode;
        mode.pixelRequest = request;
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            mode.width = static_cast<int32_t>(size.discrete.width);
            mode.height = static_cast<int32_t>(size.discrete.height);
        } else {
            PickFromRange(size.stepwise, width, height, mode);
        }
        ReadIntervals(device, fourcc, mode);
        modes.push_back(std::move(mode));
        if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;
    }
}

bool QueryCaptureNode(IV4l2Device& device, const std::string& path, TCaptureNode* node) {
    v4l2_capability capability{};
    if (device.Ioctl(VIDIOC_QUERYCAP, &capability) != 0) return false;
    const uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? capability.device_caps
                                                                              : capability.capabilities;
    if ((caps & V4L2_CAP_VIDEO_CAPTURE) == 0) return false;
    const char* card = reinterpret_cast<const char*>(capability.card);
    node->cardName.assign(card, strnlen(card, sizeof(capability.card)));
    node->path = path;
    return true;
}

}  // namespace

bool TCaptureMode::AcceptsInterval(int64_t interval) const {
    if (intervalRange) return interval >= minInterval && interval <= maxInterval;
    return std::find(intervals.begin(), intervals.end(), interval) != intervals.end();
}

ICameraBackend& CameraBackend() {
    if (ICameraBackend* installed = g_installed.load(std::memory_order_acquire)) return *installed;
    if (const char* standin = std::getenv("QUINDLE_CAMERA_STANDIN"); standin != nullptr && *standin != 0)
        return *StandinBackend(standin);
    static TKernelCameraBackend kernel;
    return kernel;
}

void InstallCameraBackend(ICameraBackend* backend) {
    g_installed.store(backend, std::memory_order_release);
}

void WalkCaptureNodes(const TCaptureNodeVisitor& visit) {
    ICameraBackend& backend = CameraBackend();
    for (const std::string& path : backend.NodePaths()) {
        std::unique_ptr<IV4l2Device> device;
        if (backend.OpenNode(path, &device) != 0 || !device) continue;
        TCaptureNode node;
        if (QueryCaptureNode(*device, path, &node) && visit(node, device)) return;
    }
}

std::vector<TCaptureNode> ListCaptureNodes() {
    std::vector<TCaptureNode> nodes;
    WalkCaptureNodes([&nodes](const TCaptureNode& node, std::unique_ptr<IV4l2Device>&) {
        nodes.push_back(node);
        return false;
    });
    return nodes;
}

std::vector<TCaptureMode> ReadCaptureModes(IV4l2Device& device, int32_t width, int32_t height) {
    std::vector<TCaptureMode> modes;
    v4l2_fmtdesc format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (; device.Ioctl(VIDIOC_ENUM_FMT, &format) == 0; ++format.index) {
        int32_t request = -1;
        if (PixelRequestOf(format.pixelformat, &request))
            ReadFormatModes(device, format.pixelformat, request, width, height, modes);
    }
    return modes;
}

std::vector<std::string> TKernelCameraBackend::NodePaths() {
    std::vector<std::pair<long, std::string>> numbered;
    if (DIR* dev = ::opendir("/dev")) {
        while (const dirent* entry = ::readdir(dev)) {
            const char* name = entry->d_name;
            if (std::strncmp(name, "video", 5) != 0 || name[5] < '0' || name[5] > '9') continue;
            char* end = nullptr;
            const long number = std::strtol(name + 5, &end, 10);
            if (*end == 0) numbered.emplace_back(number, std::string("/dev/") + name);
        }
        ::closedir(dev);
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<std::string> paths;
    for (auto& [number, path] : numbered) paths.push_back(std::move(path));
    return paths;
}

int TKernelCameraBackend::OpenNode(const std::string& path, std::unique_ptr<IV4l2Device>* device) {
    std::unique_ptr<TV4l2DeviceFd> node;
    if (int error = TV4l2DeviceFd::Open(path, &node)) return error;
    *device = std::move(node);
    return 0;
}

TCaptureInput TKernelCameraBackend::InputFor(const std::string& path) {
    return {"video4linux2", path};
}

}  // namespace platform
