// console_figures: the console's own figures on an X server of its own
// (1920 x 1080), with the sample clip composed to 1920 x 1080 BGRA and the
// colour-table cache in place. First N fresh processes, each timed from its
// start to the first composed frame shown (median and each run's
// breakdown); then one run of S seconds with the event loop's latency, the
// frames shown per second, the frame handler's times and the engine's drops.
//
//     console_figures [--runs N] [--seconds S]
//
// Per-user folders point into a temporary folder; nothing of the user's is
// read or written.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "console/services/SettingsStore.h"

namespace {

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Starts Xvfb on a display number it picks; 0 when it does not come up.
pid_t StartXvfb(std::string* display) {
    int fds[2];
    if (pipe(fds) != 0) return 0;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // The number arrives in pieces and ends with a line feed; closing the
    // pipe before that would make the server's write fail.
    display->assign(":");
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') display->push_back(c);
    close(fds[0]);
    if (c != '\n' || display->size() < 2) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        return 0;
    }
    return pid;
}

struct TRun {
    std::string output;
    int status = -1;
};

TRun RunConsole(double seconds) {
    const std::string command = Quoted(CORVANE_PATH) + " --media " + Quoted(PRESENTER_SAMPLE) + " --measure " +
                                std::to_string(seconds) + " 2>/dev/null";
    TRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) run.output += line;
    run.status = pclose(pipe);
    return run;
}

double FirstShownSeconds(const std::string& output) {
    const size_t at = output.find("start to first frame shown: ");
    return at == std::string::npos ? -1 : std::atof(output.c_str() + at + std::strlen("start to first frame shown: "));
}

std::string LineWith(const std::string& output, const char* start) {
    const size_t at = output.find(start);
    if (at == std::string::npos) return {};
    return output.substr(at, output.find('\n', at) - at);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    double seconds = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(1.0, std::atof(argv[i + 1]));
    }
    char pattern[] = "/tmp/console-figures-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string root = pattern;
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
    setenv("QUINDLE_PROMPTS", (root + "/prompts.txt").c_str(), 1);
    unsetenv("QT_QPA_PLATFORM");
    std::filesystem::create_directories(root + "/data/Raxev");
    if (access(TABLE_CACHE, R_OK) == 0)
        std::filesystem::create_symlink(TABLE_CACHE, root + "/data/Raxev/ClrFloat.map");
    console::WriteClient(1920, 1080, 30, 28);

    std::string display;
    const pid_t xvfb = StartXvfb(&display);
    if (xvfb == 0) {
        std::fprintf(stderr, "console_figures: Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", display.c_str(), 1);
    // Without the shared cache the first run builds the colour tables.
    if (access(TABLE_CACHE, R_OK) != 0) RunConsole(1);

    std::vector<double> firstShown;
    for (int run = 1; run <= runs; ++run) {
        const TRun result = RunConsole(1);
        const double shown = FirstShownSeconds(result.output);
        std::printf("run %d: first frame shown %.3f s; %s\n", run, shown,
                    LineWith(result.output, "start-up:").c_str());
        if (shown >= 0) firstShown.push_back(shown);
    }
    std::sort(firstShown.begin(), firstShown.end());
    if (!firstShown.empty())
        std::printf("start to first composed frame shown: median %.3f s over %zu runs\n",
                    firstShown[firstShown.size() / 2], firstShown.size());
    std::printf("one run of %.0f s:\n", seconds);
    std::fflush(stdout);
    const TRun steady = RunConsole(seconds);
    std::printf("%s", steady.output.c_str());
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return steady.status == 0 && !firstShown.empty() ? 0 : 1;
}
