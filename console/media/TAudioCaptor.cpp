#include "console/media/TAudioCaptor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include "common/ErrorTrail.h"
#include "console/media/AudioSources.h"

namespace console {

namespace {

constexpr AVRational kMicroseconds{1, 1000000};
// How long Stop waits for a stuck read before it leaves the thread behind.
constexpr auto kStopWait = std::chrono::seconds(2);

struct TInputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct TContextFreer {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};
struct TCodecFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct TFrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct TPacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

// Realtime microseconds (what the pulse and alsa inputs stamp) to monotonic.
int64_t RealtimeToMonotonic(int64_t realtimeUs) {
    return realtimeUs + (av_gettime_relative() - av_gettime());
}

// The input that opens `device`: a listed PulseAudio source by name or by
// description, or the ALSA device of that name when no server answers.
std::pair<const char*, std::string> ResolveDevice(const std::string& device) {
    std::vector<TAudioSource> sources;
    if (ListPulseSources(&sources) == AudioListResult::NoServer)
        return {"alsa", device};
    const auto byDescription = std::find_if(sources.begin(), sources.end(), [&](const auto& s) {
        return s.friendlyName == device && s.altName != device;
    });
    const bool nameListed = std::any_of(sources.begin(), sources.end(),
                                        [&](const auto& s) { return s.altName == device; });
    return {"pulse",
            !nameListed && byDescription != sources.end() ? byDescription->altName : device};
}

}  // namespace

// What the capture thread works on.
struct TAudioCapture {
    std::unique_ptr<AVFormatContext, TInputCloser> input;
    std::unique_ptr<AVCodecContext, TCodecFreer> decoder;
    // Handed to the callback as each frame's opaque: time base 1/1,000,000,
    // start_time on the monotonic clock.
    std::unique_ptr<AVFormatContext, TContextFreer> recordOwner;
    AVStream* record = nullptr;
    int streamIndex = -1;
    TAudioSrcFormat format{};  // as opened, so readers never touch the decoder
    std::string deviceName;
    AudioFrameCallback callback = nullptr;
    void* user = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<int64_t> lastPts{-1};
    // Monotonic µs of Start: what was captured before it is not delivered.
    std::atomic<int64_t> startUs{0};

    std::mutex lock;
    std::condition_variable ended;
    bool finished = false;

    static int Interrupted(void* self) {
        return static_cast<TAudioCapture*>(self)->stop.load(std::memory_order_acquire) ? 1 : 0;
    }

    bool Open(const TAudioOpenParams& params);
    void Run();
    bool Deliver(AVFrame* frame);
    void Finish();
};

bool TAudioCapture::Open(const TAudioOpenParams& params) {
    const auto [inputFormat, url] = ResolveDevice(params.deviceName);
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr)
        return false;
    raw->interrupt_callback = {&TAudioCapture::Interrupted, this};
    AVDictionary* options = nullptr;
    av_dict_set(&options, "sample_rate", "44100", 0);
    // Frees the context on failure.
    const int opened =
        avformat_open_input(&raw, url.c_str(), av_find_input_format(inputFormat), &options);
    av_dict_free(&options);
    if (opened < 0) {
        common::ErrorTrail::Add("Couldn't open input audio stream.（无法打开输入流）\n");
        return false;
    }
    input.reset(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) {
        common::ErrorTrail::Add("Couldn't find audio stream information.（无法获取流信息）\n");
        return false;
    }
    for (unsigned i = 0; i < raw->nb_streams && streamIndex < 0; ++i) {
        if (raw->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            streamIndex = int(i);
    }
    if (streamIndex < 0) {
        common::ErrorTrail::Add("Couldn't find a audio stream.（没有找到音频流）\n");
        return false;
    }
    const AVStream* stream = raw->streams[streamIndex];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    decoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        common::ErrorTrail::Add("Could not open audio codec.（无法打开解码器）\n");
        return false;
    }
    format.sampleFormat = decoder->sample_fmt;
    format.sampleRate = decoder->sample_rate;
    format.channels = static_cast<int16_t>(decoder->ch_layout.nb_channels);
    recordOwner.reset(avformat_alloc_context());
    record = recordOwner ? avformat_new_stream(recordOwner.get(), nullptr) : nullptr;
    if (record == nullptr)
        return false;
    record->time_base = kMicroseconds;
    record->start_time = stream->start_time == AV_NOPTS_VALUE
                             ? av_gettime_relative()
                             : RealtimeToMonotonic(av_rescale_q(stream->start_time,
                                                                stream->time_base, kMicroseconds));
    deviceName = params.deviceName;
    callback = params.callback;
    user = params.user;
    return true;
}

