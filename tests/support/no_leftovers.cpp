// Runs a command, typically the whole test suite, as the reaper of everything it starts, and
// fails when anything it started is still running once the command has ended: a process a
// test left behind is handed to this program when its parent exits, so nothing escapes the
// count, whatever its name or group.
//
//   no-leftovers <command> [arguments…]
//
// Exits with the command's status, or 1 when processes were left; those are named on
// standard error and killed.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// This program's children that still run, after reaping those that have ended.
std::vector<pid_t> children() {
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    std::vector<pid_t> found;
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        std::getline(stat, text);
        // "pid (name) state ppid …"; the name may hold blanks and parentheses. Without a ")",
        // the scan starts at the empty text's end and fails.
        int parent = 0;
        char state = 0;
        if (std::sscanf(text.c_str() + text.rfind(')') + 1, " %c %d", &state, &parent) == 2 &&
            parent == ::getpid() && state != 'Z')
            found.push_back(std::stoi(entry.path().filename().string()));
    }
    return found;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fputs("usage: no-leftovers <command> [arguments…]\n", stderr);
        return 2;
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const pid_t command = ::fork();
    if (command == 0) {
        ::execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(command, &status, 0); // nothing here handles a signal, so nothing interrupts it
    // Processes on their way out get a moment to finish, longer than a guard gives a child
    // that ignores SIGTERM.
    const auto patience = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    std::vector<pid_t> left = children();
    for (; !left.empty() && std::chrono::steady_clock::now() < patience; left = children())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (const pid_t pid : left) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline");
        std::string line, argument;
        while (std::getline(in, argument, '\0'))
            line += argument + ' ';
        std::fprintf(stderr, "no-leftovers: still running after the suite: %d %s\n", pid,
                     line.c_str());
    }
    // Killed level by level: each one's children come to this program as it dies.
    for (std::vector<pid_t> round = left; !round.empty(); round = children()) {
        for (const pid_t pid : round)
            if (::kill(pid, SIGKILL) == 0)
                ::waitpid(pid, nullptr, 0);
    }
    return !left.empty() ? 1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
