#pragma once

#include <cstdint>

struct AVFrame;

namespace console {

struct RecordParams;

// A recorder: encodes pushed video and audio once and writes every packet to
// each of its outputs (files and network pushes). Producers call the push
// operations on their own threads and return at once; Open and Close belong
// to the owner's thread. Results are 0 for success.
class IRecord {
public:
    // outputs: nOutCnt UTF-8 destinations (file paths, "rtmp://" or "udp://"
    // URLs); unusable ones are skipped. 0, or 1 with the reason in the error trail.
    virtual int32_t Open(const char* const* outputs, int nOutCnt, const RecordParams* params) = 0;
    // The recorder takes its own reference; the caller keeps the frame.
    virtual int32_t PushVideo(AVFrame* frame) = 0;
    // -1 when no audio encoder is open.
    virtual int32_t PushAudio(AVFrame* frame) = 0;
    // Encodes at once on the caller's thread with the encoder's frame-counter
    // timestamps; -1 when the encoder fails.
    virtual int32_t EncodeVideoNow(AVFrame* frame) = 0;
    virtual void Close() = 0;

protected:
    ~IRecord() = default;
};

// A recorder with everything empty.
IRecord* CreateInstance_IRecord();
// Closes and destroys *holder and sets it to null; nothing for a null holder.
void ReleaseInstance_IRecord(IRecord** holder);

}  // namespace console
