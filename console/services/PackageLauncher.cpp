#include "console/services/PackageLauncher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace console {
namespace {

constexpr char kDefaultShell[] = "/bin/sh";
// "$1" is the package: the command text never holds the path itself.
constexpr char kExecFirstArgument[] = "exec \"$1\"";

std::string ShellPath() {
    const char* shell = std::getenv("SHELL");
    return shell != nullptr && shell[0] == '/' ? shell : kDefaultShell;
}

int ReadExecError(int fd) {
    int error = 0;
    ssize_t got;
    do {
        got = read(fd, &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    return got == sizeof error ? error : 0;
}

// True when the child ended with status 0.
bool WaitForChild(pid_t child) {
    int status = 0;
    pid_t ended;
    do {
        ended = waitpid(child, &status, 0);
    } while (ended < 0 && errno == EINTR);
    return ended == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

void RemoveUpgradeLeftovers(const std::filesystem::path& exeDir) {
    std::error_code ignored;
    const std::filesystem::path package = exeDir / kPackageFileName;
    std::filesystem::remove(package, ignored);
    std::filesystem::remove(std::filesystem::path(package) += ".part", ignored);
    std::filesystem::remove(exeDir / kUpgraderFileName, ignored);
}

bool StartPackage(const std::filesystem::path& package) {
    if (chmod(package.c_str(), S_IRWXU) != 0) return false;
    std::string shell = ShellPath();
    std::string command = kExecFirstArgument;
    std::string dashC = "-c";
    std::string name = "sh";
    std::string path = package.string();
    std::vector<char*> argv{shell.data(), dashC.data(), command.data(), name.data(), path.data(), nullptr};

    // The grandchild reports a failed exec through the pipe; a successful
    // exec closes it (close-on-exec), so the parent reads end-of-file.
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    // Between fork and exec only async-signal-safe calls: the console has
    // other threads.
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            execve(argv[0], argv.data(), environ);
            const int error = errno;
            (void)!write(pipeFds[1], &error, sizeof error);
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    close(pipeFds[1]);
    if (child < 0) {
        close(pipeFds[0]);
        return false;
    }
    const bool forked = WaitForChild(child);
    const int execError = forked ? ReadExecError(pipeFds[0]) : -1;
    close(pipeFds[0]);
    return execError == 0;
}

}  // namespace console
