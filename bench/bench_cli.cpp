// Runs the built orv4120. Start-up to the first byte on the wire of "orv4120 say" with a device
// path (a pseudo-terminal), and the time a run takes to give up on a COMn that stands for no
// device next to one on a missing path: the difference is reading the system's port list.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawnQuiet(std::vector<std::string> arguments)
{
    std::vector<char *> argv;
    for (std::string &a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, ORV_CLI, &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void BM_SayToFirstByte(benchmark::State &state)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const std::string slave = ptsname(master);
    const int keeper = open(slave.c_str(), O_RDWR | O_NOCTTY);   // raw, held open throughout
    termios raw {};
    tcgetattr(keeper, &raw);
    cfmakeraw(&raw);
    tcsetattr(keeper, TCSANOW, &raw);
    for (auto _ : state) {
        const auto start = Clock::now();
        const pid_t pid =
            spawnQuiet({ORV_CLI, "say", "--port", slave, "--baud", "115200", "--no-wait", "你好"});
        pollfd fd {master, POLLIN, 0};
        const bool got = pid > 0 && poll(&fd, 1, 5000) == 1;
        const auto firstByte = Clock::now();
        char buffer[256];
        while (got && poll(&fd, 1, 50) == 1 && read(master, buffer, sizeof buffer) > 0) { }
        int status = 0;
        if (pid > 0)
            waitpid(pid, &status, 0);
        if (!got) {
            state.SkipWithError("no byte on the wire");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(firstByte - start).count());
    }
    close(keeper);
    close(master);
}
BENCHMARK(BM_SayToFirstByte)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

// Time to the exit of a run that cannot open its port.
void exitTime(benchmark::State &state, const char *port)
{
    for (auto _ : state) {
        const auto start = Clock::now();
        const pid_t pid = spawnQuiet({ORV_CLI, "stop", "--port", port});
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid) {
            state.SkipWithError("cannot run orv4120");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}

void BM_MissingPath(benchmark::State &state)
{
    exitTime(state, "/dev/orv4120-none");
}
BENCHMARK(BM_MissingPath)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

void BM_ComNumberListsPorts(benchmark::State &state)
{
    exitTime(state, "COM20");
}
BENCHMARK(BM_ComNumberListsPorts)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

}   // namespace

BENCHMARK_MAIN();
