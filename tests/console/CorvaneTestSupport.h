#pragma once

// Fakes for the console's seams: an engine that records the calls made to
// it, its binding, prompts that record every text, recorders that count, and
// the offscreen application every widget test needs.

extern "C" {
#include <libavutil/frame.h>
}

#include <QApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "console/TEngineBinding.h"
#include "console/TPrompts.h"
#include "console/media/IRecord.h"
#include "console/media/RecordParams.h"

namespace corvane::test {

// The application lives from the first test that needs it until all tests
// have run; destroying it among the exit handlers would find Qt half gone.
// The platform of the first call holds for the whole process.
class TQtAppEnvironment final : public ::testing::Environment {
public:
    static QApplication& App(const char* platform = "offscreen") {
        static int argc = 1;
        static char name[] = "corvane-test";
        static char* argv[] = {name, nullptr};
        if (s_pApp == nullptr) {
            qputenv("QT_QPA_PLATFORM", platform);
            s_pApp = new QApplication(argc, argv);
        }
        return *s_pApp;
    }
    void TearDown() override {
        delete s_pApp;
        s_pApp = nullptr;
    }

private:
    static inline QApplication* s_pApp = nullptr;
};

inline ::testing::Environment* const g_qtAppEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtAppEnvironment);

inline QApplication& OffscreenApp() { return TQtAppEnvironment::App(); }

// What happened, in order, across the fakes of one test.
class TJournal {
public:
    void Add(const std::string& entry) {
        std::lock_guard<std::mutex> hold(m_lock);
        m_entries.push_back(entry);
    }
    std::vector<std::string> Entries() const {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_entries;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_entries;
};

class TFakeEngine final : public ICapMattEngine {
public:
    explicit TFakeEngine(TJournal& journal) : m_journal(journal) {}

    int openResult = 0;
    TCapVideoFormat actualFormat = kDefaultVideoFormat;  // what Open reports
    int state = 0;  // what GetState answers
    std::vector<std::string> screens{"screen"};
    unsigned primary = 0;
    std::vector<TCapOpenParam> opened;
    std::vector<int> processFlags;
    int flags = 0;
    int layouts = 0;
    TCapLayout lastLayout{};
    std::vector<std::pair<int, int>> params;  // (value, index) of each SetParam

    int Open(TCapOpenParam* param) override {
        param->actualFormat = actualFormat;
        opened.push_back(*param);
        m_journal.Add("Open");
        return openResult;
    }
    int Stop() override { return 0; }
    int GetState(TCapOpenParam** out) override {
        if (out != nullptr) *out = opened.empty() ? nullptr : &opened.back();
        return state;
    }
    int ListScreens(std::string* names, unsigned* primaryOut, int max) override {
        const int count = std::min<int>(max, static_cast<int>(screens.size()));
        for (int i = 0; i < count; ++i) names[i] = screens[i];
        *primaryOut = primary;
        return count;
    }
    int GetParamList(TCapParamList* list) override {
        const TCapParamInfo table[5] = {{"主体抠像", 0, -100, 100}, {"主体强化", 0, -16, 64},
                                        {"屏幕蒙绿", 100, 0, 255}, {"美白", 0, 0, 10}, {"美肤", 0, 0, 10}};
        for (int i = 0; i < 5; ++i) list->entries[i] = table[i];
        list->count = 5;
        return 5;
    }
    int SetLayout(TCapLayout* layout) override {
        if (layout != nullptr) lastLayout = *layout;
        ++layouts;
        return 0;
    }
    int GetParamFlags(int index) override { return index == 2 ? 2 : 0; }
    int GetParam(int) override { return 0; }
    int SetParam(int value, int index) override {
        params.emplace_back(value, index);
        return 0;
    }
    int GetProcessFlags() override { return flags; }
    int SetProcessFlags(int value) override {
        flags = value;
        processFlags.push_back(value);
        return 0;
    }
    int SetScreenRegion(int, unsigned, unsigned, TCapRegion*) override { return 0; }
    TCapOpenParam* GetOpenParam() override { return opened.empty() ? nullptr : &opened.back(); }

private:
    TJournal& m_journal;
};

// Hands out one fake engine (or none); its release may deliver a late frame
// through the callback, as the engine's output thread can while it stops.
class TFakeBinding final : public console::IEngineBinding {
public:
    explicit TFakeBinding(TJournal& journal, bool withEngine = true) : engine(journal), m_journal(journal),
                                                                        m_bWithEngine(withEngine) {}

