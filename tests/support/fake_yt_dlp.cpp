// A stand-in for yt-dlp: follows its command-line contract and plays a scripted scenario.
//
//   fake-yt-dlp --version   plays the scenario file named by $FAKE_YTDLP_VERSION_SCENARIO; without
//                           one it prints 2024.01.01 and exits 0
//   fake-yt-dlp -U          plays the scenario file named by $FAKE_YTDLP_UPDATE; without one it
//                           prints "yt-dlp is up to date" and exits 0
//   fake-yt-dlp ... -- URL  a download: plays the file in the folder $FAKE_YTDLP_SCENARIOS named
//                           after the link's last path segment, so every job of a test can
//                           play its own scenario while all share one environment
//
// A scenario has one command per line; it is read whole and closed before it plays, and the
// run exits 0 after the last command. Files go under the -P folder; records for the tests
// (pids, args) under its parent, the folder the download was asked for, where Tovik keeps the
// -P folder as its staging folder.
//   out <text>              <text> and a line feed on standard output
//   err <text>              the same on standard error
//   file <relative path>    creates the file under the -P folder, prints its TKF| line
//   file-unterminated <p>   the same without a line feed after the TKF| line
//   touch <relative path>   creates the file under the -P folder and says nothing
//   sleep <ms>
//   hang                    waits until a signal ends the process
//   spawn [setsid]          forks a child that waits until a signal ends it (stands in for
//                           the ffmpeg that yt-dlp runs), with "setsid" in a session of its own
//   ignore-term             ignores SIGTERM from now on, and so do children spawned later
//   pids <relative path>    writes this process's id, then its children's, one per line,
//                           under the records folder
//   args <relative path>    writes the arguments, one per line, under the records folder
//   rate <lines/s> <s>      progress lines at that rate for that many seconds
//   signal <n>              raises signal n
//   replace <from> <to>     moves the file <from> over <to> (absolute paths), as a self-update
//                           replaces the program
//   exit <code>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> arguments;
fs::path folder;                                           // the -P folder
std::vector<std::string> pids{std::to_string(::getpid())}; // this process's, then its children's

[[noreturn]] void fail(const std::string &message) {
    std::fputs(("ERROR: fake-yt-dlp: " + message + '\n').c_str(), stderr);
    std::exit(2);
}

// A path under the -P folder or, for records, under its parent.
fs::path under(const std::string &relative, bool record = true) {
    const fs::path path = (record ? folder.parent_path() : folder) / relative;
    fs::create_directories(path.parent_path());
    return path;
}

// Writes the lines to a record, renamed into place so that a reader never sees half of it;
// the part has a name of its own, as jobs of one folder may write the same record at once.
void record(const std::string &relative, const std::vector<std::string> &lines) {
    const fs::path path = under(relative), part = path.string() + "." + pids[0];
    std::ofstream out(part);
    for (const std::string &line : lines)
        out << line << '\n';
    out.close();
    fs::rename(part, path);
}

// Creates a file under the -P folder; with a line end, prints its TKF| line ending so.
void file(const std::string &relative, const char *lineEnd) {
    const fs::path path = under(relative, false);
    std::ofstream(path) << "fake media\n";
    if (lineEnd)
        std::fputs(("TKF|fake|" + path.string() + lineEnd).c_str(), stdout);
}

// Waits until a signal ends the process, in a session of its own when asked.
[[noreturn]] void hang(bool ownSession = false) {
    if (ownSession)
        ::setsid();
    for (;;)
        ::pause();
}

void spawnHang(bool ownSession) {
    if (const pid_t child = ::fork(); child != 0)
        return pids.push_back(std::to_string(child));
    hang(ownSession);
}

void rate(double linesPerSecond, double seconds) {
    const auto start = std::chrono::steady_clock::now();
    const auto count = static_cast<long>(linesPerSecond * seconds);
    const auto step = std::chrono::microseconds(static_cast<long>(1e6 / linesPerSecond));
    for (long i = 0; i < count; std::this_thread::sleep_until(start + ++i * step))
        std::printf("TKP|fake|downloading|%ld|%ld|NA|1048576.0|1\n", i, count);
}

// Each command gets the rest of its line; rate and replace take two words from it.
const std::map<std::string, void (*)(const std::string &)> commands{
    {"out", [](auto &text) { std::fputs((text + '\n').c_str(), stdout); }},
    {"err", [](auto &text) { std::fputs((text + '\n').c_str(), stderr); }},
    {"file", [](auto &path) { file(path, "\n"); }},
    {"file-unterminated", [](auto &path) { file(path, ""); }},
    {"touch", [](auto &path) { file(path, nullptr); }},
    {"sleep",
     [](auto &ms) { std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(ms))); }},
    {"hang", [](auto &) { hang(); }},
    {"spawn", [](auto &how) { spawnHang(how == "setsid"); }},
    {"ignore-term", [](auto &) { std::signal(SIGTERM, SIG_IGN); }},
    {"pids", [](auto &path) { record(path, pids); }},
    {"args", [](auto &path) { record(path, arguments); }},
    {"rate", [](auto &w) { rate(std::stod(w), std::stod(w.substr(w.find(' ')))); }},
    {"signal", [](auto &n) { std::raise(std::stoi(n)); }},
    {"replace", [](auto &w) { fs::rename(w.substr(0, w.find(' ')), w.substr(w.find(' ') + 1)); }},
    {"exit", [](auto &code) { std::exit(std::stoi(code)); }},
    {"", [](auto &) {}},
};

// Plays the scenario file; when none is named, prints the fallback instead.
int play(const char *path, const std::string &fallback = {}) {
    if ((!path || !*path) && !fallback.empty())
        return std::fputs((fallback + '\n').c_str(), stdout), 0;
    std::ifstream in(path);
    if (!in)
        fail("no scenario " + std::string(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    in.close();
    for (const std::string &line : lines) {
        const auto blank = line.find(' ');
        const auto command = commands.find(line.substr(0, blank));
        if (command == commands.end())
            fail("unknown scenario command " + line);
        command->second(blank == std::string::npos ? "" : line.substr(blank + 1));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0); // each write at once, as yt-dlp's
    arguments.assign(argv + 1, argv + argc);
    if (arguments == std::vector<std::string>{"--version"})
        return play(std::getenv("FAKE_YTDLP_VERSION_SCENARIO"), "2024.01.01");
    if (arguments == std::vector<std::string>{"-U"})
        return play(std::getenv("FAKE_YTDLP_UPDATE"), "yt-dlp is up to date (2024.01.01)");
    // A download: the link comes last (the queue test checks the whole argument list).
    for (std::size_t i = 0; i + 2 < arguments.size(); ++i)
        folder = arguments[i] == "-P" ? fs::path(arguments[i + 1]) : folder;
    const char *scenarios = std::getenv("FAKE_YTDLP_SCENARIOS");
    const std::string link = arguments.back();
    return play((fs::path(scenarios ? scenarios : "") / link.substr(link.rfind('/') + 1)).c_str());
}
