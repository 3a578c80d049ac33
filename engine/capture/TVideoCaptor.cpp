#include "engine/capture/TVideoCaptor.h"

#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

#include "common/ErrorTrail.h"
#include "engine/capture/CaptureQuery.h"
#include "engine/capture/TJpegDecoder.h"
#include "engine/capture/TOwnerRef.h"
#include "platform/DebugOutput.h"
#include "platform/ManualResetEvent.h"

namespace pelorn {
namespace {

std::atomic<int> g_liveSessions{0};

}  // namespace

struct TVideoCaptor::TSession {
    AVFormatContext* formatContext = nullptr;
    AVCodecContext* codecContext = nullptr;
    std::unique_ptr<TJpegDecoder> jpeg;  // MJPEG pictures it reads, before codecContext
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    AVFrame* copy = nullptr;  // raw pictures are copied out of the device's buffers
    AVFrame* held = nullptr;  // read before Start from a source that runs ahead, kept for it
    AVBufferPool* pool = nullptr;  // the copies' pixels
    int poolSize = 0;
    int streamIndex = -1;
    // The size and pixel format of the picture Open proved.
    int width = 0;
    int height = 0;
    int pixelFormat = -1;
    InputFrameCallback callback = nullptr;
    void* user = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<bool> opening{false};
    std::atomic<bool> started{false};
    std::atomic<int64_t> lastReadStart{0};
    platform::TManualResetEvent finished;
    platform::TManualResetEvent startedOrStopped;
    // The reader's alone: the smallest lag seen between a picture's timestamp
    // and its arrival, which a live source keeps and a source delivering
    // faster than it captures (a file) undercuts picture by picture.
    int64_t earliestArrivalUs = INT64_MAX;
    int64_t frameIntervalUs = 1000000 / 30;

    TSession()
        : packet(av_packet_alloc()), frame(av_frame_alloc()), copy(av_frame_alloc()), held(av_frame_alloc()) {
        ++g_liveSessions;
    }
    ~TSession() {
        --g_liveSessions;
        av_frame_free(&held);
        av_frame_free(&copy);
        av_buffer_pool_uninit(&pool);  // freed once receivers have let go of every buffer
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codecContext);
        avformat_close_input(&formatContext);
    }

    // FFmpeg's interrupt callback: cuts a read short once it has run too long
    // (longer while Open waits for the first picture) or the reader is asked
    // to stop.
    static int Interrupted(void* opaque) {
        const TSession* session = static_cast<const TSession*>(opaque);
        if (session == nullptr || session->stop.load(std::memory_order_acquire)) return AVERROR_EOF;
        const int64_t limit = session->opening.load(std::memory_order_acquire) ? kFirstFrameLimitUs : kReadLimitUs;
        return av_gettime_relative() - session->lastReadStart.load(std::memory_order_acquire) > limit
                   ? AVERROR_EOF
                   : 0;
    }

    enum class Read { kPicture, kNothing, kEnd, kFailed };

    // One pass: a packet read and decoded into `frame`. Packets the decoder
    // rejects are skipped; kDecodeErrorLimit of them in a row fail.
    Read ReadOnce(int& decodeErrors) {
        // While Open runs, its start stays the mark: probe and first picture
        // share one limit.
        if (!opening.load(std::memory_order_acquire))
            lastReadStart.store(av_gettime_relative(), std::memory_order_release);
        const int read = av_read_frame(formatContext, packet);
        if (read == AVERROR(EAGAIN)) {
            av_usleep(1000);
            return Read::kNothing;
        }
        if (read == AVERROR_EOF) return Read::kEnd;
        if (read < 0) return Read::kFailed;
        const int decoded = packet->stream_index == streamIndex ? Decode() : AVERROR(EAGAIN);
        av_packet_unref(packet);
        if (decoded >= 0) {
            decodeErrors = 0;
            return Read::kPicture;
        }
        if (decoded == AVERROR(EAGAIN)) return Read::kNothing;
        return ++decodeErrors >= kDecodeErrorLimit ? Read::kFailed : Read::kNothing;
    }

