#pragma once

#include <cstdint>
#include <string>

#include "engine/ICapMattEngine.h"

// The buffer-matting engine: the host hands in one packed YUYV 4:2:2
// picture at a time and receives the composed BGR24 picture of the same
// size on its own thread, over a live copy of a display.
class IBufMattEngine {
public:
    // 0 on success; prepares the screen capture and the compositor for the
    // size (at most 1920 x 1080).
    virtual int SetUp(int16_t width, int16_t height, int16_t screen) = 0;
    virtual int Stop() = 0;
    // 0 on success: `destination` (width x height x 3 bytes) receives the
    // composition of `source` (width x height x 2 bytes).
    virtual int Process(uint8_t* destination, const uint8_t* source) = 0;
    virtual int ListScreens(std::string* names, unsigned* primary, int max) = 0;
    virtual int GetParamList(TCapParamList* list) = 0;
    virtual int GetParam(int index) = 0;
    virtual int SetParam(int value, int index) = 0;

protected:
    ~IBufMattEngine() = default;
};

// Null when memory runs out or the machine's environment check failed.
PELORN_API IBufMattEngine* CreateInstance_IBufMattEngine();
// Stops and destroys the engine and sets *engine to null; nothing for null.
PELORN_API void ReleaseInstance_IBufMattEngine(IBufMattEngine** engine);
