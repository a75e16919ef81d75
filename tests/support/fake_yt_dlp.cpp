// A stand-in for yt-dlp: follows its command-line contract and plays a scripted scenario.
//
//   fake-yt-dlp --version   plays the scenario file named by $FAKE_YTDLP_VERSION_SCENARIO; without
//                           one it prints $FAKE_YTDLP_VERSION (default 2024.01.01) and exits 0
//   fake-yt-dlp -U          plays the scenario file named by $FAKE_YTDLP_UPDATE; without one it
//                           prints "yt-dlp is up to date" and exits 0
//   fake-yt-dlp ... -- URL  a download: plays the file in the folder $FAKE_YTDLP_SCENARIOS named
//                           after the link's last path segment, so every job of a test can
//                           play its own scenario while all share one environment
//
// A scenario has one command per line; the run exits 0 after the last one. Files go under
// the -P folder; records for the tests (pids, args, fds) under its parent, the folder the
// download was asked for, where Tovik keeps the -P folder as its staging folder.
//   out <text>              <text> and a line feed on standard output
//   err <text>              the same on standard error
//   out-unterminated <text> <text> on standard output without a line feed
//   file <relative path>    creates the file under the -P folder, prints its TKF| line
//   file-unterminated <p>   the same without a line feed after the TKF| line
//   touch <relative path>   creates the file under the -P folder and says nothing
//   sleep <ms>
//   hang                    waits until a signal ends the process
//   spawn-child-hang        forks a child that waits until a signal ends it (stands in for
//                           the ffmpeg that yt-dlp runs)
//   spawn-setsid-hang       the same, the child in a session of its own
//   ignore-term             ignores SIGTERM from now on, and so do children spawned later
//   flood-unterminated <s>  writes to standard output without a line feed for that many seconds
//   fds <relative path>     writes, under the records folder, the numbers of its open descriptors,
//   one per line, but
//                           for the scenario it reads
//   pids <relative path>    writes this process's id, then its children's, one per line,
//                           under the records folder (below)
//   args <relative path>    writes the arguments, one per line, under the records folder
//   rate <lines/s> <s>      progress lines at that rate for that many seconds
//   signal <n>              raises signal n
//   replace <from> <to>     moves the file <from> over <to> (absolute paths), as a self-update
//                           replaces the program
//   exit <code>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Run {
    std::vector<std::string> arguments;
    fs::path folder; // the -P folder
    std::vector<pid_t> children;
};

void writeLine(FILE *stream, const std::string &text) {
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

[[noreturn]] void fail(const std::string &message) {
    writeLine(stderr, "ERROR: fake-yt-dlp: " + message);
    std::exit(2);
}

[[noreturn]] void waitForSignal() {
    for (;;)
        ::pause();
}

fs::path under(const fs::path &folder, const std::string &relative) {
    if (folder.empty())
        fail("no -P folder");
    const fs::path path = folder / relative;
    fs::create_directories(path.parent_path());
    return path;
}

// Where a test finds what the fake records: the folder the download was asked for, which
// holds Tovik's staging folder, the -P folder.
fs::path recordsFolder(const Run &run) {
    return run.folder.empty() ? fs::path() : run.folder.parent_path();
}

void printProgress(double linesPerSecond, double seconds) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto interval = std::chrono::duration<double>(1.0 / linesPerSecond);
    const auto count = static_cast<long>(linesPerSecond * seconds);
    for (long i = 0; i < count; ++i) {
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<Clock::duration>(interval * static_cast<double>(i)));
        writeLine(stdout, "TKP|fake|downloading|" + std::to_string(i) + "|" +
                              std::to_string(count) + "|NA|1048576.0|1");
    }
}

