#include "platform/FakeCameraBackend.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

struct TFakeCameraBackend::TControlBank {
    std::mutex lock;
    std::vector<TFakeControl> controls;
    bool flagsInactive = true;
    int writes = 0;

    TFakeControl* Find(uint32_t id) {
        for (TFakeControl& control : controls)
            if (control.id == id) return &control;
        return nullptr;
    }
};

namespace {

using TControlBank = TFakeCameraBackend::TControlBank;

uint32_t V4l2TypeOf(ECamControlType type) {
    switch (type) {
    case ECamControlType::Boolean: return V4L2_CTRL_TYPE_BOOLEAN;
    case ECamControlType::Menu: return V4L2_CTRL_TYPE_MENU;
    case ECamControlType::Button: return V4L2_CTRL_TYPE_BUTTON;
    case ECamControlType::Integer: break;
    }
    return V4L2_CTRL_TYPE_INTEGER;
}

bool IsOfferedEntry(const TFakeControl& control, int64_t index) {
    const int64_t slot = index - control.minimum;
    return index >= control.minimum && index <= control.maximum && slot < static_cast<int64_t>(control.menu.size()) &&
           !control.menu[static_cast<size_t>(slot)].empty();
}

// Answers the control ioctls of one node from the backend's bank.
class TFakeControlAnswers {
public:
    explicit TFakeControlAnswers(std::shared_ptr<TControlBank> bank) : m_pBank(std::move(bank)) {}

    int Ioctl(unsigned long request, void* argument) {
        std::lock_guard<std::mutex> guard(m_pBank->lock);
        switch (request) {
        case VIDIOC_QUERYCTRL: return QueryControl(*static_cast<v4l2_queryctrl*>(argument));
        case VIDIOC_QUERYMENU: return QueryMenu(*static_cast<v4l2_querymenu*>(argument));
        case VIDIOC_G_CTRL: return GetControl(*static_cast<v4l2_control*>(argument));
        case VIDIOC_S_CTRL: return SetControl(*static_cast<v4l2_control*>(argument));
        default: return ENOTTY;
        }
    }

private:
    bool IsInactive(const TFakeControl& control) const {
        uint32_t autoId = 0;
        int32_t manualValue = 0;
        if (!CamAutoOf(control.id, &autoId, &manualValue)) return false;
        const TFakeControl* automatic = m_pBank->Find(autoId);
        return automatic != nullptr && automatic->value != manualValue;
    }

    const TFakeControl* NextAfter(uint32_t id) const {
        const TFakeControl* next = nullptr;
        for (const TFakeControl& control : m_pBank->controls)
            if (control.id > id && (next == nullptr || control.id < next->id)) next = &control;
        return next;
    }

    int QueryControl(v4l2_queryctrl& query) const {
        const uint32_t id = query.id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        const TFakeControl* control =
            (query.id & V4L2_CTRL_FLAG_NEXT_CTRL) != 0 ? NextAfter(id) : m_pBank->Find(id);
        if (control == nullptr) return EINVAL;
        query = {};
        query.id = control->id;
        query.type = V4l2TypeOf(control->type);
        std::snprintf(reinterpret_cast<char*>(query.name), sizeof query.name, "%s", control->name.c_str());
        query.minimum = control->minimum;
        query.maximum = control->maximum;
        query.step = control->step;
        query.default_value = control->defaultValue;
        query.flags = m_pBank->flagsInactive && IsInactive(*control) ? V4L2_CTRL_FLAG_INACTIVE : 0;
        return 0;
    }

    int QueryMenu(v4l2_querymenu& menu) const {
        const TFakeControl* control = m_pBank->Find(menu.id);
        if (control == nullptr || control->type != ECamControlType::Menu || !IsOfferedEntry(*control, menu.index))
            return EINVAL;
        std::snprintf(reinterpret_cast<char*>(menu.name), sizeof menu.name, "%s",
                      control->menu[menu.index - control->minimum].c_str());
        return 0;
    }

    int GetControl(v4l2_control& value) const {
        const TFakeControl* control = m_pBank->Find(value.id);
        if (control == nullptr) return EINVAL;
        value.value = control->value;
        return 0;
    }

