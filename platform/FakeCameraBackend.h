#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/CameraControls.h"
#include "platform/CaptureDevices.h"

namespace platform {

// The four-character code of a V4L2 pixel format ("MJPG", "YUYV", "H264").
constexpr uint32_t FourCc(const char (&code)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(code[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(code[3])) << 24;
}

// A frame interval of numerator / denominator seconds.
struct TFakeInterval {
    uint32_t numerator = 1;
    uint32_t denominator = 30;
};

// One listed size of a fake format, with its intervals: listed ones, or the
// range from the shortest `intervals[0]` to `intervals[1]` when
// `intervalRange` is set.
struct TFakeFrameSize {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<TFakeInterval> intervals;
    bool intervalRange = false;
};

struct TFakeFormat {
    uint32_t fourcc = 0;
    std::vector<TFakeFrameSize> sizes;
    // When set, the sizes come as one range from sizes[0] to sizes[1] (step
    // 2 x 2), every size with the intervals of sizes[0].
    bool sizeRange = false;
};

// One control of a fake node. A control with an automatic companion (see
// CamAutoOf) is inactive, and refuses new values with EACCES, while the
// companion holds anything but its manual value.
struct TFakeControl {
    uint32_t id = 0;
    std::string name;
    ECamControlType type = ECamControlType::Integer;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t step = 1;
    int32_t defaultValue = 0;
    int32_t value = 0;
    // Menu entry names from `minimum` on; an empty name is an entry the
    // device does not offer.
    std::vector<std::string> menu;
};

// The camera control and its automatic companion, if any, as a camera
// offers them: an integer control over [minimum, maximum] holding `value`,
// and the companion switched on or off.
std::vector<TFakeControl> FakeCamControl(ECamControl control, int32_t minimum, int32_t maximum, int32_t value,
                                         bool withAuto = false, bool autoOn = false);

struct TFakeCameraNode {
    std::string path;
    std::string cardName;
    bool capture = true;  // false: a metadata node of the same card
    int openError = 0;    // errno the open fails with
    int queryCapError = 0;  // errno VIDIOC_QUERYCAP fails with (a v4l-subdev node)
    std::vector<TFakeFormat> formats;
    // What FFmpeg reads for it: one input per open, the last one for every
    // later open.
    std::vector<TCaptureInput> inputs;
    // Answered through QUERYCTRL, QUERYMENU, G_CTRL and S_CTRL; their values
    // are kept by the backend across opens.
    std::vector<TFakeControl> controls;
    // Whether QUERYCTRL flags a control inactive while its automatic
    // companion is on; some drivers do not.
    bool flagsInactive = true;
};

// Capture nodes held in memory: a test scripts their ioctl answers and the
// FFmpeg input each is read through, then installs it with
// InstallCameraBackend. Nodes are walked in the order they were added.
class TFakeCameraBackend final : public ICameraBackend {
public:
    void AddNode(TFakeCameraNode node);
    // Inputs handed out so far: how often a camera was opened.
    int InputCount() const;

    std::vector<std::string> NodePaths() override;
    int OpenNode(const std::string& path, std::unique_ptr<IV4l2Device>* device) override;
    TCaptureInput InputFor(const std::string& path) override;

    // The current value of a node's control; 0 when there is none.
    int32_t ControlValue(const std::string& path, uint32_t id) const;
    void SetControlValue(const std::string& path, uint32_t id, int32_t value);
    // Values a node has accepted through S_CTRL.
    int ControlWrites(const std::string& path) const;

    struct TControlBank;

private:
    std::shared_ptr<TControlBank> BankOf(const std::string& path) const;

    mutable std::mutex m_lock;
    std::vector<TFakeCameraNode> m_nodes;
    std::vector<size_t> m_inputsTaken;  // per node
    std::vector<std::shared_ptr<TControlBank>> m_banks;  // per node, shared with its open devices
    int m_nInputCount = 0;
};

// The node QUINDLE_CAMERA_STANDIN="NAME|WxH@FPS|FORMAT|URL" describes: one
// mode (MJPEG when FORMAT is "mjpeg", else YUYV), read through the FFmpeg
// input FORMAT from URL. False when the text does not parse.
bool ParseCameraStandin(const std::string& text, TFakeCameraNode* node);

}  // namespace platform
