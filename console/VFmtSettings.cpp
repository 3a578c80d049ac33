#include "console/VFmtSettings.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "engine/ICapMattEngine.h"

namespace console {

namespace {

template <typename T, size_t N, typename TMatch>
int16_t PositionIn(const T (&list)[N], TMatch matches, int16_t otherwise) {
    for (size_t i = 0; i < N; ++i) {
        if (matches(list[i]))
            return static_cast<int16_t>(i);
    }
    return otherwise;
}

void TakeEngineFormat(VFmtSettings* settings, ICapMattEngine* engine) {
    TCapOpenParam* state = nullptr;
    if (engine == nullptr)
        return;
    engine->GetState(&state);
    if (state == nullptr)
        return;
    settings->formatIndex = PositionIn(
        kColourFormats, [&](int16_t f) { return f == state->outFormat; }, settings->formatIndex);
    settings->frameRateIndex = PositionIn(
        kFrameRates, [&](int16_t r) { return r == state->outFrameRate; }, settings->frameRateIndex);
    settings->sizeIndex = PositionIn(
        kOutputSizes,
        [&](TOutputSize s) { return s.width == state->outWidth && s.height == state->outHeight; },
        settings->sizeIndex);
}

std::u16string StoredRecordFolder() {
    char16_t buffer[kRtmpAddrUnits] = {};
    if (ReadString(buffer, sizeof buffer, "RecordPath", "Record") != 1)
        return {};
    return buffer;
}

}  // namespace

void FillVFmtSettings(VFmtSettings* settings, ICapMattEngine* engine, QObject* ownerWindow) {
    *settings = VFmtSettings{};
    settings->ownerWindow = ownerWindow;
    TakeEngineFormat(settings, engine);
    ReadRecord(&settings->avOffsetMs, &settings->recordBitRateIndex, &settings->gop,
               &settings->fileTypes);
    ReadRtmp(&settings->pushBitRateIndex, settings->addresses, settings->names);
    settings->recordFolder = StoredRecordFolder();
}

std::string ColourFormatText(int16_t format) {
    if (format == 3)
        return "RGB24";
    if (format == 28)
        return "ARGB32";
    return "YUY2";
}

std::string SizeText(TOutputSize size) {
    char text[32];
    std::snprintf(text, sizeof text, size.width < size.height ? "(竖屏) %dx%d" : "%dx%d",
                  size.width, size.height);
    return text;
}

std::string BitRateText(int kbps) {
    char text[32];
    if (kbps < 1000) {
        std::snprintf(text, sizeof text, "%d Kbps", kbps);
    } else {
        std::snprintf(text, sizeof text, "%d Mbps", kbps / 1000);
    }
    return text;
}

bool IsPushAddress(const std::u16string& address) {
    std::u16string rest;
    for (const std::u16string scheme : {u"rtmp://", u"udp://"}) {
        if (address.compare(0, scheme.size(), scheme) == 0)
            rest = address.substr(scheme.size());
    }
    // Authority up to the path or query, without user and port.
    std::u16string host = rest.substr(0, rest.find_first_of(u"/?#"));
    if (const size_t at = host.rfind(u'@'); at != std::u16string::npos)
        host.erase(0, at + 1);
    if (!host.empty() && host[0] == u'[') {
        const size_t close = host.find(u']');
        host = close == std::u16string::npos ? std::u16string() : host.substr(1, close - 1);
    } else {
        host = host.substr(0, host.find(u':'));
    }
    return !host.empty() && host.find_first_of(u" \t") == std::u16string::npos;
}

bool IsWritableFolder(const std::string& folder) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        return false;
    std::string probe = folder + "/.quindle-probe-XXXXXX";
    const int descriptor = mkstemp(probe.data());
    if (descriptor < 0)
        return false;
    close(descriptor);
    unlink(probe.c_str());
    return true;
}

}  // namespace console
