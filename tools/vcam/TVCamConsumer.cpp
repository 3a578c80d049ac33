#include "tools/vcam/TVCamConsumer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace pelorn::vcam {
namespace {

using Clock = std::chrono::steady_clock;

void Add(TConsumerCounts& into, const TConsumerCounts& from) {
    into.read += from.read;
    into.missed += from.missed;
    into.ringFull += from.ringFull;
    into.formatChanges += from.formatChanges;
    into.notForwarded += from.notForwarded;
    into.reconnects += from.reconnects;
    into.repeated += from.repeated;
}

}  // namespace

const char* DescribeOutputError(int error) {
    switch (error) {
        case EBUSY: return "another writer holds the device";
        case EINVAL: return "the format is refused";
        default: return std::strerror(error);
    }
}

bool TVCamConsumer::EnsureConnected() {
    if (m_reader.IsConnected()) return true;
    const int error = m_reader.Connect();
    if (error != 0) {
        if (!m_bWaitingReported) {
            std::fprintf(m_pLog, "qndl-vcam: waiting for the writer (%s)\n", std::strerror(error));
            m_bWaitingReported = true;
        }
        return false;
    }
    std::fprintf(m_pLog, "qndl-vcam: connected\n");
    m_bWaitingReported = false;
    if (m_bEverConnected) ++m_second.reconnects;
    m_bEverConnected = true;
    // A new writer numbers its frames afresh.
    m_gaps.Restart();
    return true;
}

bool TVCamConsumer::ConfigureSinkFor(const TVCamFrame& frame) {
    const bool changed = !m_bHavePicture || frame.width != m_nWidth ||
                         frame.height != m_nHeight || frame.format != m_nFormat;
    if (!changed) return m_bSinkReady;
    if (m_bHavePicture) ++m_second.formatChanges;
    m_bHavePicture = true;
    m_nWidth = frame.width;
    m_nHeight = frame.height;
    m_nFormat = frame.format;
    const int error = m_sink.Configure(frame.width, frame.height, frame.format);
    m_bSinkReady = error == 0;
    if (!m_bSinkReady) {
        std::fprintf(m_pLog, "qndl-vcam: the output does not take %dx%d format %d (%s)\n",
                     frame.width, frame.height, frame.format, DescribeOutputError(error));
    }
    return m_bSinkReady;
}

void TVCamConsumer::Forward(const TVCamFrame& frame) {
    ++m_second.read;
    if (frame.waiting == kCapacity - 1) ++m_second.ringFull;
    m_second.missed += m_gaps.Add(frame.pts);

    // A picture larger than a slot arrives cut: handing on part of a picture
    // would show garbage, so it is counted instead.
    const bool whole = frame.declaredBytes > 0 && frame.declaredBytes <= kPixelBytes;
    if (!ConfigureSinkFor(frame) || !whole) {
        ++m_second.notForwarded;
        return;
    }
    const int error = m_sink.Write(frame.pixels, frame.declaredBytes);
    if (error == 0) {
        // A frame late by less than a period is waited for, not doubled.
        m_lastFrameAt = Clock::now();
        m_nextRepeat = m_lastFrameAt + 2 * m_keepAlive.period;
        return;
    }
    ++m_second.notForwarded;
    HandleWriteError(error);
}

void TVCamConsumer::HandleWriteError(int error) {
    if (error == 0 || error == EAGAIN || error == EIO) return;
    std::fprintf(m_pLog, "qndl-vcam: writing the output failed (%s)\n", std::strerror(error));
    m_bSinkFailed = true;
}

// Called on every turn of the loop; the waits end no later than the next
// repeat is due (WaitMs).
void TVCamConsumer::KeepFed() {
    if (m_keepAlive.period.count() <= 0 || m_bSinkFailed) return;
    const auto now = Clock::now();
    if (now < m_nextRepeat) return;
    const TRepeat what =
        now - m_lastFrameAt >= m_keepAlive.slateAfter ? TRepeat::Slate : TRepeat::LastPicture;
    const int error = m_sink.Repeat(what);
    if (error == 0) ++m_second.repeated;
    HandleWriteError(error);
    // Keeps the rate; after a stall it starts counting afresh.
    m_nextRepeat += m_keepAlive.period;
    if (m_nextRepeat <= now) m_nextRepeat = now + m_keepAlive.period;
}

int TVCamConsumer::WaitMs() const {
    if (m_keepAlive.period.count() <= 0) return kWaitMs;
    const auto untilRepeat =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_nextRepeat - Clock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(untilRepeat, 0, kWaitMs));
}

void TVCamConsumer::DrainRing(const std::atomic<bool>& stop) {
    TVCamFrame frame;
    while (!m_bSinkFailed && !stop.load() && m_reader.ReadNext(&frame)) Forward(frame);
}

void TVCamConsumer::Report() {
    if (m_bEverConnected) {
        std::fprintf(m_pLog,
                     "qndl-vcam: read %lld missed %lld full %lld formats %lld dropped %lld repeated "
                     "%lld (%dx%d format %d)\n",
                     static_cast<long long>(m_second.read), static_cast<long long>(m_second.missed),
                     static_cast<long long>(m_second.ringFull),
                     static_cast<long long>(m_second.formatChanges),
                     static_cast<long long>(m_second.notForwarded),
                     static_cast<long long>(m_second.repeated), m_nWidth, m_nHeight, m_nFormat);
        std::fflush(m_pLog);
    }
    Add(m_total, m_second);
    m_second = {};
}

int TVCamConsumer::Run(const std::atomic<bool>& stop) {
    auto nextReport = Clock::now() + std::chrono::milliseconds(kReportMs);
    m_lastFrameAt = Clock::now();
    m_nextRepeat = m_lastFrameAt;
    while (!stop.load() && !m_bSinkFailed) {
        if (!EnsureConnected()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(WaitMs()));
        } else {
            const bool signalled = m_reader.WaitForFrames(WaitMs());
            DrainRing(stop);
            // A writer that went away stops setting the event; one that
            // created a new block set the event of the new one.
            if (!signalled && m_reader.WriterGone()) {
                std::fprintf(m_pLog, "qndl-vcam: the writer went away\n");
                m_reader.Disconnect();
            }
        }
        KeepFed();
        if (Clock::now() >= nextReport) {
            Report();
            nextReport = Clock::now() + std::chrono::milliseconds(kReportMs);
            if (m_reader.WriterGone()) {
                std::fprintf(m_pLog, "qndl-vcam: the writer went away\n");
                m_reader.Disconnect();
            }
        }
    }
    Add(m_total, m_second);
    m_second = {};
    std::fprintf(m_pLog,
                 "qndl-vcam: total read %lld missed %lld full %lld formats %lld dropped %lld "
                 "reconnects %lld repeated %lld\n",
                 static_cast<long long>(m_total.read), static_cast<long long>(m_total.missed),
                 static_cast<long long>(m_total.ringFull),
                 static_cast<long long>(m_total.formatChanges),
                 static_cast<long long>(m_total.notForwarded),
                 static_cast<long long>(m_total.reconnects),
                 static_cast<long long>(m_total.repeated));
    std::fflush(m_pLog);
    return m_bSinkFailed ? 1 : 0;
}

}  // namespace pelorn::vcam