void TAudioCapture::Run() {
    std::unique_ptr<AVPacket, TPacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, TFrameFreer> frame(av_frame_alloc());
    bool draining = false;
    while (packet && frame && !stop.load(std::memory_order_acquire) && !draining) {
        const int read = av_read_frame(input.get(), packet.get());
        if (read == AVERROR_EOF) {
            draining = true;  // the empty packet drains the decoder once
        } else if (read < 0) {
            break;
        } else if (packet->stream_index != streamIndex) {
            av_packet_unref(packet.get());
            continue;
        }
        const int sent = avcodec_send_packet(decoder.get(), draining ? nullptr : packet.get());
        av_packet_unref(packet.get());
        if (sent < 0 || avcodec_receive_frame(decoder.get(), frame.get()) < 0)
            break;
        if (!Deliver(frame.get()))
            break;
        av_frame_unref(frame.get());
    }
    Finish();
}

bool TAudioCapture::Deliver(AVFrame* frame) {
    const AVRational timeBase = input->streams[streamIndex]->time_base;
    const int64_t captured =
        frame->pts == AV_NOPTS_VALUE
            ? av_gettime_relative()
            : RealtimeToMonotonic(av_rescale_q(frame->pts, timeBase, kMicroseconds));
    // Opening the input already reads from the server (and a monitor source
    // hands over what it holds at once): that sound is older than Start.
    if (captured < startUs.load(std::memory_order_acquire))
        return !stop.load(std::memory_order_acquire);
    // The clocks' offset is read anew for every frame and was read once for
    // the start: a few microseconds apart, the first frame could otherwise
    // land before the stream's start.
    const int64_t pts = std::max(record->start_time, captured);
    frame->pts = pts;
    frame->best_effort_timestamp = pts;
    frame->time_base = kMicroseconds;
    frame->opaque = record;
    lastPts.store(pts, std::memory_order_release);
    // Once Stop has given up waiting, the caller's user data may be gone.
    if (stop.load(std::memory_order_acquire))
        return false;
    callback(frame, user);
    return true;
}

void TAudioCapture::Finish() {
    std::lock_guard guard(lock);
    finished = true;
    ended.notify_all();
}

TAudioCaptor::TAudioCaptor() {
    avdevice_register_all();
}

TAudioCaptor::~TAudioCaptor() {
    Stop();
}

bool TAudioCaptor::Open(const TAudioOpenParams* params) {
    if (params == nullptr || params->callback == nullptr || params->user == nullptr) {
        common::ErrorTrail::Add("参数错误\n");
        return false;
    }
    if (params->deviceName.empty()) {
        common::ErrorTrail::Add("you have not set any capture device(没有指定采集设备) \n");
        return false;
    }
    Stop();
    auto capture = std::make_shared<TAudioCapture>();
    if (!capture->Open(*params))
        return false;
    m_pCapture = std::move(capture);
    return true;
}

int TAudioCaptor::Start() {
    if (m_pCapture && !m_thread.joinable()) {
        m_pCapture->startUs.store(av_gettime_relative(), std::memory_order_release);
        m_thread = std::thread([capture = m_pCapture] { capture->Run(); });
    }
    return 1;
}

void TAudioCaptor::Stop() {
    if (!m_pCapture)
        return;
    m_pCapture->stop.store(true, std::memory_order_release);
    if (m_thread.joinable()) {
        std::unique_lock guard(m_pCapture->lock);
        const bool ended =
            m_pCapture->ended.wait_for(guard, kStopWait, [&] { return m_pCapture->finished; });
        guard.unlock();
        // A read stuck in a frozen server cannot be cut short: the thread is
        // left to end on its own, keeping the capture it works on.
        if (ended) {
            m_thread.join();
        } else {
            m_thread.detach();
        }
    }
    m_pCapture.reset();
}

int TAudioCaptor::GetFormat(int* sampleFormat, int* sampleRate, int16_t* channels) {
    TAudioSrcFormat format{};
    const int state = GetFormatRecord(&format);
    if (state == kAudioClosed)
        return state;
    if (sampleFormat)
        *sampleFormat = format.sampleFormat;
    if (sampleRate)
        *sampleRate = format.sampleRate;
    if (channels)
        *channels = format.channels;
    return state;
}

int TAudioCaptor::GetFormatRecord(TAudioSrcFormat* format) {
    if (!m_pCapture)
        return kAudioClosed;
    if (format)
        *format = m_pCapture->format;
    return m_thread.joinable() ? kAudioCapturing : kAudioOpen;
}

int64_t TAudioCaptor::GetLastPtsUs() {
    return m_pCapture ? m_pCapture->lastPts.load(std::memory_order_acquire) : -1;
}

IAudioCaptor* CreateInstance_IAudioCaptor() {
    return new (std::nothrow) TAudioCaptor();
}

void ReleaseInstance_IAudioCaptor(IAudioCaptor** holder) {
    if (holder == nullptr || *holder == nullptr)
        return;
    delete static_cast<TAudioCaptor*>(*holder);
    *holder = nullptr;
}

}  // namespace console
