#pragma once

// A program the test starts and stops by its pid: standard output to a file
// or /dev/null, standard error to a file. Killed at destruction if it still
// runs.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

template <typename Predicate>
bool WaitFor(Predicate predicate, int timeout_ms = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TChildProcess {
public:
    TChildProcess() = default;
    ~TChildProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGCONT);
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // args[0] is the program's path. An empty stdoutPath discards the output.
    bool Start(std::vector<std::string> args, const std::string& stderrPath,
               const std::string& stdoutPath = "") {
        m_strStderr = stderrPath;
        m_strStdout = stdoutPath;
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO,
                                         stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int error = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) m_pid = 0;
        return error == 0;
    }

    pid_t Pid() const { return m_pid; }
    void Signal(int signal) const {
        if (m_pid > 0) kill(m_pid, signal);
    }
    // Returns once the child has stopped (SIGSTOP).
    void Stop() const {
        kill(m_pid, SIGSTOP);
        int status = 0;
        waitpid(m_pid, &status, WUNTRACED);
    }
    // The exit status, 128 + signal when a signal ended it, -1 when it is
    // still running after the time-out.
    int WaitForExit(int timeout_ms = 10000) {
        int status = 0;
        const bool ended = WaitFor([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeout_ms);
        if (!ended) return -1;
        m_pid = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Stderr() const { return ReadWholeFile(m_strStderr); }
    std::string Stdout() const { return ReadWholeFile(m_strStdout); }

private:
    pid_t m_pid = 0;
    std::string m_strStderr;
    std::string m_strStdout;
};

}  // namespace testsupport
