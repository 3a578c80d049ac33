// The main dialog on an X server of the test's own, with the real engine
// playing the sample clip and the real recorders behind 1079 and 3018: the
// files they write and the stream nginx receives on 127.0.0.1 are read back
// by ffprobe.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "common/Utf.h"
#include "console/CPreviewDlg.h"
#include "console/CRoriDaziZevoDlg.h"
#include "console/TEngineBinding.h"
#include "console/TPrompts.h"
#include "console/media/RecordNaming.h"
#include "console/media/TEnumDShowDevices.h"
#include "console/services/SettingsStore.h"
#include "tests/console/CorvaneTestSupport.h"
#include "tests/console/media/NginxServer.h"
#include "tests/support/XvfbSupport.h"

namespace console {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kStartMs = 30000;
// The recorder keeps video once its source has run 2 s; the dialog's
// recordings start after that.
constexpr int64_t kWarmFrames = 75;
constexpr int64_t kRecordedFrames = 60;  // 2 s at 30 fps

// ffprobe's view of a file's first video stream: codec_name, width, height,
// nb_read_packets and the container's start_time and duration.
std::map<std::string, std::string> Probe(const std::string& path) {
    const std::string command = std::string(FFPROBE_PATH) +
                                " -v error -count_packets -select_streams v:0 -show_entries "
                                "stream=codec_name,width,height,nb_read_packets:format=start_time,duration -of default=nw=1 '" +
                                path + "' 2>/dev/null";
    std::map<std::string, std::string> fields;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return fields;
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t equals = text.find('=');
        if (equals != std::string::npos) fields[text.substr(0, equals)] = text.substr(equals + 1);
    }
    pclose(pipe);
    return fields;
}

double Field(const std::map<std::string, std::string>& probed, const char* name) {
    const auto found = probed.find(name);
    return found == probed.end() ? -1 : std::atof(found->second.c_str());
}

// The time the recording spans: FLV has no edit list, so its pictures start
// after the encoder's reorder delay, and its duration counts from 0.
double Seconds(const std::map<std::string, std::string>& probed) {
    return Field(probed, "duration") - std::max(0.0, Field(probed, "start_time"));
}

// The time from the first picture to the last by the packets' own
// timestamps: the containers' durations differ in how they count the last
// picture, which varies with the frames' spacing.
double PictureSpan(const std::string& path) {
    const std::string command = std::string(FFPROBE_PATH) +
                                " -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 '" +
                                path + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    double first = 0, last = 0;
    bool any = false;
    char line[64];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        const double pts = std::atof(line);
        first = any ? std::min(first, pts) : pts;
        last = any ? std::max(last, pts) : pts;
        any = true;
    }
    pclose(pipe);
    return any ? last - first : -1;
}

class CorvaneRecordE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(quindle::test::TXvfb::Shared().Running());
        corvane::test::TQtAppEnvironment::App("xcb");  // on the test's Xvfb
        char pattern[] = "/tmp/corvane-record-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_strFolder = pattern;
        ASSERT_TRUE(WriteClient(1280, 720, 30, 1));
        ASSERT_TRUE(m_binding.IsLoaded()) << m_binding.LoadError();

        TDlgOptions options;
        options.mediaFile = PRESENTER_SAMPLE;
        // No cameras and no audio input: the main picture is the clip.
        options.listDevices = [](TDShowDeviceList* list) { *list = {}; };
        m_pDialog = std::make_unique<CRoriDaziZevoDlg>(nullptr, m_binding, m_tracked, options);
        ASSERT_TRUE(m_pDialog->OnInitDialog());
        m_pDialog->show();
        ASSERT_TRUE(FramesReach(kWarmFrames)) << Shown();
    }
    void TearDown() override {
        if (m_pDialog) m_pDialog->RequestClose();
        m_pDialog.reset();
        fs::remove_all(m_strFolder);
    }

    int64_t Frames() const { return m_pDialog->HandlerFigures().Frames(); }
    bool FramesReach(int64_t count) {
        return QTest::qWaitFor([&] { return Frames() >= count; }, kStartMs);
    }
    // Lets the recorders take kRecordedFrames more frames.
    void RecordFrames() { EXPECT_TRUE(FramesReach(Frames() + kRecordedFrames)) << Shown(); }
    void Click(int id) {
        m_pDialog->findChild<QAbstractButton*>(QString::number(id))->click();
        QCoreApplication::sendPostedEvents(m_pDialog.get());
    }
    std::string Shown() const {
        std::string all;
        for (const std::string& text : m_prompts.texts) all += text + "\n";
        return all;
    }
    // A video stream of the output size in H.264, as long as the recording
    // could have been: most of the 2 s the clip ran for it, and at most the
    // whole time the recorder was open.
    static void ExpectRecording(const std::map<std::string, std::string>& probed, double wallSeconds) {
        EXPECT_EQ(probed.count("codec_name") ? probed.at("codec_name") : "", "h264");
        EXPECT_EQ(probed.count("width") ? probed.at("width") : "", "1280");
        EXPECT_EQ(probed.count("height") ? probed.at("height") : "", "720");
        EXPECT_GE(Seconds(probed), 1.5);
        EXPECT_LE(Seconds(probed), wallSeconds + 0.5);
    }

    std::string m_strFolder;
    corvane::test::TFakePrompts m_prompts;
    TTrackedPrompts m_tracked{m_prompts};
    TEngineBinding m_binding{TEngineBinding::LibraryBesideProgram()};
    std::unique_ptr<CRoriDaziZevoDlg> m_pDialog;
};

