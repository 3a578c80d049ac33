#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/V4l2Device.h"

namespace platform {

// A video capture node: the card name its driver reports and its path.
struct TCaptureNode {
    std::string cardName;
    std::string path;
};

// The FFmpeg input that reads a capture node.
struct TCaptureInput {
    std::string format;  // FFmpeg input format name
    std::string url;
    // The option that carries the requested pixel format.
    std::string pixelOption = "input_format";
};

// The pixel request of compressed MJPEG or JPEG pictures.
constexpr int32_t kMjpegRequest = -2;
// 100-nanosecond units per second.
constexpr int64_t kIntervalUnits = 10000000;

// One capture mode of a node: a pixel format at one size. Intervals are in
// 100-nanosecond units.
struct TCaptureMode {
    int32_t width = 0;
    int32_t height = 0;
    int32_t pixelRequest = -1;     // kMjpegRequest or an AVPixelFormat
    int64_t avgTimePerFrame = 0;   // the shortest interval; 0 when none is listed
    int64_t minInterval = 0;
    int64_t maxInterval = 0;
    std::vector<int64_t> intervals;  // listed intervals (empty for a range)
    bool intervalRange = false;      // every interval from min to max holds

    // The node lists this interval or its range holds it.
    bool AcceptsInterval(int64_t interval) const;
};

// Where capture nodes come from: the kernel's /dev/video* nodes, a fake that
// tests script, or the stand-in of QUINDLE_CAMERA_STANDIN.
class ICameraBackend {
public:
    virtual ~ICameraBackend() = default;
    // Every /dev/video* path, capture-capable or not, in ascending number.
    virtual std::vector<std::string> NodePaths() = 0;
    // 0 and the node opened for ioctls, or the errno of the open.
    virtual int OpenNode(const std::string& path, std::unique_ptr<IV4l2Device>* device) = 0;
    // The FFmpeg input that reads the node.
    virtual TCaptureInput InputFor(const std::string& path) = 0;
};

// The backend in use: the installed one, else the stand-in when
// QUINDLE_CAMERA_STANDIN is set, else the kernel's nodes.
ICameraBackend& CameraBackend();
// Installs `backend` for the whole process (nullptr goes back to the
// default). The caller keeps it alive until it is replaced.
void InstallCameraBackend(ICameraBackend* backend);

// Visits the capture-capable nodes in ascending number with the node opened
// (the visitor may keep it), until `visit` returns true. Nodes that do not
// open or answer are skipped.
using TCaptureNodeVisitor = std::function<bool(const TCaptureNode&, std::unique_ptr<IV4l2Device>&)>;
void WalkCaptureNodes(const TCaptureNodeVisitor& visit);
// The capture-capable nodes in ascending number.
std::vector<TCaptureNode> ListCaptureNodes();

// The node's modes, one per pixel format the chain reads and listed size;
// a size range gives the requested size (either way round) when it holds
// it, else its largest.
std::vector<TCaptureMode> ReadCaptureModes(IV4l2Device& device, int32_t width, int32_t height);

// The kernel's /dev/video* nodes read through FFmpeg's "video4linux2" input.
class TKernelCameraBackend final : public ICameraBackend {
public:
    std::vector<std::string> NodePaths() override;
    int OpenNode(const std::string& path, std::unique_ptr<IV4l2Device>* device) override;
    TCaptureInput InputFor(const std::string& path) override;
};

}  // namespace platform
