#pragma once

// nginx on a free port of 127.0.0.1, run from a configuration in the test's
// own folder. By default an RTMP server for the push tests (its RTMP module
// loaded), recording every stream it receives there; a test may give its own
// server blocks instead.

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "tests/ChildProcess.h"
#include "tests/console/media/LoopbackSockets.h"

namespace mediatest {

class TNginxServer {
public:
    static constexpr int kAttempts = 5;

    // The configuration's blocks for a port; empty: the RTMP server.
    using TServerBlocks = std::function<std::string(int port)>;

    explicit TNginxServer(std::string folder, TServerBlocks blocks = {})
        : m_strFolder(std::move(folder)), m_fnBlocks(std::move(blocks)) {
        std::filesystem::create_directories(RecordFolder());
    }

    // Starts on a fresh free port, again on another one when that was taken.
    bool Start() {
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            const int port = FreePort(SOCK_STREAM);
            if (StartOn(port)) return true;
        }
        return false;
    }
    bool StartOn(int port) {
        m_nPort = port;
        WriteConfig();
        m_pProcess = std::make_unique<testsupport::TChildProcess>();
        if (!m_pProcess->Start({NGINX_PATH, "-p", m_strFolder, "-c", m_strFolder + "/nginx.conf", "-e",
                                "stderr"},
                               m_strFolder + "/nginx.err"))
            return false;
        if (testsupport::WaitFor([&] { return Accepts(m_nPort); }, 5000)) return true;
        m_pProcess.reset();
        return false;
    }
    // Ends it gracefully (the recording is finished), or kills it.
    void Quit() {
        if (!m_pProcess) return;
        m_pProcess->Signal(SIGCONT);
        m_pProcess->Signal(SIGQUIT);
        if (m_pProcess->WaitForExit(10000) < 0) m_pProcess->Signal(SIGKILL);
        m_pProcess.reset();
    }
    void Kill() {
        if (!m_pProcess) return;
        m_pProcess->Signal(SIGKILL);
        m_pProcess->WaitForExit();
        m_pProcess.reset();
    }
    void Pause() { m_pProcess->Stop(); }

    int Port() const { return m_nPort; }
    std::string Url(const std::string& stream = "s") const {
        return "rtmp://127.0.0.1:" + std::to_string(m_nPort) + "/live/" + stream;
    }
    std::string RecordFolder() const { return m_strFolder + "/rec"; }
    // The server's copy of a stream.
    std::string Recording(const std::string& stream = "s") const { return RecordFolder() + "/" + stream + ".flv"; }
    std::string Log() const { return testsupport::ReadWholeFile(m_strFolder + "/nginx.err"); }

    ~TNginxServer() { Quit(); }

private:
    void WriteConfig() const {
        std::ofstream config(m_strFolder + "/nginx.conf");
        if (!m_fnBlocks) config << RtmpModule();
        config << "daemon off;\nmaster_process off;\n"
               << "pid " << m_strFolder << "/nginx.pid;\n"
               << "error_log " << m_strFolder << "/nginx.err warn;\n"
               << "events { worker_connections 64; }\n"
               << (m_fnBlocks ? m_fnBlocks(m_nPort) : RtmpBlocks());
    }
    static std::string RtmpModule() {
#ifdef NGINX_RTMP_MODULE
        return std::string("load_module ") + NGINX_RTMP_MODULE + ";\n";
#else
        return "";
#endif
    }
    std::string RtmpBlocks() const {
        return "rtmp {\n  access_log off;\n  server {\n    listen 127.0.0.1:" + std::to_string(m_nPort) +
               ";\n    application live {\n      live on;\n      record all;\n      record_path " +
               RecordFolder() + ";\n    }\n  }\n}\n";
    }

    std::string m_strFolder;
    TServerBlocks m_fnBlocks;
    int m_nPort = 0;
    std::unique_ptr<testsupport::TChildProcess> m_pProcess;
};

}  // namespace mediatest
