#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/V4l2Device.h"

namespace platform {

// The packed picture layouts a V4L2 output is fed with.
enum class TV4l2Packing {
    Yuyv,   // Y0 U Y1 V
    Bgr24,  // B G R
    Bgra,   // B G R A
};

// What the device agreed to in VIDIOC_S_FMT.
struct TV4l2OutputFormat {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t fourcc = 0;
    uint32_t bytesPerLine = 0;
    uint32_t sizeImage = 0;
};

// A V4L2 video output (a loopback device's writing side) fed one write() per
// frame. The format goes through VIDIOC_S_FMT on the output queue before the
// first frame and again whenever the picture changes.
class TV4l2Output {
public:
    explicit TV4l2Output(std::unique_ptr<IV4l2Device> device) : m_pDevice(std::move(device)) {}

    // Opens the node and checks that it is a video output. Returns 0, or an
    // errno value (ENOTTY: not a V4L2 node; ENODEV: no video output).
    static int Open(const std::string& path, std::unique_ptr<TV4l2Output>* output);
    // VIDIOC_QUERYCAP: 0 when the device (or, with per-node capabilities,
    // this node) offers V4L2_CAP_VIDEO_OUTPUT; ENODEV when it does not.
    int CheckIsOutput();
    // Sets a packed format of width x height. BGRA is asked for as ABGR32
    // and, when the device offers something else, as the older BGR32 with the
    // same bytes. 0 when the device took the size and layout unchanged, with
    // rows of at least width x bytes per pixel; EINVAL when it changed them.
    int SetFormat(uint32_t width, uint32_t height, TV4l2Packing packing);
    const TV4l2OutputFormat& Format() const { return m_format; }

    // Hands one frame of Format().sizeImage bytes to the device in one
    // write(). 0, the errno of write(), or EIO for a short write.
    int WriteFrame(const void* bytes, size_t size);

    static uint32_t BytesPerPixel(TV4l2Packing packing);

private:
    int TrySetFormat(uint32_t width, uint32_t height, uint32_t fourcc, uint32_t bytesPerPixel);

    std::unique_ptr<IV4l2Device> m_pDevice;
    TV4l2OutputFormat m_format;
};

}  // namespace platform
