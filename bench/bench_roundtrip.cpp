// Round trip of "get time" through lintelhost on one TCP connection, against redis-server's
// PING measured the same way in the same run (redis is the baseline: a mature single-line
// request/response server on the same loopback). Each benchmark reports the median and the
// 99th percentile of its round trips in microseconds; the lintelhost one also their ratios to
// redis's (target: at most 2).
//
// --module=PATH chooses the module lintelhost loads (default: the camera module).
// bench/roundtrip installs redis-server when it is missing and runs this program.

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

std::string modulePath = CAMERA_MODULE_PATH;

double redisMedian = 0, redisP99 = 0;

// A child process, killed at the end.
class Child {
public:
    bool Spawn(const std::vector<std::string>& args, bool pipeStdout) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int fds[2] = {-1, -1};
        if (pipeStdout) {
            if (pipe(fds) != 0)
                return false;
            posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
            posix_spawn_file_actions_addclose(&actions, fds[0]);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        }
        const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (pipeStdout) {
            close(fds[1]);
            out = fds[0];
        }
        if (failed != 0)
            pid = -1;
        return failed == 0;
    }
    // The first line of its standard output.
    std::string FirstLine() {
        std::string line;
        char c;
        while (read(out, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0)
            close(out);
    }

private:
    pid_t pid = -1;
    int out = -1;
};

int Connect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// Sends the request and reads until the reply ends with `end`.
bool RoundTrip(int fd, const std::string& request, const std::string& end, std::string& buffer) {
    if (write(fd, request.data(), request.size()) != ssize_t(request.size()))
        return false;
    buffer.clear();
    char chunk[4096];
    while (buffer.size() < end.size() ||
           buffer.compare(buffer.size() - end.size(), end.size(), end) != 0) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffer.append(chunk, size_t(n));
    }
    return true;
}

// Times every round trip of the loop; reports median and 99th percentile in microseconds.
void Measure(benchmark::State& state, int fd, const std::string& request, const std::string& end,
             double& median, double& p99) {
    std::vector<double> micros;
    micros.reserve(100000);
    std::string buffer;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!RoundTrip(fd, request, end, buffer)) {
            state.SkipWithError("the connection broke");
            return;
        }
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(micros.begin(), micros.end());
    median = micros[micros.size() / 2];
    p99 = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters["median_us"] = median;
    state.counters["p99_us"] = p99;
}

void BM_RedisPing(benchmark::State& state) {
    const int port = FreePort();
    Child redis;
    if (!redis.Spawn({"redis-server", "--port", std::to_string(port), "--bind", "127.0.0.1",
                      "--save", "", "--appendonly", "no"},
                     false)) {
        state.SkipWithError("redis-server is not installed (bench/roundtrip installs it)");
        return;
    }
    int fd = -1;
    for (int i = 0; i < 500 && fd < 0; ++i) {
        fd = Connect(port);
        if (fd < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (fd < 0) {
        state.SkipWithError("redis-server did not start");
        return;
    }
    Measure(state, fd, "PING\r\n", "+PONG\r\n", redisMedian, redisP99);
    close(fd);
}

void BM_LintelhostGetTime(benchmark::State& state) {
    // The host folder alone in one of its own: a new camera folder is seeded from the
    // installations beside it.
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("bench_roundtrip." + std::to_string(getpid()));
    const std::string directory = (root / "host").string();
    std::filesystem::create_directories(directory);
    double median = 0, p99 = 0;
    {
        Child host;
        if (!host.Spawn(
                {LINTELHOST_PATH, "--dir", directory, "--port", "0", "--module", modulePath},
                true)) {
            state.SkipWithError("lintelhost did not start");
            return;
        }
        const std::string line = host.FirstLine();
        const size_t colon = line.rfind(':');
        const int fd = line.rfind("lintelhost: listening on", 0) == 0 && colon != std::string::npos
                           ? Connect(std::atoi(line.c_str() + colon + 1))
                           : -1;
        if (fd < 0) {
            state.SkipWithError(("lintelhost did not serve " + modulePath).c_str());
        } else {
            Measure(state, fd, "1 get time\n", "0001\tready\r\n", median, p99);
            close(fd);
        }
    }
    std::filesystem::remove_all(root);
    if (redisMedian > 0) {
        state.counters["ratio_median"] = median / redisMedian;
        state.counters["ratio_p99"] = p99 / redisP99;
    }
}

// Redis first: the lintelhost benchmark reports its ratios to it.
BENCHMARK(BM_RedisPing)->Iterations(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LintelhostGetTime)->Iterations(20000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--module=", 9) == 0)
            modulePath = argv[i] + 9;
        else
            rest.push_back(argv[i]);
    }
    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    std::printf("lintelhost module: %s\n", modulePath.c_str());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
