#include "tests/media/PulseTestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <thread>

extern char** environ;

namespace testsupport {
namespace {

namespace fs = std::filesystem;

void StopGroup(pid_t pid, int signal) {
    if (pid <= 0)
        return;
    kill(-pid, signal);
    kill(pid, SIGCONT);  // a frozen process must run to see the signal
    waitpid(pid, nullptr, 0);
}

void WriteClientConfig(const std::string& folder) {
    std::ofstream(folder + "/client.conf") << "autospawn = no\n";
    setenv("PULSE_CLIENTCONFIG", (folder + "/client.conf").c_str(), 1);
}

std::string MakeTempFolder(const char* prefix) {
    std::string pattern = (fs::temp_directory_path() / prefix).string() + "-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

// Points PULSE_SERVER at `server` and returns what it was ("" when unset).
std::string SwapServer(const std::string& server) {
    const char* saved = std::getenv("PULSE_SERVER");
    std::string previous = saved ? saved : "";
    if (server.empty()) {
        unsetenv("PULSE_SERVER");
    } else {
        setenv("PULSE_SERVER", server.c_str(), 1);
    }
    return previous;
}

}  // namespace

TPulseServer::~TPulseServer() {
    for (pid_t helper : m_helpers) StopGroup(helper, SIGTERM);
    StopGroup(m_server, SIGTERM);
    if (m_bHadServer)
        SwapServer(m_strSavedServer);
    if (!m_strDir.empty())
        fs::remove_all(m_strDir);
}

bool TPulseServer::Start(std::string* error) {
    m_strDir = MakeTempFolder("qpulse");
    if (m_strDir.empty()) {
        *error = "mkdtemp failed";
        return false;
    }
    fs::create_directories(m_strDir + "/home");
    fs::create_directories(m_strDir + "/run");
    m_strSocket = m_strDir + "/run/native";
    WriteClientConfig(m_strDir);
    m_strSavedServer = SwapServer("unix:" + m_strSocket);
    m_bHadServer = true;
    m_env = {"HOME=" + m_strDir + "/home", "XDG_CONFIG_HOME=" + m_strDir + "/home/.config",
             "XDG_RUNTIME_DIR=" + m_strDir + "/run", "PULSE_RUNTIME_PATH=" + m_strDir + "/run"};
    const size_t own = m_env.size();
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view variable(*entry);
        const std::string_view name = variable.substr(0, variable.find('=') + 1);
        const bool overridden =
            std::any_of(m_env.begin(), m_env.begin() + own,
                        [&](const std::string& e) { return e.starts_with(name); });
        if (!overridden)
            m_env.emplace_back(variable);
    }

    m_server =
        Spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
               "--log-target=file:" + m_strDir + "/server.log", "-L",
               "module-native-protocol-unix socket=" + m_strSocket + " auth-anonymous=1", "-L",
               "module-null-sink sink_name=qtest sink_properties=device.description=qtest"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Answers())
            return true;
        if (m_server <= 0 || waitpid(m_server, nullptr, WNOHANG) != 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    *error = "the PulseAudio server did not start; see " + m_strDir + "/server.log";
    return false;
}

bool TPulseServer::AddNullSink(const std::string& name, const std::string& description) {
    return Pactl({"load-module", "module-null-sink", "sink_name=" + name,
                  "sink_properties=device.description=\"" + description + "\""});
}

bool TPulseServer::Pactl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"pactl"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunToEnd(argv);
}

bool TPulseServer::PlayTone(const std::string& sink, int hertz) {
    const std::string pipeline =
        "ffmpeg -nostdin -loglevel quiet -f lavfi -i sine=frequency=" + std::to_string(hertz) +
        ":sample_rate=44100 -ac 2 -f s16le - 2>/dev/null | pacat --playback --device=" + sink +
        " --format=s16le --rate=44100 --channels=2 --raw 2>/dev/null";
    const pid_t pid = Spawn({"/bin/sh", "-c", pipeline});
    if (pid > 0)
        m_helpers.push_back(pid);
    return pid > 0;
}

void TPulseServer::Freeze() {
    kill(m_server, SIGSTOP);
}
void TPulseServer::Thaw() {
    kill(m_server, SIGCONT);
}

void TPulseServer::Kill() {
    StopGroup(m_server, SIGKILL);
    m_server = -1;
}

pid_t TPulseServer::Spawn(const std::vector<std::string>& argv, bool quiet) {
    std::vector<char*> args, env;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    for (const std::string& entry : m_env) env.push_back(const_cast<char*>(entry.c_str()));
    args.push_back(nullptr);
    env.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0) {
        // Also here: a test that stops the group at once must not find it
        // missing because the child has not run yet.
        if (pid > 0) setpgid(pid, pid);
        return pid;
    }
    // The child: a process group of its own, so that stopping it stops its
    // pipeline too, and killed with the test process should that crash.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (quiet) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
    }
    execvpe(args[0], args.data(), env.data());
    _exit(127);
}

bool TPulseServer::RunToEnd(const std::vector<std::string>& argv) {
    const pid_t pid = Spawn(argv, true);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool TPulseServer::Answers() const {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, m_strSocket.c_str(), sizeof address.sun_path - 1);
    const bool connected =
        fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        close(fd);
    return connected;
}

TNoPulseServer::TNoPulseServer() : m_strDir(MakeTempFolder("qnopulse")) {
    WriteClientConfig(m_strDir);
    m_strSavedServer = SwapServer("unix:" + m_strDir + "/nobody-serves-this");
}

TNoPulseServer::~TNoPulseServer() {
    SwapServer(m_strSavedServer);
    fs::remove_all(m_strDir);
}

}  // namespace testsupport

// libpulse is not built for the thread sanitizer, which then takes the reuse
// of its lock-free memory pools for races.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulsecommon-*.so\nrace:libpulse.so.*\n";
}
