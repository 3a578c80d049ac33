#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

// A private PulseAudio server in a folder of its own (made with mkdtemp): its
// runtime folder, HOME and configuration live there, the test process reaches
// it only through PULSE_SERVER, and autospawn is off, so the user's server is
// never touched. It runs as root too. The server and every helper started
// here are stopped by their pids when the object goes.
class TPulseServer {
public:
    TPulseServer() = default;
    ~TPulseServer();
    TPulseServer(const TPulseServer&) = delete;
    TPulseServer& operator=(const TPulseServer&) = delete;

    // Starts the server with the null sink "qtest" and waits until it answers;
    // points this process's PULSE_SERVER at it until the object goes.
    bool Start(std::string* error);
    // Adds a null sink whose monitor source is "<name>.monitor".
    bool AddNullSink(const std::string& name, const std::string& description);
    // Runs pactl against this server; true when it succeeded.
    bool Pactl(const std::vector<std::string>& args);
    // Plays an endless tone of `hertz` into the sink.
    bool PlayTone(const std::string& sink, int hertz);
    void Freeze();
    void Thaw();
    // Kills the server at once (the helpers end with it).
    void Kill();
    const std::string& Folder() const { return m_strDir; }

private:
    // Starts argv[0] in a process group of its own; quiet drops its output.
    pid_t Spawn(const std::vector<std::string>& argv, bool quiet = false);
    bool RunToEnd(const std::vector<std::string>& argv);
    bool Answers() const;

    std::string m_strDir;
    std::string m_strSavedServer;
    bool m_bHadServer = false;
    std::string m_strSocket;
    std::vector<std::string> m_env;
    pid_t m_server = -1;
    std::vector<pid_t> m_helpers;
};

// Points this process at a PulseAudio socket that nobody serves (autospawn
// off), so clients find no server, until the object goes.
class TNoPulseServer {
public:
    TNoPulseServer();
    ~TNoPulseServer();
    TNoPulseServer(const TNoPulseServer&) = delete;
    TNoPulseServer& operator=(const TNoPulseServer&) = delete;

private:
    std::string m_strDir;
    std::string m_strSavedServer;
};

}  // namespace testsupport
