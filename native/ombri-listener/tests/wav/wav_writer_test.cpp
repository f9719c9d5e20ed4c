#include "wav/wav_writer.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "test_support.hpp"

namespace ombri {
namespace {

using test::read_bytes;
using test::read_with_sndfile;
using test::TempDir;

std::uint32_t u32_at(const std::vector<unsigned char>& bytes, std::size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | std::uint32_t{bytes[offset + 3]} << 24;
}

TEST(WavWriter, PlainHeaderBytesAndSamples) {
  TempDir dir;
  const auto path = dir.file("a.wav");
  auto writer = WavWriter::create(path, 2, 48000);
  ASSERT_TRUE(writer) << writer.error();
  // A valid empty WAV from the start.
  EXPECT_EQ(read_bytes(path).size(), 44u);
  EXPECT_EQ(u32_at(read_bytes(path), 4), 36u);
  EXPECT_EQ(u32_at(read_bytes(path), 40), 0u);
  EXPECT_EQ(read_with_sndfile(path).samples.size(), 0u);

  std::vector<short> samples;
  for (int i = 0; i < 10000; ++i) samples.push_back(static_cast<short>(i * 7 - 32768));
  for (short s : samples) ASSERT_TRUE(writer->write_sample(s));
  ASSERT_TRUE(writer->finalize());

  const auto bytes = read_bytes(path);
  const unsigned char expected_header[36] = {'R',  'I',  'F', 'F', 0,    0,    0,    0, 'W', 'A', 'V', 'E',
                                             'f',  'm',  't', ' ', 16,   0,    0,    0, 1,   0,   2,   0,
                                             0x80, 0xBB, 0,   0,   0x00, 0xEE, 0x02, 0, 4,   0,   16,  0};
  ASSERT_EQ(bytes.size(), 44u + 20000u);
  EXPECT_EQ(std::memcmp(bytes.data() + 8, expected_header + 8, 28), 0);
  EXPECT_EQ(u32_at(bytes, 4), bytes.size() - 8);
  EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
  EXPECT_EQ(u32_at(bytes, 40), 20000u);

  const auto read = read_with_sndfile(path);
  EXPECT_EQ(read.channels, 2);
  EXPECT_EQ(read.rate, 48000);
  EXPECT_EQ(read.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_EQ(read.samples, samples);
}

TEST(WavWriter, ExtensibleHeaderAboveTwoChannels) {
  TempDir dir;
  for (const std::uint16_t channels : {3, 20}) {
    const auto path = dir.file("multi.wav");
    {
      auto writer = WavWriter::create(path, channels, 16000);
      ASSERT_TRUE(writer);
      for (int i = 0; i < channels * 3; ++i) ASSERT_TRUE(writer->write_sample(static_cast<short>(i)));
      ASSERT_TRUE(writer->finalize());
    }
    const auto bytes = read_bytes(path);
    ASSERT_EQ(bytes.size(), 68u + channels * 6u);
    EXPECT_EQ(u32_at(bytes, 16), 40u);
    EXPECT_EQ(bytes[20] | bytes[21] << 8, 0xFFFE);
    EXPECT_EQ(bytes[36] | bytes[37] << 8, 22);
    EXPECT_EQ(bytes[38] | bytes[39] << 8, 16);
    EXPECT_EQ(u32_at(bytes, 40), (1u << std::min<unsigned>(channels, 18)) - 1);
    const unsigned char pcm_guid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    EXPECT_EQ(std::memcmp(bytes.data() + 44, pcm_guid, 16), 0);
    EXPECT_EQ(u32_at(bytes, 64), channels * 6u);
    EXPECT_EQ(u32_at(bytes, 4), bytes.size() - 8);

    const auto read = read_with_sndfile(path);
    EXPECT_EQ(read.channels, channels);
    EXPECT_EQ(read.samples.size(), channels * 3u);
    EXPECT_EQ(read.samples.back(), channels * 3 - 1);
  }
}

TEST(WavWriter, ReleasedWithoutFinalizeStillHasSizes) {
  TempDir dir;
  const auto path = dir.file("abandoned.wav");
  {
    auto writer = WavWriter::create(path, 1, 8000);
    ASSERT_TRUE(writer);
    for (int i = 0; i < 5000; ++i) ASSERT_TRUE(writer->write_sample(static_cast<short>(i)));
  }
  const auto bytes = read_bytes(path);
  ASSERT_EQ(bytes.size(), 44u + 10000u);
  EXPECT_EQ(u32_at(bytes, 40), 10000u);
  EXPECT_EQ(read_with_sndfile(path).samples.size(), 5000u);
}

// What a killed process leaves is the file as it stands while the writer is
// still open: its header must describe whole frames that are on disk, all of
// them once a buffer has gone out, so only what the buffer holds is lost.
TEST(WavWriter, HeaderFollowsTheFileWhileItGrows) {
  struct Case {
    std::uint16_t channels;
    std::uint32_t rate;
    std::uint32_t header;
  };
  for (const Case c : {Case{1, 8000, 44}, Case{3, 1000, 68}}) {
    SCOPED_TRACE(c.channels);
    TempDir dir;
    const auto path = dir.file("growing.wav");
    auto writer = WavWriter::create(path, c.channels, c.rate);
    ASSERT_TRUE(writer);
    const std::uint32_t frame = c.channels * 2u;
    std::uint64_t written = 0;
    std::uint32_t last_data_size = 0;
    int header_updates = 0;
    const int samples = (5 * static_cast<int>(WavWriter::kBufferBytes / 2) + 123) / c.channels * c.channels;
    for (int i = 0; i < samples; ++i) {
      ASSERT_TRUE(writer->write_sample(static_cast<short>(i)));
      written += 2;
      // Around every flush, and now and then between them.
      const auto into_buffer = written % WavWriter::kBufferBytes;
      if (into_buffer > 2 && into_buffer < WavWriter::kBufferBytes - 2 && i % 256 != 0) continue;
      const auto bytes = read_bytes(path);
      const std::uint64_t on_disk = bytes.size() - c.header;
      const std::uint32_t data_size = u32_at(bytes, c.header - 4);
      ASSERT_EQ(u32_at(bytes, 4), c.header - 8 + data_size);
      ASSERT_EQ(data_size, on_disk - on_disk % frame);
      ASSERT_LT(written - data_size, WavWriter::kBufferBytes + frame);
      header_updates += data_size != last_data_size;
      last_data_size = data_size;
    }
    EXPECT_EQ(header_updates, 5) << "once per flushed buffer";
    EXPECT_EQ(read_with_sndfile(path).samples.size(), last_data_size / 2u);
    ASSERT_TRUE(writer->finalize());
    EXPECT_EQ(u32_at(read_bytes(path), c.header - 4), static_cast<std::uint32_t>(samples * 2));
  }
}

TEST(WavWriter, EmptyFileIsValid) {
  TempDir dir;
  const auto path = dir.file("empty.wav");
  auto writer = WavWriter::create(path, 1, 44100);
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writer->finalize());
  const auto bytes = read_bytes(path);
  EXPECT_EQ(u32_at(bytes, 4), 36u);
  EXPECT_EQ(u32_at(bytes, 40), 0u);
}

TEST(WavWriter, IncompleteLastFrameFailsButKeepsSizes) {
  TempDir dir;
  const auto path = dir.file("odd.wav");
  auto writer = WavWriter::create(path, 2, 8000);
  ASSERT_TRUE(writer);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(writer->write_sample(1));
  const auto finalized = writer->finalize();
  ASSERT_FALSE(finalized);
  EXPECT_EQ(finalized.error(), "The number of samples written is not a multiple of the number of channels.");
  EXPECT_EQ(u32_at(read_bytes(path), 40), 6u);
}

TEST(WavWriter, RefusesSamplesPastTheSizeLimit) {
  TempDir dir;
  const auto path = dir.file("full.wav");
  auto writer = WavWriter::create(path, 1, 8000, 10);
  ASSERT_TRUE(writer);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(writer->write_sample(static_cast<short>(i)));
  EXPECT_FALSE(writer->write_sample(99));
  ASSERT_TRUE(writer->finalize());
  const auto bytes = read_bytes(path);
  EXPECT_EQ(bytes.size(), 54u);
  EXPECT_EQ(u32_at(bytes, 40), 10u);
  EXPECT_EQ(WavWriter::max_data_bytes(2), 0xFFFFFFFFu - 36u);
  EXPECT_EQ(WavWriter::max_data_bytes(3), 0xFFFFFFFFu - 60u);
}

TEST(WavWriter, SizeLimitKeepsWholeFrames) {
  struct Case {
    std::uint16_t channels;
    std::uint64_t limit;
    std::size_t accepted;
  };
  const Case cases[] = {{2, 10, 4}, {3, 13, 6}, {3, 12, 6}};
  TempDir dir;
  for (const auto& c : cases) {
    const auto path = dir.file("full.wav");
    auto writer = WavWriter::create(path, c.channels, 8000, c.limit);
    ASSERT_TRUE(writer);
    std::size_t accepted = 0;
    while (accepted < 100 && writer->write_sample(7)) ++accepted;
    EXPECT_EQ(accepted, c.accepted) << c.channels << " channels, limit " << c.limit;
    ASSERT_TRUE(writer->finalize());
    EXPECT_EQ(read_with_sndfile(path).samples.size(), c.accepted);
  }
}

// A flush that fails at finalisation still leaves sizes that describe what
// reached the file. The child process gets a file size limit of its own.
TEST(WavWriter, FailedFinalFlushStillWritesTheSizes) {
  TempDir dir;
  const auto path = dir.file("cut.wav");
  constexpr std::uint32_t kRoom = 8192 + 400;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{44 + kRoom, 44 + kRoom};
    setrlimit(RLIMIT_FSIZE, &limit);
    auto writer = WavWriter::create(path, 1, 8000);
    if (!writer) _exit(2);
    for (int i = 0; i < 4500; ++i)
      if (!writer->write_sample(static_cast<short>(i))) _exit(3);
    const auto finalized = writer->finalize();
    _exit(!finalized && finalized.error() == "File too large (os error 27)" ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  const auto bytes = read_bytes(path);
  ASSERT_EQ(bytes.size(), 44u + kRoom);
  EXPECT_EQ(u32_at(bytes, 4), 36u + kRoom);
  EXPECT_EQ(u32_at(bytes, 40), kRoom);
  const auto read = read_with_sndfile(path);
  ASSERT_EQ(read.samples.size(), kRoom / 2);
  EXPECT_EQ(read.samples.back(), static_cast<short>(kRoom / 2 - 1));
}

// A disk that fills inside a frame and frees again: the file keeps whole
// frames only, and after the gap every channel is still in its place. The
// child process gets a file size limit of its own, which it then lifts.
TEST(WavWriter, WritingResumesOnAWholeFrameAfterAFailedWrite) {
  TempDir dir;
  const auto path = dir.file("gap.wav");
  constexpr int kChannels = 3;
  constexpr std::uint32_t kRoom = 8192 + 1001;  // ends inside a frame
  const auto sample = [](int frame, int channel) { return static_cast<short>(channel * 10000 + frame); };
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{68 + kRoom, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &limit);
    auto writer = WavWriter::create(path, kChannels, 8000);
    if (!writer) _exit(2);
    bool failed = false;
    for (int frame = 0; frame < 6000; ++frame) {
      if (frame == 4000) {
        limit.rlim_cur = RLIM_INFINITY;
        setrlimit(RLIMIT_FSIZE, &limit);
      }
      for (int c = 0; c < kChannels; ++c) failed |= !writer->write_sample(sample(frame, c));
    }
    _exit(failed && writer->finalize() ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  const auto bytes = read_bytes(path);
  const std::uint32_t data = u32_at(bytes, 64);
  EXPECT_EQ(data % (2 * kChannels), 0u);
  EXPECT_EQ(bytes.size(), 68u + data);
  EXPECT_EQ(u32_at(bytes, 4), 60u + data);
  const auto read = read_with_sndfile(path);
  ASSERT_EQ(read.channels, kChannels);
  ASSERT_EQ(read.samples.size(), data / 2);
  const std::size_t frames = read.samples.size() / kChannels;
  const std::size_t before_gap = kRoom / (2 * kChannels);
  ASSERT_GT(frames, before_gap);
  ASSERT_LT(frames, 6000u);
  for (std::size_t f = 0; f < frames; ++f) {
    const int first = read.samples[f * kChannels];
    for (int c = 0; c < kChannels; ++c)
      ASSERT_EQ(read.samples[f * kChannels + c], static_cast<short>(c * 10000 + first)) << "frame " << f;
    // Frames in order up to the gap, and one unbroken run after it.
    const int previous = f == 0 ? -1 : read.samples[(f - 1) * kChannels];
    if (f != before_gap) {
      ASSERT_EQ(first, previous + 1) << "frame " << f;
    }
  }
}

// The name is replaced by a new file, never opened or followed: a FIFO would
// block the open for ever, and a link could lead anywhere, the listener's own
// standard output included.
TEST(WavWriter, CreateReplacesWhateverHasTheName) {
  namespace fs = std::filesystem;
  struct Case {
    const char* name;
    void (*make)(const std::string& path, const std::string& elsewhere);
  };
  const Case cases[] = {
      {"nothing", [](const std::string&, const std::string&) {}},
      {"a file", [](const std::string& path, const std::string&) { std::ofstream(path) << "old"; }},
      {"a FIFO", [](const std::string& path, const std::string&) { ASSERT_EQ(mkfifo(path.c_str(), 0666), 0); }},
      {"a link to a file",
       [](const std::string& path, const std::string& elsewhere) {
         std::ofstream(elsewhere) << "old";
         fs::create_symlink(elsewhere, path);
       }},
      {"a dangling link",
       [](const std::string& path, const std::string& elsewhere) { fs::create_symlink(elsewhere, path); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const auto path = dir.file("audio-mic.wav");
    const auto elsewhere = dir.file("elsewhere");
    c.make(path, elsewhere);
    {
      auto writer = WavWriter::create(path, 1, 8000);
      ASSERT_TRUE(writer) << writer.error();
      ASSERT_TRUE(writer->write_sample(5));
      ASSERT_TRUE(writer->finalize());
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
    EXPECT_EQ(read_with_sndfile(path).samples, std::vector<short>{5});
    // A link's target is left as it was, and no temporary file stays beside the name.
    std::vector<std::string> left = {"audio-mic.wav"};
    if (fs::exists(elsewhere)) {
      EXPECT_EQ(read_bytes(elsewhere), (std::vector<unsigned char>{'o', 'l', 'd'}));
      left.push_back("elsewhere");
    }
    EXPECT_EQ(test::names_in(dir.path()), left);
  }
}

// A failed create leaves neither the name nor a temporary file.
TEST(WavWriter, CreateFailures) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("a-directory.wav"));
  struct Case {
    std::string path;
    std::uint16_t channels;
    const char* error;
  };
  const Case cases[] = {
      {"/nonexistent-dir/x.wav", 1, "No such file or directory (os error 2)"},
      {dir.file("none.wav"), 0, "A WAV file needs at least one channel."},
      {dir.file("a-directory.wav"), 1, "Is a directory (os error 21)"},
  };
  for (const auto& c : cases) {
    auto writer = WavWriter::create(c.path, c.channels, 8000);
    ASSERT_FALSE(writer);
    EXPECT_EQ(writer.error(), c.error);
  }
  EXPECT_EQ(test::names_in(dir.path()), std::vector<std::string>{"a-directory.wav"});
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("a-directory.wav")));
}

}  // namespace
}  // namespace ombri
