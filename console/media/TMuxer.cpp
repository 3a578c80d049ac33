#include "console/media/TMuxer.h"

#include <algorithm>
#include <cctype>

extern "C" {
#include <libavutil/time.h>
}

#include "common/ErrorTrail.h"
#include "console/media/MediaCodes.h"

namespace console {

namespace {

bool ContainsNoCase(const std::string& text, std::string_view part) {
    const auto found = std::search(text.begin(), text.end(), part.begin(), part.end(),
                                   [](char a, char b) { return std::tolower(a) == std::tolower(b); });
    return found != text.end();
}

// Options that keep a killed recording playable up to its last second.
// The moov waits for the first fragment so that its edit lists can place
// every track: the AAC encoder's priming frame then lies before 0, where
// players skip it, and the video's reorder delay no longer shifts the file.
void CrashSafeOptions(const AVOutputFormat* format, bool toFile, AVDictionary** options) {
    // Each packet leaves the process at once: a killed process loses nothing
    // of what was muxed, where the output buffer held up to 256 KB.
    if (toFile) av_dict_set(options, "flush_packets", "1", 0);
    const std::string_view name = format->name;
    if (name == "mp4" || name == "mov") {
        av_dict_set(options, "movflags", "frag_keyframe+empty_moov+delay_moov+default_base_moof", 0);
        av_dict_set(options, "use_editlist", "1", 0);
        av_dict_set(options, "frag_duration", "1000000", 0);
    } else if (name == "matroska") {
        av_dict_set(options, "cluster_time_limit", "1000", 0);
    }
}

}  // namespace

bool IsRtmpDestination(const std::string& destination) {
    return ContainsNoCase(destination, "rtmp://");
}

bool IsUdpDestination(const std::string& destination) {
    return ContainsNoCase(destination, "udp://");
}

const char* ContainerFor(const std::string& destination) {
    if (IsRtmpDestination(destination)) return "flv";
    if (IsUdpDestination(destination)) return "mpegts";
    return nullptr;
}

TMuxer::TMuxer() : m_pPacket(av_packet_alloc()) { m_streamMap.fill(-1); }

TMuxer::~TMuxer() {
    Close();
    av_packet_free(&m_pPacket);
}

int TMuxer::InterruptCallback(void* self) {
    auto* muxer = static_cast<TMuxer*>(self);
    const int64_t limitUs =
        (muxer->m_bAbort.load(std::memory_order_acquire) ? kAbortTimeoutMs : kNetworkTimeoutMs) *
        int64_t{1000};
    return av_gettime_relative() - muxer->m_nCallStartUs.load(std::memory_order_acquire) > limitUs;
}

void TMuxer::BeginBlockingCall() {
    m_nCallStartUs.store(av_gettime_relative(), std::memory_order_release);
}

const char* TMuxer::FormatName() const {
    return m_pFormatCtx != nullptr ? m_pFormatCtx->oformat->name : "";
}

int TMuxer::Open(const std::string& destination) {
    Close();
    m_strDestination = destination;
    m_bNetwork = IsRtmpDestination(destination) || IsUdpDestination(destination);
    int ret = avformat_alloc_output_context2(&m_pFormatCtx, nullptr, ContainerFor(destination),
                                             destination.c_str());
    if (ret < 0 || m_pFormatCtx == nullptr) {
        common::ErrorTrail::AddRet("TMuxer::Open,avformat_alloc_output_context2 err", ret);
        m_pFormatCtx = nullptr;
        return ret < 0 ? ret : AVERROR_UNKNOWN;
    }
    m_pFormatCtx->interrupt_callback = AVIOInterruptCB{&TMuxer::InterruptCallback, this};
    if (!(m_pFormatCtx->oformat->flags & AVFMT_NOFILE)) {
        BeginBlockingCall();
        ret = avio_open2(&m_pFormatCtx->pb, destination.c_str(), AVIO_FLAG_WRITE,
                         &m_pFormatCtx->interrupt_callback, nullptr);
        if (ret < 0) {
            common::ErrorTrail::AddRet("TMuxer::Open,avio_open error", ret);
            avformat_free_context(m_pFormatCtx);
            m_pFormatCtx = nullptr;
            return ret;
        }
    }
    return 0;
}

int TMuxer::AddStream(const AVCodecContext* codecContext) {
    if (m_pFormatCtx == nullptr) return AVERROR_UNKNOWN;
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    int ret = parameters != nullptr ? avcodec_parameters_from_context(parameters, codecContext)
                                    : AVERROR(ENOMEM);
    if (ret < 0)
        common::ErrorTrail::AddRet("TMuxer::AddStream,avcodec_parameters_from_context err", ret);
    else
        ret = AddStream(parameters, codecContext->time_base);
    avcodec_parameters_free(&parameters);
    return ret;
}

int TMuxer::AddStream(const AVCodecParameters* parameters, AVRational timeBase) {
    if (m_pFormatCtx == nullptr) return AVERROR_UNKNOWN;
    if (m_bHeaderWritten) return kResultFail;
    AVStream* stream = avformat_new_stream(m_pFormatCtx, nullptr);
    if (stream == nullptr) return kResultFail;
    const int ret = avcodec_parameters_copy(stream->codecpar, parameters);
    if (ret < 0) return ret;
    stream->codecpar->codec_tag = 0;
    stream->id = static_cast<int>(m_pFormatCtx->nb_streams) - 1;
    stream->time_base = timeBase;
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
        stream->sample_aspect_ratio = stream->codecpar->sample_aspect_ratio;
    const int type = stream->codecpar->codec_type;
    if (type >= 0 && type < static_cast<int>(m_streamMap.size())) m_streamMap[type] = stream->index;
    return 0;
}

int TMuxer::Start() {
    if (m_bHeaderWritten) return 0;
    if (m_pFormatCtx == nullptr || m_pFormatCtx->nb_streams == 0) return kResultFail;
    AVDictionary* options = nullptr;
    CrashSafeOptions(m_pFormatCtx->oformat, !m_bNetwork, &options);
    BeginBlockingCall();
    const int ret = avformat_write_header(m_pFormatCtx, &options);
    av_dict_free(&options);
    if (ret >= 0 || ret == AVERROR_EOF) {
        m_bHeaderWritten = true;
        return 0;
    }
    common::ErrorTrail::AddRet("avformat_write_header error", ret);
    return kResultFail;
}

int TMuxer::Write(int mediaType, const AVPacket* packet, AVRational timeBase) {
    if (!m_bHeaderWritten || packet == nullptr || mediaType < 0 ||
        mediaType >= static_cast<int>(m_streamMap.size()) || m_streamMap[mediaType] < 0)
        return kResultFail;
    const int index = m_streamMap[mediaType];
    int ret = av_packet_ref(m_pPacket, packet);
    if (ret < 0) return ret;
    m_pPacket->stream_index = index;
    m_pPacket->pos = -1;
    av_packet_rescale_ts(m_pPacket, timeBase, m_pFormatCtx->streams[index]->time_base);
    const int size = m_pPacket->size;
    BeginBlockingCall();
    ret = m_pFormatCtx->nb_streams < 2 ? av_write_frame(m_pFormatCtx, m_pPacket)
                                       : av_interleaved_write_frame(m_pFormatCtx, m_pPacket);
    av_packet_unref(m_pPacket);
    if (ret < 0) {
        m_nErrors.fetch_add(1, std::memory_order_relaxed);
        common::ErrorTrail::AddRet("TStream::Push, av_interleaved_write_frame", ret);
        return ret;
    }
    m_nBytes.fetch_add(size, std::memory_order_relaxed);
    m_nPackets.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void TMuxer::Close() {
    if (m_pFormatCtx != nullptr) {
        BeginBlockingCall();
        if (m_bHeaderWritten) av_write_trailer(m_pFormatCtx);
        if (!(m_pFormatCtx->oformat->flags & AVFMT_NOFILE)) avio_closep(&m_pFormatCtx->pb);
        avformat_free_context(m_pFormatCtx);
        m_pFormatCtx = nullptr;
    }
    m_bHeaderWritten = false;
    m_streamMap.fill(-1);
}

}  // namespace console
