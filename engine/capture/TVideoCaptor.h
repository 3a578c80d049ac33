#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "engine/capture/IVideoCaptor.h"

struct AVDictionary;

namespace pelorn {

// A camera read through FFmpeg from the capture node its name selects: the
// device options carry the requested size, rate and pixel format, Open proves
// a first picture, and the reader thread decodes picture after picture into
// the callback. Pictures handed over own their pixels and hold the session
// that made them, so receivers may keep them, and read the stream their
// opaque names, after the camera is closed.
//
// Threads: Open, Start, Stop, GetState, GetFormat, MatchOpen and destruction
// on the owner's thread; decoding and every callback on the reader, which
// reads from the end of Open on so that a live camera's pictures do not pile
// up before Start, and calls back only after it.
class TVideoCaptor final : public IVideoCaptor {
public:
    // How long Stop waits for the reader, and Open for a first picture.
    static constexpr int kReaderStopWaitMs = 3000;
    static constexpr int64_t kFirstFrameLimitUs = 3000000;
    // A read running longer than this is cut short.
    static constexpr int64_t kReadLimitUs = 100000;
    // Undecodable packets in a row that end the reader.
    static constexpr int kDecodeErrorLimit = 106;

    TVideoCaptor();
    ~TVideoCaptor();
    TVideoCaptor(const TVideoCaptor&) = delete;
    TVideoCaptor& operator=(const TVideoCaptor&) = delete;

    int Open(TCamOpenParam* param, TCapVideoFormat* actual) override;
    int Start() override;
    void Stop() override;
    int GetState() override;
    int GetFormat(TCapVideoFormat* out) override;
    AVStream* GetStream() override;
    TCapVideoFormat* MatchOpen(const char* deviceName, TCapVideoFormat* request) override;

    // Sessions not yet freed: a detached reader's and those that pictures
    // still hold included.
    static int LiveSessionCount();

    // Everything FFmpeg holds for one open camera, with the reader's flags.
    // Shared by the captor and its reader, so that a reader outliving Stop
    // frees it when it ends and never touches the captor.
    struct TSession;

private:
    int OpenInput(const TCamOpenParam& param, AVDictionary** options);
    int OpenDecoder();
    int Fail(AVDictionary** options, const char* text, bool close);
    void WriteFormat(TCapVideoFormat* out) const;

    std::string m_deviceName;
    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    int32_t m_nFrameRate = 0;
    int32_t m_nPixelFormat = -1;
    InputFrameCallback m_pCallback = nullptr;
    int32_t m_nLowLatency = 0;
    void* m_pUser = nullptr;
    std::unique_ptr<TCapVideoFormat> m_pFormat;
    std::shared_ptr<TSession> m_pSession;  // the contexts, null when closed
    std::string m_url;                     // the node path of the open device
    int32_t m_nStreamIndex = -1;
    std::thread m_thread;  // the reader, from Open on
    bool m_bStarted = false;
};

}  // namespace pelorn