    // `packet` into `frame`: FFmpeg's decoder takes what TurboJPEG refuses.
    int Decode() {
        if (jpeg && jpeg->Decode(packet->data, packet->size, frame) == TJpegDecoder::Result::kPicture) {
            frame->pts = packet->pts;
            frame->pkt_dts = packet->dts;
            frame->best_effort_timestamp = packet->pts;
            frame->pkt_pos = packet->pos;
            return 0;
        }
        const int sent = avcodec_send_packet(codecContext, packet);
        return sent < 0 ? sent : avcodec_receive_frame(codecContext, frame);
    }

    // Notes how late `frame` arrived after its timestamp and tells whether it
    // came more than half a picture interval earlier than any before it: the
    // source then delivers faster than it captures. A picture without a
    // timestamp cannot be judged and counts as early.
    bool ArrivedEarly() {
        const int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
        if (pts == AV_NOPTS_VALUE) return true;
        const int64_t ptsUs = av_rescale_q(pts, formatContext->streams[streamIndex]->time_base, AV_TIME_BASE_Q);
        const int64_t arrival = av_gettime_relative() - ptsUs;
        const bool early = earliestArrivalUs != INT64_MAX && arrival < earliestArrivalUs - frameIntervalUs / 2;
        if (arrival < earliestArrivalUs) earliestArrivalUs = arrival;
        return early;
    }

    // Waits for the first decodable picture (not delivered).
    bool ProveFirstFrame() {
        if (packet == nullptr || frame == nullptr || copy == nullptr || held == nullptr) return false;
        const int64_t start = av_gettime_relative();
        int decodeErrors = 0;
        for (;;) {
            const Read result = ReadOnce(decodeErrors);
            if (result == Read::kPicture) {
                width = frame->width;
                height = frame->height;
                pixelFormat = frame->format;
                ArrivedEarly();
            }
            av_frame_unref(frame);
            if (result == Read::kPicture || result == Read::kEnd) return true;
            if (result == Read::kFailed || stop.load(std::memory_order_acquire)) return false;
            if (av_gettime_relative() - start > kFirstFrameLimitUs) return false;
        }
    }

    // The picture to hand over: decoders of compressed pictures fill buffers
    // of their own; a raw picture still points into the device's buffer and
    // is copied once into a buffer the receivers may keep.
    AVFrame* Deliverable(AVFrame* source) {
        if (codecContext->codec_id != AV_CODEC_ID_RAWVIDEO) return source;
        // From a pool: no allocation per picture, and a buffer a receiver
        // still holds is never written.
        const auto format = static_cast<AVPixelFormat>(source->format);
        const int size = av_image_get_buffer_size(format, source->width, source->height, 32);
        if (size <= 0) return nullptr;
        if (pool == nullptr || poolSize != size) {
            av_buffer_pool_uninit(&pool);
            pool = av_buffer_pool_init(static_cast<size_t>(size), nullptr);
            poolSize = size;
        }
        av_frame_unref(copy);
        copy->buf[0] = pool != nullptr ? av_buffer_pool_get(pool) : nullptr;
        if (copy->buf[0] == nullptr) return nullptr;
        av_image_fill_arrays(copy->data, copy->linesize, copy->buf[0]->data, format, source->width, source->height, 32);
        copy->format = source->format;
        copy->width = source->width;
        copy->height = source->height;
        if (av_frame_copy(copy, source) < 0 || av_frame_copy_props(copy, source) < 0) return nullptr;
        return copy;
    }

