#pragma once

#include <cstdint>
#include <string>

#include "engine/ICapMattEngine.h"
#include "platform/ManualResetEvent.h"

namespace pelorn {

// A media file played as the engine's main picture.
class IFileCaptor {
public:
    // 0 on success; -1 the file cannot be opened, -2 no stream information,
    // -3 no decodable video stream. `reserved` is kept and never read.
    virtual int Open(std::string path, InputFrameCallback callback, void* reserved, void* user,
                     int loop) = 0;
    // Open with a UTF-16 path (null counts as empty) and without looping.
    virtual int OpenW(const char16_t* path, InputFrameCallback callback, void* reserved,
                      void* user) = 0;
    // Starts playback; the event is set once playback has ended or was
    // stopped. Null when nothing is open.
    virtual platform::TManualResetEvent* Start() = 0;
    // Stops playback and closes the file; 0.
    virtual int Stop() = 0;
    // 0 when no video stream is open, 2 while the playback thread exists,
    // 1 otherwise; `out` (may be null) receives the picture's format.
    virtual int GetFormat(TCapVideoFormat* out) = 0;
    // Video frames of the whole file, estimated from the rate and duration.
    virtual int64_t GetFrameCount() = 0;

protected:
    ~IFileCaptor() = default;
};

}  // namespace pelorn
