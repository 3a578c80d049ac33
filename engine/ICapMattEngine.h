#pragma once

// The capture-and-matting engine as the console sees it. Every operation
// returns a result code; nothing throws across this boundary.

#include <cstdint>
#include <string>

#include "common/IRtLog.h"
#include "engine/TCapLayout.h"

struct AVFrame;

#define PELORN_API __attribute__((visibility("default")))

// Source kinds of TCapSource::kind.
enum : int16_t {
    kCapSourceNone = 0,
    kCapSourceCamera = 1,
    kCapSourceScreen = 2,
    kCapSourceFile = 4,
};

struct TCapVideoFormat {
    int16_t width;
    int16_t height;
    int16_t pixelFormat;  // AVPixelFormat; -1 for any or unknown
    int16_t frameRate;    // rounded frames per second; -1 when unknown
    int32_t reserved;
    int32_t reserved2;
};

// 1280 x 720, YUYV422, 30 frames per second, reserved fields -1.
constexpr TCapVideoFormat kDefaultVideoFormat{1280, 720, 1, 30, -1, -1};

struct TCapRegion {
    int32_t left;
    int32_t top;
    int32_t right;   // inclusive
    int32_t bottom;  // inclusive
};

struct TCapSource {
    int16_t kind = kCapSourceCamera;
    std::string name;  // device name, decimal display index or file path (UTF-8)
    TCapRegion region{-1, -1, -1, -1};  // screen sources only
};

struct TCapOpenParam {
    void* ownerWindow = nullptr;
    TCapSource sources[2];  // [0] main input, [1] screen source or none
    int16_t outWidth = 0;
    int16_t outHeight = 0;
    int16_t outFormat = 0;  // 3 BGR24, 28 BGRA or 1 YUYV422
    int16_t outFrameRate = 0;
    TCapVideoFormat actualFormat = kDefaultVideoFormat;  // written by Open
    common::IRtLog* logSink = nullptr;
    void* reserved[3] = {nullptr, nullptr, nullptr};

    // A request without sources (the engine composes its default input) for
    // an output of this size, format and rate.
    static TCapOpenParam WithoutSources(int16_t width, int16_t height, int16_t format,
                                        int16_t frameRate) {
        TCapOpenParam param;
        param.sources[0].kind = kCapSourceNone;
        param.sources[1].kind = kCapSourceNone;
        param.outWidth = width;
        param.outHeight = height;
        param.outFormat = format;
        param.outFrameRate = frameRate;
        return param;
    }
};

struct TCapParamInfo {
    std::string name;  // display name, UTF-8
    int16_t defaultValue = 0;
    int16_t minimum = 0;
    int16_t maximum = 0;
};

// The buffer GetParamList fills: room for 64 entries, then the count.
struct TCapParamList {
    TCapParamInfo entries[64];
    int16_t count = 0;
};

// A capture source hands each decoded picture to the engine on its own thread;
// a null frame from a camera reports a failed read.
using InputFrameCallback = void (*)(AVFrame* frame, void* user);

// Each composed frame, an AVFrame cast to bytes and valid only during the call,
// on the engine's output thread. cameraInUse is 1 while a consumer reads the
// virtual camera. The result is ignored.
using FrameCallback = long (*)(unsigned char* frame, void* user, int cameraInUse);

class ICapMattEngine {
public:
    virtual int Open(TCapOpenParam* pOpenParam) = 0;
    virtual int Stop() = 0;
    virtual int GetState(TCapOpenParam** out) = 0;
    virtual int ListScreens(std::string* names, unsigned* primary, int max) = 0;
    virtual int GetParamList(TCapParamList* list) = 0;
    virtual int SetLayout(TCapLayout* layout) = 0;
    virtual int GetParamFlags(int index) = 0;
    virtual int GetParam(int index) = 0;
    virtual int SetParam(int value, int index) = 0;
    virtual int GetProcessFlags() = 0;
    virtual int SetProcessFlags(int flags) = 0;
    virtual int SetScreenRegion(int source, unsigned width, unsigned height,
                                TCapRegion* region) = 0;
    virtual TCapOpenParam* GetOpenParam() = 0;

protected:
    ~ICapMattEngine() = default;
};

// flags >> 16: bit 0 turns on the virtual-camera writer. Returns null when
// memory runs out or the machine's environment check failed.
PELORN_API ICapMattEngine* CreateInstance_ICapMattEngine(FrameCallback callback, void* user,
                                                         unsigned int flags);
// Stops and destroys the engine and sets *engine to null; nothing for null.
PELORN_API void ReleaseInstance_ICapMattEngine(ICapMattEngine** engine);