    // Every picture handed over carries `owner`: its pixels come from this
    // session's pool or decoder and its opaque names one of its streams, so
    // the session lives until the last picture is released. The reader keeps
    // nothing of a picture past its callback; a receiver that holds on
    // releases it last, and the pool's lock orders that release before the
    // pool is freed.
    void Deliver(const TOwnerRef& owner, AVFrame* source) {
        if (source->buf[0] == nullptr) return;
        // Two pictures go out in a row; a Stop that came while the first sat
        // in the callback lets no second one reach the receiver.
        if (stop.load(std::memory_order_acquire)) {
            av_frame_unref(source);
            return;
        }
        AVFrame* picture = Deliverable(source);
        if (picture != nullptr && owner.Attach(picture, formatContext->streams[streamIndex])) {
            callback(picture, user);
        }
        av_frame_unref(copy);
        av_frame_unref(source);
    }

    // Pictures read before Start: a live camera's are dropped, so that none
    // captured while the receiver was still being set up arrive together
    // once it starts. A source delivering faster than it captures (a file)
    // is only paused, its pictures kept: true when the reader should wait
    // for Start with `held` and `frame`. Two early pictures in a row tell
    // such a source; one alone may follow a first picture that waited in
    // the stream probe's buffer.
    bool KeepBeforeStart() {
        if (!ArrivedEarly()) {
            av_frame_unref(held);
            av_frame_unref(frame);
            return false;
        }
        if (held->buf[0] == nullptr) {
            av_frame_move_ref(held, frame);
            return false;
        }
        return true;
    }

    // False when stopped instead.
    bool AwaitStart() {
        startedOrStopped.Wait();
        return !stop.load(std::memory_order_acquire);
    }

    // The camera falling silent for as long as a first picture may take
    // counts as a failed read. The reader runs from Open on; nothing reaches
    // the callback before Start.
    void ReadUntilEnd(const TOwnerRef& owner) {
        int decodeErrors = 0;
        int64_t lastPicture = av_gettime_relative();
        while (callback != nullptr && user != nullptr && copy != nullptr &&
               !stop.load(std::memory_order_acquire)) {
            const Read result = owner.IsValid() ? ReadOnce(decodeErrors) : Read::kFailed;
            if (result == Read::kPicture) {
                if (!started.load(std::memory_order_acquire)) {
                    if (!KeepBeforeStart()) {
                        lastPicture = av_gettime_relative();
                        continue;
                    }
                    if (!AwaitStart()) break;
                }
                lastPicture = av_gettime_relative();
                Deliver(owner, held);
                Deliver(owner, frame);
                continue;
            }
            if (result == Read::kEnd) {
                if (AwaitStart()) Deliver(owner, held);
                break;
            }
            const bool silent = av_gettime_relative() - lastPicture > kFirstFrameLimitUs;
            if (result == Read::kFailed || silent) {
                if (AwaitStart()) {
                    Deliver(owner, held);
                    callback(nullptr, user);
                }
                break;
            }
        }
        av_frame_unref(held);
    }

    // The reader thread.
    static void Run(const std::shared_ptr<TSession>& self) {
        {
            const TOwnerRef owner(self);
            self->ReadUntilEnd(owner);
        }
        self->finished.Set();
    }
};

namespace {

void SetRoundedRate(int16_t* out, AVRational rate) {
    *out = static_cast<int16_t>(static_cast<double>(rate.num) / rate.den + 0.5);
}

int FirstVideoStream(const AVFormatContext* context) {
    for (unsigned i = 0; i < context->nb_streams; ++i)
        if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) return static_cast<int>(i);
    return -1;
}

}  // namespace

int TVideoCaptor::LiveSessionCount() { return g_liveSessions.load(); }

TVideoCaptor::TVideoCaptor() { avdevice_register_all(); }

TVideoCaptor::~TVideoCaptor() { Stop(); }

int TVideoCaptor::Fail(AVDictionary** options, const char* text, bool close) {
    if (close) Stop();
    av_dict_free(options);
    common::ErrorTrail::Add(text);
    return 0;
}

