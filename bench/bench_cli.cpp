// Runs the built orv4120. Start-up to the first byte on the wire of "orv4120 say" with a device
// path (a pseudo-terminal); the time a run takes to give up on a COMn that stands for no device
// next to one on a missing path (the difference is reading the system's port list); and start to
// exit of a stop frame answered by orv4120-board at 9600 baud, side by side with a three-line
// pyserial script that does the same (BM_StopToExit/pyserial).
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
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

pid_t spawnQuiet(std::vector<std::string> arguments, const char *program = ORV_CLI)
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
    if (posix_spawnp(&pid, program, &actions, nullptr, argv.data(), environ) != 0)
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

// orv4120-board on its pseudo-terminal at its default 9600 baud, answering at once.
class BoardProgram
{
public:
    BoardProgram()
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char *argv[] = {const_cast<char *>(ORV_BOARD), const_cast<char *>("--quiet"),
            const_cast<char *>("--speech-scale"), const_cast<char *>("0"), nullptr};
        if (posix_spawn(&m_pid, ORV_BOARD, &actions, nullptr, argv, environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        char line[256] = {};
        pollfd fd {out[0], POLLIN, 0};
        if (m_pid > 0 && poll(&fd, 1, 5000) == 1) {
            const ssize_t n = read(out[0], line, sizeof line - 1);
            m_path.assign(line, size_t(n > 0 ? n : 0));
            while (!m_path.empty() && (m_path.back() == '\n' || m_path.back() == '\r'))
                m_path.pop_back();
        }
        close(out[0]);
        usleep(500 * 1000);   // past its power-up answer
    }
    ~BoardProgram()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    const std::string &path() const { return m_path; }

private:
    pid_t m_pid = -1;
    std::string m_path;
};

// Start to exit of a program that sends stop (FD 00 01 02) to the board and ends as asked.
void stopToExit(benchmark::State &state, std::vector<std::string> arguments, const char *program)
{
    BoardProgram board;
    if (board.path().empty()) {
        state.SkipWithError("orv4120-board did not start");
        return;
    }
    for (std::string &a : arguments) {
        if (a == "PORT")
            a = board.path();
    }
    for (auto _ : state) {
        const auto start = Clock::now();
        const pid_t pid = spawnQuiet(arguments, program);
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)
            || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the run failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}

const char *const kPyserialScript = "import serial, sys\n"
                                    "port = serial.Serial(sys.argv[1], 9600, timeout=2)\n"
                                    "port.write(bytes.fromhex('FD 00 01 02')); port.read(1)\n";

BENCHMARK_CAPTURE(
    stopToExit, pyserial, {"/usr/bin/python3", "-c", kPyserialScript, "PORT"}, "/usr/bin/python3")
    ->UseManualTime()
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(stopToExit, orv4120, {ORV_CLI, "stop", "--port", "PORT"}, ORV_CLI)
    ->UseManualTime()
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(stopToExit, orv4120_quiet, {ORV_CLI, "stop", "-q", "--port", "PORT"}, ORV_CLI)
    ->UseManualTime()
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(
    stopToExit, orv4120_no_wait, {ORV_CLI, "stop", "--no-wait", "--port", "PORT"}, ORV_CLI)
    ->UseManualTime()
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);

}   // namespace

BENCHMARK_MAIN();