void play(Run &run, const fs::path &scenario) {
    std::ifstream in(scenario);
    if (!in)
        fail("no scenario " + scenario.string());
    std::string line;
    while (std::getline(in, line)) {
        const auto blank = line.find(' ');
        const std::string command = line.substr(0, blank);
        const std::string rest =
            blank == std::string::npos ? std::string() : line.substr(blank + 1);
        if (command == "out") {
            writeLine(stdout, rest);
        } else if (command == "out-unterminated") {
            std::fputs(rest.c_str(), stdout);
            std::fflush(stdout);
        } else if (command == "err") {
            writeLine(stderr, rest);
        } else if (command == "file" || command == "file-unterminated" || command == "touch") {
            const fs::path path = under(run.folder, rest);
            std::ofstream(path) << "fake media\n";
            if (command == "file")
                writeLine(stdout, "TKF|fake|" + path.string());
            else if (command == "file-unterminated")
                std::fputs(("TKF|fake|" + path.string()).c_str(), stdout);
            std::fflush(stdout);
        } else if (command == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(rest)));
        } else if (command == "hang") {
            waitForSignal();
        } else if (command == "spawn-child-hang") {
            const pid_t child = ::fork();
            if (child == 0)
                waitForSignal();
            run.children.push_back(child);
        } else if (command == "spawn-setsid-hang") {
            const pid_t child = ::fork();
            if (child == 0) {
                ::setsid();
                waitForSignal();
            }
            run.children.push_back(child);
        } else if (command == "ignore-term") {
            std::signal(SIGTERM, SIG_IGN);
        } else if (command == "flood-unterminated") {
            const std::string chunk(64 * 1024, 'x');
            const auto end =
                std::chrono::steady_clock::now() + std::chrono::duration<double>(std::stod(rest));
            while (std::chrono::steady_clock::now() < end)
                std::fwrite(chunk.data(), 1, chunk.size(), stdout);
            std::fflush(stdout);
        } else if (command == "fds") {
            std::vector<int> listed, open;
            for (const auto &entry : fs::directory_iterator("/proc/self/fd"))
                listed.push_back(std::stoi(entry.path().filename().string()));
            // The listing's own descriptor is closed again by now, and the scenario being read
            // is the fake's own.
            for (const int fd : listed) {
                const fs::path link = "/proc/self/fd/" + std::to_string(fd);
                std::error_code error;
                if (fs::exists(link) && fs::read_symlink(link, error) != fs::absolute(scenario))
                    open.push_back(fd);
            }
            std::ofstream out(under(recordsFolder(run), rest));
            for (const int fd : open)
                out << fd << '\n';
        } else if (command == "pids") {
            // Renamed into place, so a reader never sees half the list.
            const fs::path path = under(recordsFolder(run), rest);
            const fs::path part = path.string() + ".part";
            {
                std::ofstream out(part);
                out << ::getpid() << '\n';
                for (const pid_t child : run.children)
                    out << child << '\n';
            }
            fs::rename(part, path);
        } else if (command == "args") {
            std::ofstream out(under(recordsFolder(run), rest));
            for (const std::string &argument : run.arguments)
                out << argument << '\n';
        } else if (command == "rate") {
            const auto second = rest.find(' ');
            printProgress(std::stod(rest.substr(0, second)), std::stod(rest.substr(second + 1)));
        } else if (command == "replace") {
            const auto second = rest.find(' ');
            fs::rename(rest.substr(0, second), rest.substr(second + 1));
        } else if (command == "signal") {
            std::raise(std::stoi(rest));
        } else if (command == "exit") {
            std::exit(std::stoi(rest));
        } else if (!command.empty()) {
            fail("unknown scenario command " + command);
        }
    }
}

std::string environment(const char *name, const std::string &fallback) {
    const char *value = std::getenv(name);
    return value ? std::string(value) : fallback;
}

} // namespace

int main(int argc, char **argv) {
    Run run;
    for (int i = 1; i < argc; ++i)
        run.arguments.emplace_back(argv[i]);
    const std::vector<std::string> &args = run.arguments;

    if (args.size() == 1 && args.front() == "--version") {
        const std::string version = environment("FAKE_YTDLP_VERSION_SCENARIO", "");
        if (version.empty()) {
            writeLine(stdout, environment("FAKE_YTDLP_VERSION", "2024.01.01"));
            return 0;
        }
        play(run, version);
        return 0;
    }
    if (args.size() == 1 && args.front() == "-U") {
        const std::string update = environment("FAKE_YTDLP_UPDATE", "");
        if (update.empty()) {
            writeLine(stdout, "yt-dlp is up to date (2024.01.01)");
            return 0;
        }
        play(run, update);
        return 0;
    }

    // A download: the link is the last argument and "--" comes right before it.
    if (args.size() < 2 || args[args.size() - 2] != "--")
        fail("the link must follow \"--\"");
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-P")
            run.folder = args[i + 1];
    }
    const std::string &link = args.back();
    const std::string scenarios = environment("FAKE_YTDLP_SCENARIOS", "");
    if (scenarios.empty())
        fail("FAKE_YTDLP_SCENARIOS is not set");
    play(run, fs::path(scenarios) / link.substr(link.rfind('/') + 1));
    return 0;
}