int TVideoCaptor::Open(TCamOpenParam* param, TCapVideoFormat* actual) {
    if (param == nullptr || param->callback == nullptr || param->user == nullptr) {
        common::ErrorTrail::Add("参数错误\n");
        return 0;
    }
    if (param->deviceName.empty()) {
        common::ErrorTrail::Add("you have not set any capture device(没有指定采集设备) \n");
        return 0;
    }
    Stop();
    AVDictionary* options = nullptr;
    if (OpenInput(*param, &options) != 0)
        return Fail(&options, "Couldn't open input video stream.（无法打开输入流）\n", true);
    if (avformat_find_stream_info(m_pSession->formatContext, nullptr) < 0)
        return Fail(&options, "Couldn't find video stream information.（无法获取流信息）\n", false);
    m_nStreamIndex = FirstVideoStream(m_pSession->formatContext);
    if (m_nStreamIndex < 0) {
        return Fail(&options, "Couldn't find a video stream.（没有找到视频流）\n", false);
    }
    m_pSession->streamIndex = m_nStreamIndex;
    if (OpenDecoder() != 0) return Fail(&options, "Could not open video codec.（无法打开解码器）\n", true);
    if (!m_pSession->ProveFirstFrame()) return Fail(&options, "未能打通第一帧\n", true);
    m_pSession->opening.store(false, std::memory_order_release);
    if (m_pSession->width != param->width || m_pSession->height != param->height)
        return Fail(&options, "分辨率未达到要求\n", true);

    if (!m_pFormat) m_pFormat = std::make_unique<TCapVideoFormat>(kDefaultVideoFormat);
    WriteFormat(m_pFormat.get());
    if (actual != nullptr && actual != m_pFormat.get()) *actual = *m_pFormat;
    av_dict_free(&options);
    m_deviceName = param->deviceName;
    m_nWidth = param->width;
    m_nHeight = param->height;
    m_nFrameRate = param->frameRate;
    m_nPixelFormat = param->pixelFormat;
    m_pCallback = param->callback;
    m_nLowLatency = param->lowLatency;
    m_pUser = param->user;
    m_pSession->callback = m_pCallback;
    m_pSession->user = m_pUser;
    if (param->frameRate > 0) m_pSession->frameIntervalUs = 1000000 / param->frameRate;
    m_thread = std::thread([session = m_pSession] { TSession::Run(session); });
    return 1;
}

// Opens the device's input non-blocking, so that a camera that never
// delivers cannot hold the caller past the first-picture limit.
int TVideoCaptor::OpenInput(const TCamOpenParam& param, AVDictionary** options) {
    const std::unique_ptr<TCapturePin> pin = FindCapturePin(param.deviceName.c_str());
    if (!pin) return -1;
    const platform::TCaptureInput input = platform::CameraBackend().InputFor(pin->node.path);
    const AVInputFormat* format = av_find_input_format(input.format.c_str());
    if (format == nullptr) return -1;

    m_pSession = std::make_shared<TSession>();
    TSession& session = *m_pSession;
    session.formatContext = avformat_alloc_context();
    if (session.formatContext == nullptr) return -1;
    session.formatContext->interrupt_callback = {&TSession::Interrupted, &session};
    session.formatContext->flags |= AVFMT_FLAG_NONBLOCK;
    if (param.lowLatency != 0) {
        session.formatContext->flags |= AVFMT_FLAG_NOBUFFER;
        session.formatContext->probesize = 102400;
        session.formatContext->max_analyze_duration = 5000000;
    }
    av_dict_set(options, "buffer_size", "102400", 0);
    char text[32];
    if (param.width > 0 && param.height > 0) {
        std::snprintf(text, sizeof text, "%dx%d", param.width, param.height);
        av_dict_set(options, "video_size", text, 0);
    }
    if (param.frameRate > 0) av_dict_set_int(options, "framerate", param.frameRate, 0);
    if (param.pixelFormat == platform::kMjpegRequest) {
        av_dict_set(options, input.pixelOption.c_str(), "mjpeg", 0);
    } else if (const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(param.pixelFormat))) {
        av_dict_set(options, input.pixelOption.c_str(), name, 0);
    }
    session.opening.store(true, std::memory_order_release);
    session.lastReadStart.store(av_gettime_relative(), std::memory_order_release);
    // On failure FFmpeg frees the context it was given.
    const int opened = avformat_open_input(&session.formatContext, input.url.c_str(), format, options);
    if (opened == 0) m_url = pin->node.path;
    return opened;
}

