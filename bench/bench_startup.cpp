// Start-up benchmark: runs the program and a bare one-label Qt Widgets window
// alternately and compares their time to the first frame and their peak
// resident memory. Both are the benchmark's own builds with the start-up
// probe linked in (bench/startupprobe.cpp): the program's main() and library,
// plus a probe that prints the first frame's time and quits.
//
//   bench_startup [--runs N] [--platform offscreen|xcb] [--build DIR]
//
// Children run in the build directory (where the program finds dict/). The
// platform defaults to the X display in DISPLAY when there is one, otherwise
// the offscreen platform.
//
// Figures per child:
// - probe: the child's own "first-frame-ms" (from its static initialisation);
// - wall: from spawning the child to reading that line, which adds exec and
//   the loading of the shared libraries;
// - peak RSS: ru_maxrss from wait4() on that very child. wait4 reports the
//   child alone; the getrusage(RUSAGE_CHILDREN) maximum would mix children.
//   The kernel also counts the spawning process's resident memory at exec
//   into it, so this process stays small (no Qt objects) and its own peak is
//   printed as the floor below which figures would be meaningless.
// - CPU: user and system time from the same wait4(), start to exit; on a
//   busy machine it varies far less than the times to the first frame.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int ChildTimeoutMs = 30000;

struct Sample
{
    double probeMs = 0;
    double wallMs = 0;
    long peakRssKb = 0;
    // The child's CPU time, start to exit (it quits at its first frame):
    // what a busy machine's scheduling does not inflate.
    double cpuMs = 0;
};

struct Options
{
    int runs = 10;
    std::string platform;
    std::string buildDir;
};

std::string dirOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string selfDir()
{
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return ".";
    buffer[length] = '\0';
    return dirOf(buffer);
}

bool parseOptions(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--runs" && hasValue)
            options->runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--platform" && hasValue)
            options->platform = argv[++i];
        else if (arg == "--build" && hasValue)
            options->buildDir = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--runs N] [--platform offscreen|xcb] [--build DIR]\n",
                         argv[0]);
            return false;
        }
    }
    if (options->platform.empty()) {
        const char *display = std::getenv("DISPLAY");
        options->platform = display && *display ? "xcb" : "offscreen";
    }
    if (options->buildDir.empty())
        options->buildDir = dirOf(selfDir()); // the bench lives in <build>/bench
    return true;
}

// The environment of a child: ours, with the platform forced.
std::vector<std::string> childEnvironment(const std::string &platform)
{
    std::vector<std::string> env;
    for (char **entry = environ; *entry; ++entry) {
        const std::string item = *entry;
        if (item.rfind("QT_QPA_PLATFORM=", 0) == 0)
            continue;
        env.push_back(item);
    }
    env.push_back("QT_QPA_PLATFORM=" + platform);
    return env;
}

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Runs one child until it has printed its first-frame line and exited.
std::optional<Sample> runOnce(const std::string &path, const std::string &workDir,
                              const std::vector<std::string> &env)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return std::nullopt;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull >= 0)
        posix_spawn_file_actions_adddup2(&actions, devNull, STDERR_FILENO);

    std::vector<char *> envp;
    for (const std::string &item : env)
        envp.push_back(const_cast<char *>(item.c_str()));
    envp.push_back(nullptr);
    char *argv[] = {const_cast<char *>(path.c_str()), nullptr};

    // posix_spawn has no working-directory action in this libc: change ours
    // around the spawn.
    char previousDir[4096];
    const bool haveDir = getcwd(previousDir, sizeof previousDir) != nullptr;
    if (chdir(workDir.c_str()) != 0) {
        std::fprintf(stderr, "cannot enter %s\n", workDir.c_str());
        return std::nullopt;
    }
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawnError = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp.data());
    if (haveDir && chdir(previousDir) != 0)
        std::fprintf(stderr, "cannot return to %s\n", previousDir);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (devNull >= 0)
        close(devNull);
    if (spawnError != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", path.c_str(), std::strerror(spawnError));
        close(out[0]);
        return std::nullopt;
    }

    std::string output;
    std::optional<double> probeMs;
    double wallMs = 0;
    while (!probeMs) {
        const int left = ChildTimeoutMs - static_cast<int>(msSince(start));
        pollfd fd{out[0], POLLIN, 0};
        if (left <= 0 || poll(&fd, 1, left) <= 0)
            break;
        char buffer[512];
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        output.append(buffer, static_cast<size_t>(got));
        const auto at = output.find("first-frame-ms ");
        if (at != std::string::npos && output.find('\n', at) != std::string::npos) {
            wallMs = msSince(start);
            probeMs = std::atof(output.c_str() + at + std::strlen("first-frame-ms "));
        }
    }
    close(out[0]);
    if (!probeMs)
        kill(pid, SIGKILL);

    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (!probeMs) {
        std::fprintf(stderr, "%s printed no first-frame line within %d ms\n", path.c_str(),
                     ChildTimeoutMs);
        return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "%s ended with status %d\n", path.c_str(), status);
    const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return Sample{*probeMs, wallMs, usage.ru_maxrss, cpuMs};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Summary
{
    double probeMedian = 0, probeMin = 0, wallMedian = 0, wallMin = 0, rssMedianMb = 0,
           cpuMedian = 0;
};