TEST_F(CorvaneRecordE2ETest, RecordingWritesAnMp4AndAnFlvThatFfprobeReadsBack) {
    ASSERT_TRUE(WriteRecord(0, 2, 30, kFileExtMp4 | kFileExtFlv));
    ASSERT_EQ(WriteString(common::Utf8ToUtf16(m_strFolder), "RecordPath", "Record"), 0);
    const Clock::time_point opened = Clock::now();
    Click(1079);
    ASSERT_EQ(m_pDialog->findChild<QAbstractButton*>("1079")->text(), QString::fromUtf8("停止")) << Shown();
    RecordFrames();
    Click(1079);
    const double wallSeconds = std::chrono::duration<double>(Clock::now() - opened).count();

    std::map<std::string, std::string> mp4, flv;
    std::string mp4Path, flvPath;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_strFolder)) {
        const std::string name = entry.path().filename().string();
        ASSERT_EQ(name.rfind("TRec_", 0), 0u) << name;
        const bool isMp4 = entry.path().extension() == ".mp4";
        (isMp4 ? mp4 : flv) = Probe(entry.path().string());
        (isMp4 ? mp4Path : flvPath) = entry.path().string();
    }
    ExpectRecording(mp4, wallSeconds);
    ExpectRecording(flv, wallSeconds);
    EXPECT_EQ(mp4["nb_read_packets"], flv["nb_read_packets"]) << "the same packets in both";
    EXPECT_NEAR(PictureSpan(mp4Path), PictureSpan(flvPath), 1.0 / 30) << "the same time in both";
}

TEST_F(CorvaneRecordE2ETest, PushReachesNginxWhoseCopyFfprobeReadsBack) {
    mediatest::TNginxServer nginx(m_strFolder + "/nginx");
    ASSERT_TRUE(nginx.Start()) << nginx.Log();
    const std::u16string url = common::Utf8ToUtf16(nginx.Url());
    const std::u16string_view addresses[kRtmpTargets] = {url, u"", u""};
    const std::u16string_view names[kRtmpTargets] = {u"nginx", u"", u""};
    ASSERT_TRUE(WriteRtmp(2, addresses, names));
    const Clock::time_point opened = Clock::now();
    Click(3018);
    ASSERT_TRUE(m_pDialog->findChild<QAbstractButton*>("3018")->isChecked()) << Shown();
    RecordFrames();
    Click(3018);
    const double wallSeconds = std::chrono::duration<double>(Clock::now() - opened).count();
    nginx.Quit();  // finishes its copy of the stream
    ExpectRecording(Probe(nginx.Recording()), wallSeconds);
}

// On X every character of the dialog's labels and buttons has a glyph in
// their font (no empty boxes), and the echo window shows the clip's picture.
TEST_F(CorvaneRecordE2ETest, TextsHaveGlyphsAndTheEchoWindowShowsThePicture) {
    for (const QWidget* widget : m_pDialog->findChildren<QWidget*>()) {
        QString text;
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) text = button->text();
        if (const auto* label = qobject_cast<const QLabel*>(widget)) text = label->text();
        const QFontMetrics metrics(widget->font());
        for (const char32_t c : text.toUcs4())
            EXPECT_TRUE(metrics.inFontUcs4(c)) << text.toStdString() << " in " << widget->font().family().toStdString();
    }
    CPreviewDlg* echo = m_pDialog->Preview();
    ASSERT_TRUE(QTest::qWaitFor([&] { return echo->PaintedFrames() > 0; }, kStartMs));
    const QImage shown = echo->Surface()->grab().toImage();
    int lit = 0, samples = 0;
    for (int y = 0; y < shown.height(); y += 8) {
        for (int x = 0; x < shown.width(); x += 8, ++samples) lit += qGray(shown.pixel(x, y)) > 40 ? 1 : 0;
    }
    // The presenter alone covers more than a tenth of the picture.
    EXPECT_GT(lit, samples / 10) << "of " << samples << " samples, " << lit << " are not black";
}

}  // namespace
}  // namespace console