int TVideoCaptor::OpenDecoder() {
    TSession& session = *m_pSession;
    const AVCodecParameters* parameters = session.formatContext->streams[session.streamIndex]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (decoder == nullptr) return -1;
    session.codecContext = avcodec_alloc_context3(decoder);
    if (session.codecContext == nullptr) return -1;
    if (avcodec_parameters_to_context(session.codecContext, parameters) < 0) return -1;
    // Until a first picture says otherwise (a stream that ends before one).
    session.width = session.codecContext->width;
    session.height = session.codecContext->height;
    session.pixelFormat = session.codecContext->pix_fmt;
    if (parameters->codec_id == AV_CODEC_ID_MJPEG) session.jpeg = std::make_unique<TJpegDecoder>();
    return avcodec_open2(session.codecContext, decoder, nullptr) < 0 ? -1 : 0;
}

// The reader runs since Open; from now on it delivers.
int TVideoCaptor::Start() {
    if (m_bStarted || m_nStreamIndex < 0 || !m_pSession) return 1;
    m_bStarted = true;
    m_pSession->started.store(true, std::memory_order_release);
    m_pSession->startedOrStopped.Set();
    return 1;
}

void TVideoCaptor::Stop() {
    if (m_pSession) {
        m_pSession->stop.store(true, std::memory_order_release);
        m_pSession->startedOrStopped.Set();
    }
    m_bStarted = false;
    if (m_thread.joinable()) {
        if (m_pSession->finished.WaitFor(kReaderStopWaitMs)) {
            m_thread.join();
        } else {
            // The reader keeps the session alive and frees it when it ends.
            platform::DebugOutput("WaitForSingleObject timeout.\n");
            m_thread.detach();
        }
    }
    m_pSession.reset();
    m_pFormat.reset();
    m_url.clear();
    m_nStreamIndex = -1;
}

int TVideoCaptor::GetState() {
    if (m_nStreamIndex < 0) return 0;
    return m_bStarted ? 2 : 1;
}

void TVideoCaptor::WriteFormat(TCapVideoFormat* out) const {
    const AVCodecContext* codec = m_pSession->codecContext;
    const AVStream* stream = m_pSession->formatContext->streams[m_nStreamIndex];
    out->width = static_cast<int16_t>(m_pSession->width);
    out->height = static_cast<int16_t>(m_pSession->height);
    out->pixelFormat = static_cast<int16_t>(m_pSession->pixelFormat);
    out->frameRate = -1;
    if (stream->r_frame_rate.den >= 1) {
        SetRoundedRate(&out->frameRate, stream->r_frame_rate);
    } else if (codec->framerate.den >= 1) {
        SetRoundedRate(&out->frameRate, codec->framerate);
    }
    out->reserved = 0;
}

int TVideoCaptor::GetFormat(TCapVideoFormat* out) {
    const int state = GetState();
    if (state != 0 && out != nullptr && m_pSession->codecContext != nullptr) WriteFormat(out);
    return state;
}

AVStream* TVideoCaptor::GetStream() {
    if (m_nStreamIndex < 0 || !m_pSession) return nullptr;
    return m_pSession->formatContext->streams[m_nStreamIndex];
}

TCapVideoFormat* TVideoCaptor::MatchOpen(const char* deviceName, TCapVideoFormat* request) {
    if (!m_pSession || m_pSession->codecContext == nullptr || m_nStreamIndex < 0 || deviceName == nullptr ||
        request == nullptr)
        return nullptr;
    const bool match = request->width == m_pSession->width && request->height == m_pSession->height &&
                       m_deviceName == deviceName && request->frameRate == m_nFrameRate &&
                       request->pixelFormat == m_nPixelFormat;
    return match ? m_pFormat.get() : nullptr;
}

}  // namespace pelorn