Summary summarise(const std::vector<Sample> &samples)
{
    std::vector<double> probe, wall, rss, cpu;
    for (const Sample &sample : samples) {
        cpu.push_back(sample.cpuMs);
        probe.push_back(sample.probeMs);
        wall.push_back(sample.wallMs);
        rss.push_back(sample.peakRssKb / 1024.0);
    }
    return {median(probe), *std::min_element(probe.begin(), probe.end()),
            median(wall),  *std::min_element(wall.begin(), wall.end()),
            median(rss),   median(cpu)};
}

void printSummary(const char *name, const Summary &s, size_t count)
{
    std::printf("%-8s runs %2zu  first frame: median %7.1f ms  min %7.1f ms   "
                "(wall from spawn: median %7.1f ms  min %7.1f ms)   peak RSS median %6.1f MB   "
                "CPU median %6.1f ms\n",
                name, count, s.probeMedian, s.probeMin, s.wallMedian, s.wallMin, s.rssMedianMb,
                s.cpuMedian);
}

const char *verdict(double ratio)
{
    return ratio <= 1.3 ? "within 1.3" : "ABOVE 1.3";
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parseOptions(argc, argv, &options))
        return 2;
    if (options.platform == "xcb" && !std::getenv("DISPLAY")) {
        std::fprintf(stderr, "platform xcb needs DISPLAY\n");
        return 2;
    }
    const std::string program = options.buildDir + "/bench/kcradioconfig_probed";
    const std::string bare = options.buildDir + "/bench/barewindow";
    const std::vector<std::string> env = childEnvironment(options.platform);
    const char *display = std::getenv("DISPLAY");
    std::printf("bench_startup: %d runs each, platform %s%s%s, working dir %s\n", options.runs,
                options.platform.c_str(), options.platform == "xcb" ? " DISPLAY=" : "",
                options.platform == "xcb" && display ? display : "", options.buildDir.c_str());

    // One unmeasured start of each fills the page cache.
    if (!runOnce(program, options.buildDir, env) || !runOnce(bare, options.buildDir, env))
        return 1;

    std::vector<Sample> programSamples, bareSamples;
    for (int i = 0; i < options.runs; ++i) {
        // Alternate which goes first so that neither always follows the other.
        const bool programFirst = i % 2 == 0;
        for (int k = 0; k < 2; ++k) {
            const bool isProgram = (k == 0) == programFirst;
            const auto sample = runOnce(isProgram ? program : bare, options.buildDir, env);
            if (!sample)
                return 1;
            (isProgram ? programSamples : bareSamples).push_back(*sample);
        }
    }

    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    const Summary p = summarise(programSamples);
    const Summary b = summarise(bareSamples);
    printSummary("program", p, programSamples.size());
    printSummary("bare", b, bareSamples.size());
    const double timeRatio = p.probeMedian / b.probeMedian;
    const double wallRatio = p.wallMedian / b.wallMedian;
    const double rssRatio = p.rssMedianMb / b.rssMedianMb;
    std::printf("ratio program/bare: first frame %.2f (%s), wall %.2f (%s), peak RSS %.2f (%s)\n",
                timeRatio, verdict(timeRatio), wallRatio, verdict(wallRatio), rssRatio,
                verdict(rssRatio));
    std::printf("ratio program/bare of CPU time: %.2f\n", p.cpuMedian / b.cpuMedian);
    std::printf("(peak RSS floor: this bench's own peak RSS is %.1f MB)\n",
                self.ru_maxrss / 1024.0);
    return 0;
}