    TFakeEngine engine;
    AVFrame* lateFrame = nullptr;

    ICapMattEngine* Create(FrameCallback callback, void* user, unsigned int) override {
        m_callback = callback;
        m_user = user;
        return m_bWithEngine ? &engine : nullptr;
    }
    void Release(ICapMattEngine** held) override {
        if (lateFrame != nullptr) m_callback(reinterpret_cast<unsigned char*>(lateFrame), m_user, 1);
        m_journal.Add("engine released");
        *held = nullptr;
    }
    void Deliver(AVFrame* frame, int cameraInUse) {
        m_callback(reinterpret_cast<unsigned char*>(frame), m_user, cameraInUse);
    }

private:
    TJournal& m_journal;
    bool m_bWithEngine;
    FrameCallback m_callback = nullptr;
    void* m_user = nullptr;
};

class TFakePrompts final : public console::IPrompts {
public:
    std::vector<std::string> texts;
    std::string chosenFile;
    std::function<void()> whileShown;

    void ShowBox(const std::string& text) override {
        texts.push_back(text);
        if (whileShown) whileShown();
    }
    bool AskYesNo(const std::string& text) override {
        texts.push_back(text);
        return false;
    }
    std::function<void()> whileChoosing;

    std::string ChooseOpenFile(const std::string& filter) override {
        texts.push_back(filter);
        if (whileChoosing) whileChoosing();
        return chosenFile;
    }
    std::string chosenFolder;  // the chooser's answer; empty is a cancel
    std::string ChooseFolder(const std::string& title, const std::string& start) override {
        texts.push_back(title);
        folderStarts.push_back(start);
        return chosenFolder;
    }
    std::vector<std::string> folderStarts;
    // Answers in order; a missing answer is a cancel.
    std::vector<std::optional<std::string>> answers;
    std::optional<std::string> AskText(const std::string& question) override {
        texts.push_back(question);
        if (answers.empty()) return std::nullopt;
        std::optional<std::string> answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
};

// Counts pushes; a push after Close is a fault the test reports.
class TCountingRecorder final : public console::IRecord {
public:
    TCountingRecorder(TJournal* journal, std::string name) : m_pJournal(journal), m_strName(std::move(name)) {}

    std::atomic<int64_t> videoPushes{0}, audioPushes{0}, pushesAfterClose{0};
    std::atomic<bool> closed{false};
    int32_t openResult = 0;
    std::vector<std::string> outputs;
    console::RecordParams params{};

    int32_t Open(const char* const* names, int count, const console::RecordParams* given) override {
        outputs.assign(names, names + count);
        params = *given;
        return openResult;
    }
    int32_t PushVideo(AVFrame*) override {
        if (closed) ++pushesAfterClose;
        ++videoPushes;
        return 0;
    }
    int32_t PushAudio(AVFrame*) override {
        if (closed) ++pushesAfterClose;
        ++audioPushes;
        return 0;
    }
    int32_t EncodeVideoNow(AVFrame*) override { return 0; }
    void Close() override {
        closed = true;
        if (m_pJournal != nullptr) m_pJournal->Add(m_strName + " closed");
    }

    // Leaves the object to the test, which reads its counts afterwards.
    static void KeepForTest(console::IRecord** holder) { *holder = nullptr; }

private:
    TJournal* m_pJournal;
    std::string m_strName;
};

// A small BGRA picture with its own buffers.
inline AVFrame* MakePicture(int width = 64, int height = 36) {
    AVFrame* frame = av_frame_alloc();
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_BGRA;
    av_frame_get_buffer(frame, 0);
    av_frame_make_writable(frame);
    for (int y = 0; y < height; ++y) std::fill_n(frame->data[0] + y * frame->linesize[0], width * 4, uint8_t(0x80));
    return frame;
}

}  // namespace corvane::test
