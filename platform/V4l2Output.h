#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/V4l2Device.h"

namespace platform {

// The picture layouts a V4L2 output is fed with.
enum class TV4l2Packing {
    Yuyv,   // Y0 U Y1 V
    Bgr24,  // B G R
    Bgra,   // B G R A
    I420,   // planar Y, then U and V with half the line length and half the rows
    Nv12,   // planar Y, then interleaved U V rows of the luma line length, half the rows
    Rgb24,  // R G B
};

// What the device agreed to in VIDIOC_S_FMT.
struct TV4l2OutputFormat {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t fourcc = 0;
    uint32_t bytesPerLine = 0;  // of the first plane
    uint32_t sizeImage = 0;
};

// A video output node and its card label (VIDIOC_QUERYCAP).
struct TV4l2Node {
    std::string path;
    std::string card;
};

// A V4L2 video output (a loopback device's writing side) fed one write() per
// frame. The format goes through VIDIOC_S_FMT on the output queue before the
// first frame and again whenever the picture changes.
class TV4l2Output {
public:
    explicit TV4l2Output(std::unique_ptr<IV4l2Device> device) : m_pDevice(std::move(device)) {}

    // Opens the node and checks that it is a video output. Returns 0, or an
    // errno value (ENOENT: no such node; ENOTTY: not a V4L2 node; ENODEV: no
    // video output).
    static int Open(const std::string& path, std::unique_ptr<TV4l2Output>* output);
    // VIDIOC_QUERYCAP: 0 when the device (or, with per-node capabilities,
    // this node) offers V4L2_CAP_VIDEO_OUTPUT; ENODEV when it does not.
    int CheckIsOutput();
    const std::string& Card() const { return m_strCard; }
    // Sets a format of width x height. BGRA is asked for as ABGR32 and, when
    // the device offers something else, as the older BGR32 with the same
    // bytes. 0 when the device took the size and layout unchanged, with lines
    // of at least MinBytesPerLine; EINVAL when it changed them; the errno of
    // the ioctl otherwise (EBUSY: another writer holds the format).
    int SetFormat(uint32_t width, uint32_t height, TV4l2Packing packing);
    const TV4l2OutputFormat& Format() const { return m_format; }
    // VIDIOC_S_PARM on the output queue: asks for framesPerSecond and
    // returns 0 with the rate the driver answered, or the ioctl's errno.
    int SetFrameRate(uint32_t framesPerSecond, double* agreedPerSecond);

    // Hands one frame of Format().sizeImage bytes to the device in one
    // write(). 0, the errno of write(), or EIO for a short write.
    int WriteFrame(const void* bytes, size_t size);

    static uint32_t MinBytesPerLine(TV4l2Packing packing, uint32_t width);
    // The bytes of one picture whose first plane has lines of bytesPerLine;
    // 0 when such lines cannot carry the chroma planes.
    static uint32_t ImageBytes(TV4l2Packing packing, uint32_t bytesPerLine, uint32_t height);

private:
    int TrySetFormat(uint32_t width, uint32_t height, uint32_t fourcc, TV4l2Packing packing);

    std::unique_ptr<IV4l2Device> m_pDevice;
    TV4l2OutputFormat m_format;
    std::string m_strCard;
};

// The video outputs among the "video*" nodes of `dir`, in number order.
// Nodes that cannot be opened or are no outputs are left out.
std::vector<TV4l2Node> ListOutputNodes(const std::string& dir = "/dev");

// The node labelled `label`, otherwise the only node. 0 with *path set;
// ENODEV when there is none; ENOTUNIQ when several are and none has the label.
int PickOutputNode(const std::vector<TV4l2Node>& nodes, const std::string& label, std::string* path);

}  // namespace platform