    int SetControl(const v4l2_control& value) {
        TFakeControl* control = m_pBank->Find(value.id);
        if (control == nullptr) return EINVAL;
        if (IsInactive(*control)) return EACCES;
        if (control->type == ECamControlType::Menu ? !IsOfferedEntry(*control, value.value)
                                                   : value.value < control->minimum || value.value > control->maximum)
            return control->type == ECamControlType::Menu ? EINVAL : ERANGE;
        control->value = value.value;
        ++m_pBank->writes;
        return 0;
    }

    std::shared_ptr<TControlBank> m_pBank;
};

// Answers the capability and enumeration ioctls from a node's script.
class TFakeCaptureDevice final : public IV4l2Device {
public:
    TFakeCaptureDevice(TFakeCameraNode node, std::shared_ptr<TControlBank> bank)
        : m_node(std::move(node)), m_controls(std::move(bank)) {}

    int Ioctl(unsigned long request, void* argument) override {
        switch (request) {
        case VIDIOC_QUERYCTRL:
        case VIDIOC_QUERYMENU:
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL: return m_controls.Ioctl(request, argument);
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
    TFakeControlAnswers m_controls;
};

}  // namespace

void TFakeCameraBackend::AddNode(TFakeCameraNode node) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto bank = std::make_shared<TControlBank>();
    bank->controls = std::move(node.controls);
    bank->flagsInactive = node.flagsInactive;
    m_banks.push_back(std::move(bank));
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
    for (size_t i = 0; i < m_nodes.size(); ++i) {
        if (m_nodes[i].path != path) continue;
        if (m_nodes[i].openError != 0) return m_nodes[i].openError;
        *device = std::make_unique<TFakeCaptureDevice>(m_nodes[i], m_banks[i]);
        return 0;
    }
    return ENOENT;
}

std::shared_ptr<TFakeCameraBackend::TControlBank> TFakeCameraBackend::BankOf(const std::string& path) const {
    std::lock_guard<std::mutex> guard(m_lock);
    for (size_t i = 0; i < m_nodes.size(); ++i)
        if (m_nodes[i].path == path) return m_banks[i];
    return nullptr;
}

int32_t TFakeCameraBackend::ControlValue(const std::string& path, uint32_t id) const {
    const std::shared_ptr<TControlBank> bank = BankOf(path);
    if (!bank) return 0;
    std::lock_guard<std::mutex> guard(bank->lock);
    const TFakeControl* control = bank->Find(id);
    return control != nullptr ? control->value : 0;
}

void TFakeCameraBackend::SetControlValue(const std::string& path, uint32_t id, int32_t value) {
    const std::shared_ptr<TControlBank> bank = BankOf(path);
    if (!bank) return;
    std::lock_guard<std::mutex> guard(bank->lock);
    if (TFakeControl* control = bank->Find(id)) control->value = value;
}

int TFakeCameraBackend::ControlWrites(const std::string& path) const {
    const std::shared_ptr<TControlBank> bank = BankOf(path);
    if (!bank) return 0;
    std::lock_guard<std::mutex> guard(bank->lock);
    return bank->writes;
}

std::vector<TFakeControl> FakeCamControl(ECamControl kind, int32_t minimum, int32_t maximum, int32_t value,
                                         bool withAuto, bool autoOn) {
    std::vector<TFakeControl> controls;
    TFakeControl control;
    control.id = CamControlId(kind);
    control.name = "Control " + std::to_string(static_cast<int>(kind));
    control.minimum = minimum;
    control.maximum = maximum;
    control.defaultValue = value;
    control.value = value;
    controls.push_back(control);
    uint32_t autoId = 0;
    int32_t manualValue = 0;
    if (!withAuto || !CamAutoOf(control.id, &autoId, &manualValue)) return controls;
    TFakeControl automatic;
    automatic.id = autoId;
    automatic.name = control.name + " Auto";
    if (kind == ECamControl::Exposure) {
        // Manual and aperture priority, as most cameras offer.
        automatic.type = ECamControlType::Menu;
        automatic.minimum = 0;
        automatic.maximum = 3;
        automatic.menu = {"", "Manual Mode", "", "Aperture Priority Mode"};
        automatic.value = autoOn ? 3 : manualValue;
    } else {
        automatic.type = ECamControlType::Boolean;
        automatic.maximum = 1;
        automatic.value = autoOn ? 1 : 0;
    }
    automatic.defaultValue = automatic.value;
    controls.push_back(automatic);
    return controls;
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
