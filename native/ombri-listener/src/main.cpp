#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixture/fixture.hpp"
#include "listener/run.hpp"

namespace {

[[noreturn]] void exit_now(int status) {
  // Detached workers may still run: leave without tearing down globals under them.
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

void report_failure(const std::string& text) { std::fprintf(stderr, "ombri-listener failed: %s\n", text.c_str()); }

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> args(argv + 1, argv + argc);

  if (!args.empty() && args.front() == "--input-wav") {
    if (auto done = ombri::run_input_wav_mode(args); !done) {
      report_failure(done.error());
      exit_now(2);
    }
    exit_now(0);
  }

  if (auto done = ombri::run(); !done) {
    report_failure(done.error());
    exit_now(1);
  }
  exit_now(0);
}
