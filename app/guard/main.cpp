// tovik-guard: stands between Tovik and one child program, so that nothing the child starts
// outlives its job or Tovik itself.
//
//   tovik-guard <program> [arguments…]
//
// Descriptor 3, when open, reports a failed launch: the guard writes the reason there and
// closes it; an empty report means the program started. The guard
// - runs the program in a process group of its own, with the guard's standard descriptors
//   and nothing else inherited;
// - becomes the reaper of every descendant that loses its parent (Linux), so that even one
//   that left the group with setsid stays within reach;
// - on SIGTERM, SIGINT or SIGHUP (Tovik asks it to stop, or Tovik has gone: the parent-death
//   signal Tovik set before starting it) sends SIGTERM to the program's group, and SIGKILL
//   three seconds later if the group is still there;
// - once the program has ended, kills whatever is left below it, then ends the way the
//   program ended: the same exit code, or the same signal.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifdef __linux__
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif
#ifdef __APPLE__
#include <sys/event.h>
#endif

namespace {

constexpr int launchReportFd = 3;
constexpr int stopGraceSeconds = 3;
constexpr int stopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Only the standard descriptors and the launch report survive; whatever Tovik's process held
// without close-on-exec goes no further.
void closeInheritedDescriptors() {
    const int first = launchReportFd + 1;
#if defined(__linux__) && defined(SYS_close_range)
    if (::syscall(SYS_close_range, first, ~0U, 0) == 0)
        return;
#endif
    long limit = ::sysconf(_SC_OPEN_MAX);
    if (limit < 0 || limit > 65536)
        limit = 65536;
    for (int fd = first; fd < limit; ++fd)
        ::close(fd);
}

void writeAll(int fd, const char *text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t written = ::write(fd, text, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text += written;
        left -= static_cast<std::size_t>(written);
    }
}

// Starts the program as the leader of a new process group. The child reports a failed exec
// on the launch report and exits 127.
pid_t launch(char **argv, const sigset_t &originalMask) {
    const pid_t child = ::fork();
    if (child != 0)
        return child;
    ::setpgid(0, 0);
#ifdef __linux__
    // Should the guard itself be killed, the program goes with it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    for (const int signal : stopSignals)
        ::signal(signal, SIG_DFL);
    ::sigprocmask(SIG_SETMASK, &originalMask, nullptr);
    ::fcntl(launchReportFd, F_SETFD, FD_CLOEXEC);
    ::execvp(argv[0], argv);
    writeAll(launchReportFd, std::strerror(errno));
    ::_exit(127);
}

// The processes whose parent is the guard: the program, and every orphan handed to the guard.
std::vector<pid_t> ownChildren() {
    std::vector<pid_t> children;
#ifdef __linux__
    const pid_t self = ::getpid();
    // The guard has one thread, so its task's list is the whole list.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/task/%d/children", self, self);
    if (FILE *list = std::fopen(path, "re")) {
        long pid = 0;
        while (std::fscanf(list, "%ld", &pid) == 1)
            children.push_back(static_cast<pid_t>(pid));
        std::fclose(list);
        return children;
    }
    // Kernels without that list: every process's parent, read one by one.
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return children;
    while (const dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0)
            continue;
        std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char stat[512];
        const ssize_t size = ::read(fd, stat, sizeof stat - 1);
        ::close(fd);
        if (size <= 0)
            continue;
        stat[size] = '\0';
        // "pid (name) state ppid …"; the name may hold blanks and parentheses.
        const char *afterName = std::strrchr(stat, ')');
        char state = 0;
        long parent = 0;
        if (afterName && std::sscanf(afterName + 1, " %c %ld", &state, &parent) == 2 &&
            parent == self)
            children.push_back(static_cast<pid_t>(pid));
    }
    ::closedir(proc);
#endif
    return children;
}

