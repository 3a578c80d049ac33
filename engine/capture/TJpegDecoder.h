#pragma once

#include <cstdint>

struct AVBufferPool;
struct AVFrame;

namespace pelorn {

// Decodes JPEG pictures with YCbCr 4:2:2 or 4:2:0 sampling into planar
// full-range frames (yuvj422p, yuvj420p) whose pixels come from a pool, so
// that decoding allocates nothing per picture and a receiver may keep a frame
// past the decoder's life. Anything else, and any picture it cannot read,
// it refuses, leaving the packet to a general decoder.
//
// Thread: one at a time; frames may be released on any thread.
class TJpegDecoder {
public:
    enum class Result { kPicture, kRefused };

    TJpegDecoder();
    ~TJpegDecoder();
    TJpegDecoder(const TJpegDecoder&) = delete;
    TJpegDecoder& operator=(const TJpegDecoder&) = delete;

    // On kPicture `out` holds the picture; a damaged picture whose data ends
    // early still decodes whole, its missing part filled. On kRefused `out`
    // is left empty.
    Result Decode(const uint8_t* data, int size, AVFrame* out);

private:
    bool Allocate(int pixelFormat, int width, int height, AVFrame* out);

    void* m_handle = nullptr;
    AVBufferPool* m_pool = nullptr;
    int m_nPoolSize = 0;
};

}  // namespace pelorn
