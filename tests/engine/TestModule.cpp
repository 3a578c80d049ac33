// A stand-in run-time module for the holder tests: every ordinal answers with
// a value of its own, so a test sees which entry point a holder called. Built
// twice: whole, and with QUINDLE_PARTIAL_MODULE exporting ordinals 1 and 4
// only.

#include <cstdint>

#include "modules/ModuleAbi.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int32_t Ordinal1(void*, void*, int32_t, int32_t, int32_t) { return 11; }
EXPORT int32_t Ordinal4(const uint8_t*, uint8_t* dst, int32_t, int32_t, int32_t, int32_t, int32_t,
                        int32_t) {
    dst[0] = 4;
    return 44;
}

#ifndef QUINDLE_PARTIAL_MODULE
EXPORT int32_t Ordinal6(const uint8_t*, uint8_t* dst, int32_t, int32_t, int32_t, int32_t, int32_t,
                        int32_t) {
    dst[0] = 6;
    return 66;
}
EXPORT int32_t Ordinal156(const uint8_t*, uint8_t* dst, int32_t, int32_t, int32_t, int32_t smoothing,
                          int32_t whitening, int32_t texture) {
    dst[0] = static_cast<uint8_t>(smoothing * 100 + whitening * 10 + texture);
    return 156;
}
EXPORT int32_t Ordinal159(IPixConverter** out, void*) {
    *out = nullptr;
    return 59;
}
EXPORT int32_t Ordinal164(IPixScaler** out, int32_t a, int32_t b) {
    *out = nullptr;
    return 60 + a + b;
}
EXPORT void Ordinal351(const uint8_t*, int32_t, uint8_t* dst, int32_t, int32_t, int32_t, int32_t,
                       int32_t) {
    dst[0] = 0x51;
}
EXPORT int32_t Ordinal347(const uint8_t*, int32_t, const uint8_t*, int32_t, uint8_t*, int32_t,
                          int32_t, int32_t, int32_t, int32_t, const uint8_t*, int32_t) {
    return 47;
}
#endif
