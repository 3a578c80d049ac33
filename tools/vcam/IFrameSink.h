#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace pelorn::vcam {

enum class TRepeat {
    LastPicture,  // the picture last written (the slate, once shown)
    Slate,        // a plain dark picture, from now on until the next frame
};

// Where the reader forwards frames. Configure comes before the first frame
// and again whenever the picture's size or format changes.
class IFrameSink {
public:
    virtual ~IFrameSink() = default;
    // Sets up an output whose format does not depend on the engine's before
    // the first frame. 0, also when there is nothing to set up; otherwise as
    // Configure.
    virtual int Prepare() { return 0; }
    // 0, or an errno value: the sink cannot take this picture, and frames are
    // not forwarded until the next Configure succeeds.
    virtual int Configure(int width, int height, int format) = 0;
    // One packed picture of the configured size. 0; EAGAIN or EIO when this
    // frame was dropped; any other errno when the sink cannot go on.
    virtual int Write(const uint8_t* pixels, size_t size) = 0;
    // Keeps a consumer fed while no frame comes: as Write, or EAGAIN when the
    // sink holds nothing it could show.
    virtual int Repeat(TRepeat) { return EAGAIN; }
};

// --discard: reads and counts, forwards nowhere.
class TDiscardSink final : public IFrameSink {
public:
    int Configure(int, int, int) override { return 0; }
    int Write(const uint8_t*, size_t) override { return 0; }
};

}  // namespace pelorn::vcam
