#include "console/media/AudioSources.h"

#include <algorithm>
#include <cerrno>
#include <memory>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
}

namespace console {
namespace {

struct TDeviceListDeleter {
    void operator()(AVDeviceInfoList* list) const { avdevice_free_list_devices(&list); }
};
using TDeviceList = std::unique_ptr<AVDeviceInfoList, TDeviceListDeleter>;

// The input's device list; the result is avdevice_list_input_sources'.
int ListInput(const char* format, TDeviceList* list) {
    avdevice_register_all();
    const AVInputFormat* input = av_find_input_format(format);
    if (input == nullptr)
        return AVERROR_DEMUXER_NOT_FOUND;
    AVDeviceInfoList* raw = nullptr;
    const int result = avdevice_list_input_sources(input, nullptr, nullptr, &raw);
    list->reset(raw);
    return result;
}

TAudioSource SourceOf(const AVDeviceInfo& device) {
    return {device.device_description ? device.device_description : "",
            device.device_name ? device.device_name : ""};
}

bool IsMonitor(const TAudioSource& source) {
    return source.friendlyName.rfind("Monitor of ", 0) == 0;
}

}  // namespace

AudioListResult ListPulseSources(std::vector<TAudioSource>* sources) {
    sources->clear();
    TDeviceList list;
    const int result = ListInput("pulse", &list);
    // A server without sources reports ENOMEM; any other failure means that
    // no server could be reached.
    if (result == AVERROR(ENOMEM))
        return AudioListResult::Listed;
    if (result < 0 || !list)
        return AudioListResult::NoServer;
    for (int i = 0; i < list->nb_devices; ++i) sources->push_back(SourceOf(*list->devices[i]));
    if (list->default_device > 0 && list->default_device < list->nb_devices) {
        std::rotate(sources->begin(), sources->begin() + list->default_device,
                    sources->begin() + list->default_device + 1);
    }
    const bool hasDefault = list->default_device >= 0 && list->default_device < list->nb_devices;
    std::stable_partition(sources->begin() + (hasDefault ? 1 : 0), sources->end(),
                          [](const TAudioSource& source) { return !IsMonitor(source); });
    return AudioListResult::Listed;
}

void ListAlsaSources(std::vector<TAudioSource>* sources) {
    sources->clear();
    TDeviceList list;
    if (ListInput("alsa", &list) < 0 || !list)
        return;
    for (int i = 0; i < list->nb_devices; ++i) {
        TAudioSource source = SourceOf(*list->devices[i]);
        if (source.altName == "default" || source.altName.find("CARD=") != std::string::npos) {
            sources->push_back(std::move(source));
        }
    }
}

}  // namespace console
