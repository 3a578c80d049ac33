#include "tools/cli/TAudioFeeder.h"

#include <chrono>
#include <cmath>

extern "C" {
#include <libavutil/time.h>
}

namespace corvane::cli {

namespace {

constexpr int kToneRate = 48000;
constexpr int kToneSamples = 1024;
constexpr AVRational kMicroseconds{1, 1000000};

}  // namespace

TAudioFeeder::~TAudioFeeder() {
    Stop();
    avcodec_free_context(&m_pDecoder);
    avformat_close_input(&m_pFormat);
    av_packet_free(&m_pPacket);
}

bool TAudioFeeder::Open(EAudioSource source, const std::string& file, std::string& error) {
    m_source = source;
    if (source == EAudioSource::kTone) {
        m_nSampleFormat = AV_SAMPLE_FMT_S16;
        m_nSampleRate = kToneRate;
        m_nChannels = 2;
    }
    if (source != EAudioSource::kFile) return true;
    const AVCodec* codec = nullptr;
    if (avformat_open_input(&m_pFormat, file.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(m_pFormat, nullptr) < 0 ||
        (m_nStream = av_find_best_stream(m_pFormat, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0)) < 0) {
        error = "no audio track in " + file;
        m_source = EAudioSource::kNone;
        return false;
    }
    m_pDecoder = avcodec_alloc_context3(codec);
    if (avcodec_parameters_to_context(m_pDecoder, m_pFormat->streams[m_nStream]->codecpar) < 0 ||
        avcodec_open2(m_pDecoder, codec, nullptr) < 0) {
        error = "cannot decode the audio of " + file;
        m_source = EAudioSource::kNone;
        return false;
    }
    m_pPacket = av_packet_alloc();
    m_nSampleFormat = m_pDecoder->sample_fmt;
    m_nSampleRate = m_pDecoder->sample_rate;
    m_nChannels = m_pDecoder->ch_layout.nb_channels;
    return true;
}

void TAudioFeeder::Start(int64_t startUs, Sink sink) {
    if (!IsOpen() || m_thread.joinable()) return;
    m_nStartUs = startUs;
    m_sink = std::move(sink);
    m_bStop = false;
    m_thread = std::thread([this] { Run(); });
}

void TAudioFeeder::Stop() {
    m_bStop = true;
    if (m_thread.joinable()) m_thread.join();
}

bool TAudioFeeder::WaitUntil(int64_t dueUs) const {
    while (!m_bStop) {
        const int64_t left = dueUs - av_gettime_relative();
        if (left <= 0) return true;
        av_usleep(static_cast<unsigned>(std::min<int64_t>(left, 20000)));
    }
    return false;
}

// The next decoded frame and its time from the audio's start; at the end of
// the file it starts again, later by the length played so far.
bool TAudioFeeder::NextFileFrame(AVFrame* frame, int64_t* offsetUs) {
    const AVStream* stream = m_pFormat->streams[m_nStream];
    const int64_t streamStart = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    for (int attempts = 0; attempts < 100000 && !m_bStop; ++attempts) {
        const int received = avcodec_receive_frame(m_pDecoder, frame);
        if (received == 0) {
            const int64_t pts = frame->best_effort_timestamp == AV_NOPTS_VALUE ? frame->pts
                                                                              : frame->best_effort_timestamp;
            *offsetUs = m_nLoopOffsetUs + av_rescale_q(pts - streamStart, stream->time_base, kMicroseconds);
            m_nLastEndUs = *offsetUs + int64_t{frame->nb_samples} * 1000000 / m_nSampleRate;
            return true;
        }
        if (received == AVERROR_EOF) {
            av_seek_frame(m_pFormat, m_nStream, streamStart, AVSEEK_FLAG_BACKWARD);
            avcodec_flush_buffers(m_pDecoder);
            m_nLoopOffsetUs = m_nLastEndUs;
            continue;
        }
        const int read = av_read_frame(m_pFormat, m_pPacket);
        if (read < 0) {
            avcodec_send_packet(m_pDecoder, nullptr);
            continue;
        }
        if (m_pPacket->stream_index == m_nStream) avcodec_send_packet(m_pDecoder, m_pPacket);
        av_packet_unref(m_pPacket);
    }
    return false;
}

void TAudioFeeder::NextToneFrame(AVFrame* frame, int64_t* offsetUs) {
    frame->format = AV_SAMPLE_FMT_S16;
    frame->sample_rate = kToneRate;
    frame->nb_samples = kToneSamples;
    av_channel_layout_default(&frame->ch_layout, m_nChannels);
    av_frame_get_buffer(frame, 0);
    auto* samples = reinterpret_cast<int16_t*>(frame->data[0]);
    for (int i = 0; i < kToneSamples; ++i) {
        const double phase = 2 * M_PI * 1000.0 * static_cast<double>(m_nToneSamples + i) / kToneRate;
        const auto value = static_cast<int16_t>(8000 * std::sin(phase));
        for (int k = 0; k < m_nChannels; ++k) samples[i * m_nChannels + k] = value;
    }
    *offsetUs = m_nToneSamples * 1000000 / kToneRate;
    m_nToneSamples += kToneSamples;
}

void TAudioFeeder::Run() {
    AVFrame* frame = av_frame_alloc();
    while (!m_bStop) {
        int64_t offsetUs = 0;
        if (m_source == EAudioSource::kTone) {
            NextToneFrame(frame, &offsetUs);
        } else if (!NextFileFrame(frame, &offsetUs)) {
            break;
        }
        const int64_t dueUs = m_nStartUs + offsetUs;
        if (!WaitUntil(dueUs)) break;
        frame->pts = dueUs;
        frame->opaque = nullptr;
        m_sink(frame);
        av_frame_unref(frame);
    }
    av_frame_free(&frame);
}

}  // namespace corvane::cli
