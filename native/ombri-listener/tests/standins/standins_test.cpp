#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "wav/wav_writer.hpp"

extern char** environ;

namespace ombri {
namespace {

struct ToolRun {
  int status = -1;
  std::string out;
};

// Runs a stand-in with extra environment entries and captures its standard output.
ToolRun run(const std::string& tool, std::vector<std::string> args, std::vector<std::string> extra_env = {}) {
  const std::string path = std::string(OMBRI_STANDINS_DIR) + "/" + tool;
  std::vector<std::string> env_text(extra_env);
  for (char** e = environ; *e; ++e) env_text.emplace_back(*e);
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  int pipe_fds[2];
  EXPECT_EQ(::pipe(pipe_fds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  ToolRun result;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
    result.out.append(buffer, static_cast<std::size_t>(n));
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(PlatformStandins, SwVersPrintsTheChosenVersion) {
  const ToolRun plain = run("sw_vers", {"-productVersion"});
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out, "15.5\n");
  const ToolRun old = run("sw_vers", {"-productVersion"}, {"OMBRI_SIM_MACOS_VERSION=13.6.7"});
  EXPECT_EQ(old.out, "13.6.7\n");
  EXPECT_EQ(run("sw_vers", {"-productVersion"}, {"OMBRI_SIM_MACOS_VERSION="}).out, "\n");
  EXPECT_NE(run("sw_vers", {}).status, 0);
  EXPECT_NE(run("sw_vers", {"-buildVersion"}).status, 0);
}

TEST(PlatformStandins, AfplayChecksItsArgumentsAndTakesTheFilesTime) {
  const auto dir = std::filesystem::temp_directory_path() / ("ombri-afplay-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string tone = (dir / "tone.wav").string();
  {
    auto writer = WavWriter::create(tone, 1, 8000);
    ASSERT_TRUE(writer.ok());
    for (int i = 0; i < 2800; ++i) ASSERT_TRUE(writer->write_sample(0).ok());  // 0.35 s
    ASSERT_TRUE(writer->finalize().ok());
  }
  std::ofstream(dir / "junk.wav") << "not a wav";
  const std::string log = (dir / "afplay.log").string();

  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(run("afplay", {"-v", "0.06", tone}, {"OMBRI_SIM_AFPLAY_LOG=" + log}).status, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(340));
  std::string logged;
  std::getline(std::ifstream(log), logged);
  EXPECT_EQ(logged, "-v\t0.06\t" + tone);

  for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                {"-v", "0.06"},
                                                                {"-v", "loud", tone},
                                                                {"-v", "-1", tone},
                                                                {tone, tone},
                                                                {"-v", "0.06", (dir / "missing.wav").string()},
                                                                {"-v", "0.06", (dir / "junk.wav").string()}})
    EXPECT_NE(run("afplay", args).status, 0) << args.size();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace ombri
