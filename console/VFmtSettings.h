#pragma once

#include <cstdint>
#include <string>

#include "console/services/SettingsStore.h"

class QObject;
class ICapMattEngine;

namespace console {

// The value lists of the settings dialog; the position in a list is the index
// the dialog and the store keep.
constexpr int16_t kColourFormats[] = {3, 28, 1};
constexpr int16_t kFrameRates[] = {30, 25};
struct TOutputSize {
    int16_t width;
    int16_t height;
};
constexpr TOutputSize kOutputSizes[] = {{640, 480},  {480, 640},  {640, 360},   {360, 640},
                                        {1280, 720}, {720, 1280}, {1920, 1080}, {1080, 1920}};
constexpr int16_t kGopLengths[] = {25, 100, 200};
constexpr int kRecordBitRatesKbps[] = {800, 1000, 2000, 5000, 8000, 15000};
constexpr int kPushBitRatesKbps[] = {500, 800, 1000, 2000, 5000, 8000};

template <typename T, size_t N>
constexpr int ListSize(const T (&)[N]) {
    return static_cast<int>(N);
}

// What the settings dialog edits. One record lives with the main dialog and
// is filled afresh at every opening, so values that were not applied are
// forgotten.
struct VFmtSettings {
    QObject* ownerWindow = nullptr;  // receives RestartVideo
    int16_t formatIndex = 2;
    int16_t frameRateIndex = 1;
    int16_t sizeIndex = 2;
    int16_t avOffsetMs = 0;
    int16_t recordBitRateIndex = 2;
    int16_t gop = 100;
    std::u16string recordFolder;
    uint16_t fileTypes = 1;  // 1 MP4, 2 TS, 4 FLV, 8 MKV
    int16_t pushBitRateIndex = 2;
    char16_t addresses[kRtmpTargets][kRtmpAddrUnits] = {};
    char16_t names[kRtmpTargets][kRtmpNameUnits] = {};
};

// The record as the dialog opens: the picture format from the engine's
// current open parameters where it has them and they are in the lists, the
// rest from the store.
void FillVFmtSettings(VFmtSettings* settings, ICapMattEngine* engine, QObject* ownerWindow);

// "RGB24", "ARGB32" or "YUY2" (any other format shows as "YUY2").
std::string ColourFormatText(int16_t format);
// "640x360", or "(竖屏) 360x640" for a portrait size.
std::string SizeText(TOutputSize size);
// "800 Kbps", or "2 Mbps" from 1000 on.
std::string BitRateText(int kbps);

// True for a push destination the recorder can open: "rtmp://" or "udp://"
// followed by a host.
bool IsPushAddress(const std::u16string& address);
// True when `folder` is a directory in which a file can be created (a probe
// file is made and removed again).
bool IsWritableFolder(const std::string& folder);

}  // namespace console