// Kills the program's group and every process below the guard, and reaps them all. A killed
// process's own children are handed to the guard as it dies, so each round reaches one level
// further down until no child is left.
void killEverythingBelow(pid_t group) {
    ::kill(-group, SIGKILL);
    for (;;) {
        for (const pid_t child : ownChildren()) {
            ::kill(-child, SIGKILL);
            ::kill(child, SIGKILL);
        }
        pid_t ended = 0;
        while ((ended = ::waitpid(-1, nullptr, WNOHANG)) > 0) {
        }
        if (ended < 0 && errno == ECHILD)
            return;
            // The list of children is not exact while they change; look again soon.
#ifdef __linux__
        sigset_t childChanged;
        sigemptyset(&childChanged);
        sigaddset(&childChanged, SIGCHLD);
        const timespec soon{0, 100'000'000};
        ::sigtimedwait(&childChanged, nullptr, &soon);
#else
        ::usleep(10'000);
#endif
    }
}

[[noreturn]] void endLike(int status) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
        ::raise(signal);
        ::_exit(128 + signal);
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

enum class Event { Stop, ChildChanged, TimeUp };

// Waits for the next thing the guard must act on, until the deadline if there is one.
class Events {
public:
    explicit Events(const sigset_t &watched) {
#ifdef __APPLE__
        static_cast<void>(watched);
        m_queue = ::kqueue();
        std::vector<struct kevent> changes;
        for (const int signal : stopSignals)
            changes.push_back(signalEvent(signal));
        changes.push_back(signalEvent(SIGCHLD));
        // Without a parent-death signal, watch the parent itself; a parent that is already
        // gone left the guard with launchd.
        const pid_t parent = ::getppid();
        struct kevent parentExit;
        EV_SET(&parentExit, static_cast<uintptr_t>(parent), EVFILT_PROC, EV_ADD, NOTE_EXIT, 0,
               nullptr);
        changes.push_back(parentExit);
        if (::kevent(m_queue, changes.data(), static_cast<int>(changes.size()), nullptr, 0,
                     nullptr) < 0 ||
            parent == 1)
            m_parentGone = true;
#else
        m_watched = watched;
#endif
    }

    Event next(const timespec *deadline) {
#ifdef __APPLE__
        if (m_parentGone) {
            m_parentGone = false;
            return Event::Stop;
        }
        for (;;) {
            timespec timeout;
            struct kevent event;
            const int count = ::kevent(m_queue, nullptr, 0, &event, 1,
                                       deadline ? remaining(*deadline, timeout) : nullptr);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return Event::TimeUp;
            if (event.filter == EVFILT_SIGNAL && event.ident == SIGCHLD)
                return Event::ChildChanged;
            return Event::Stop;
        }
#else
        for (;;) {
            timespec timeout;
            const int signal =
                deadline ? ::sigtimedwait(&m_watched, nullptr, remaining(*deadline, timeout))
                         : ::sigwaitinfo(&m_watched, nullptr);
            if (signal < 0 && errno == EINTR)
                continue;
            if (signal < 0)
                return Event::TimeUp;
            return signal == SIGCHLD ? Event::ChildChanged : Event::Stop;
        }
#endif
    }

private:
    static const timespec *remaining(const timespec &deadline, timespec &timeout) {
        timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        long long nanoseconds =
            (deadline.tv_sec - now.tv_sec) * 1'000'000'000LL + (deadline.tv_nsec - now.tv_nsec);
        if (nanoseconds < 0)
            nanoseconds = 0;
        timeout.tv_sec = static_cast<time_t>(nanoseconds / 1'000'000'000LL);
        timeout.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000LL);
        return &timeout;
    }
#ifdef __APPLE__
    static struct kevent signalEvent(int signal) {
        struct kevent event;
        EV_SET(&event, static_cast<uintptr_t>(signal), EVFILT_SIGNAL, EV_ADD, 0, 0, nullptr);
        return event;
    }
    int m_queue = -1;
    bool m_parentGone = false;
#else
    sigset_t m_watched;
#endif
};

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        writeAll(STDERR_FILENO, "usage: tovik-guard <program> [arguments…]\n");
        return 2;
    }
    // A SIGCHLD ignored by whatever started Tovik would have the program reaped unseen.
    ::signal(SIGCHLD, SIG_DFL);
    // Every signal the guard acts on is taken synchronously, in the loop below.
    sigset_t watched, originalMask;
    sigemptyset(&watched);
    for (const int signal : stopSignals)
        sigaddset(&watched, signal);
    sigaddset(&watched, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &watched, &originalMask);
#ifdef __APPLE__
    // kqueue sees signals only when they are not delivered.
    for (const int signal : stopSignals)
        ::signal(signal, SIG_IGN);
#endif

#ifdef __linux__
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
    closeInheritedDescriptors();
    Events events(watched);

    const pid_t program = launch(argv + 1, originalMask);
    if (program < 0) {
        writeAll(launchReportFd, std::strerror(errno));
        return 127;
    }
    // Here too, so that a stop that comes before the child has made its group still finds it.
    ::setpgid(program, program);
    ::close(launchReportFd);
    // The guard itself holds on to none of the child's output.
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }

    bool stopping = false;
    timespec killTime{};
    const timespec *deadline = nullptr;
    for (;;) {
        switch (events.next(deadline)) {
        case Event::Stop:
            if (!stopping) {
                stopping = true;
                // The program itself too, should it have left its group.
                ::kill(-program, SIGTERM);
                ::kill(program, SIGTERM);
                ::clock_gettime(CLOCK_MONOTONIC, &killTime);
                killTime.tv_sec += stopGraceSeconds;
                deadline = &killTime;
            }
            break;
        case Event::TimeUp:
            ::kill(-program, SIGKILL);
            ::kill(program, SIGKILL);
            deadline = nullptr;
            break;
        case Event::ChildChanged:
            for (;;) {
                int status = 0;
                const pid_t ended = ::waitpid(-1, &status, WNOHANG);
                if (ended <= 0)
                    break;
                if (ended == program) {
                    killEverythingBelow(program);
                    endLike(status);
                }
            }
            break;
        }
    }
}
