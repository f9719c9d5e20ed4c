// How many `status` request lines per second the listener answers, end to end:
// the built program reads them from a file and writes to /dev/null.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern char** environ;

namespace {

constexpr int kLines = 200'000;

std::string write_requests() {
  char path[] = "/tmp/ombri-bench-XXXXXX";
  const int fd = mkstemp(path);
  std::string all;
  for (int i = 0; i < kLines; ++i) all += "{\"id\":\"" + std::to_string(i) + "\",\"cmd\":\"status\"}\n";
  if (write(fd, all.data(), all.size()) != static_cast<ssize_t>(all.size())) std::abort();
  close(fd);
  return path;
}

void BM_StatusLines(benchmark::State& state) {
  const std::string requests = write_requests();
  for (auto _ : state) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, requests.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(OMBRI_LISTENER_BIN), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, OMBRI_LISTENER_BIN, &actions, nullptr, argv, environ) != 0) std::abort();
    int status;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  state.counters["lines_per_second"] = benchmark::Counter(
      static_cast<double>(kLines) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  std::remove(requests.c_str());
}
BENCHMARK(BM_StatusLines)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
