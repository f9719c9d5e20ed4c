#include "processing/enhance.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <rnnoise.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "processing/enhance_framing.hpp"
#include "sample_bytes.hpp"
#include "test_support.hpp"
#include "wav_test_files.hpp"

namespace ombri {
namespace {

using test::Bytes;
using test::hand_wav_file;
using test::le16;
using test::little_endian;
using test::read_bytes;
using test::read_with_sndfile;
using test::sox_wav;
using test::TempDir;

std::vector<int> tone(std::size_t count, int amplitude, double cycles_per_sample) {
  std::vector<int> samples(count);
  for (std::size_t i = 0; i < count; ++i)
    samples[i] = static_cast<int>(std::lround(amplitude * std::sin(2 * M_PI * cycles_per_sample * i)));
  return samples;
}

TEST(EnhanceWav, FrameAndSampleCountsAtTheEdges) {
  TempDir dir;
  const struct {
    const char* name;
    int rate;
    int channels;
    std::size_t samples;
    std::uint64_t frames;
  } cases[] = {
      {"481-at-48k", 48000, 1, 481, 1},     {"480-at-48k", 48000, 1, 480, 1}, {"2-at-16k", 16000, 1, 2, 1},
      {"one-stereo-frame", 44100, 2, 2, 0}, {"no-samples", 22050, 1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto input = sox_wav(dir, std::string(c.name) + ".wav", "signed-integer", 16, c.channels, c.rate,
                               le16(tone(c.samples, 8000, 0.01)));
    const auto output = dir.file(std::string(c.name) + "-out.wav");
    auto summary = enhance_wav(input, output);
    ASSERT_TRUE(summary) << summary.error();
    EXPECT_EQ(summary->output, output);
    EXPECT_EQ(summary->frames, c.frames);
    EXPECT_EQ(summary->input_seconds, static_cast<double>(c.samples / c.channels) / c.rate);
    if (c.frames == 0) {
      EXPECT_EQ(summary->vad_mean, 0.0);
    }
    EXPECT_GE(summary->vad_mean, 0.0);
    EXPECT_LE(summary->vad_mean, 1.0);

    const auto written = read_with_sndfile(output);
    EXPECT_EQ(written.rate, 48000);
    EXPECT_EQ(written.channels, 1);
    EXPECT_EQ(written.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(written.samples.size(), c.frames * 480);
  }
}

// One signal in every sample layout, each holding the same 16-bit-scale
// values, must reach the denoiser as the same floats: the outputs are equal.
TEST(EnhanceWav, EverySampleLayoutGivesTheSameOutput) {
  TempDir dir;
  auto signal = tone(4000, 20000, 0.013);
  for (auto& s : signal) s = s / 256 * 256;  // representable in 8 bits too

  std::vector<std::int64_t> as8, as16, as24, as32;
  Bytes as_float;
  for (int s : signal) {
    as8.push_back(s / 256 + 128);
    as16.push_back(s);
    as24.push_back(std::int64_t{s} * 256);
    as32.push_back(std::int64_t{s} * 65536);
    const float f = static_cast<float>(s) / 32768.0f;
    unsigned char bytes[4];
    std::memcpy(bytes, &f, 4);
    as_float.insert(as_float.end(), bytes, bytes + 4);
  }
  // The same signal in stereo: left and right differ, their mean is the signal.
  std::vector<std::int64_t> stereo;
  for (int s : signal) {
    stereo.push_back(s + 1000);
    stereo.push_back(s - 1000);
  }

  const struct {
    const char* name;
    std::string path;
  } inputs[] = {
      {"16-bit", sox_wav(dir, "16.wav", "signed-integer", 16, 1, 16000, little_endian(as16, 2))},
      {"8-bit", sox_wav(dir, "8.wav", "unsigned-integer", 8, 1, 16000, little_endian(as8, 1))},
      {"24-bit", sox_wav(dir, "24.wav", "signed-integer", 24, 1, 16000, little_endian(as24, 3))},
      {"32-bit", sox_wav(dir, "32.wav", "signed-integer", 32, 1, 16000, little_endian(as32, 4))},
      {"float", sox_wav(dir, "f.wav", "floating-point", 32, 1, 16000, as_float)},
      {"stereo", sox_wav(dir, "st.wav", "signed-integer", 16, 2, 16000, little_endian(stereo, 2))},
  };
  std::vector<short> reference;
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.name);
    const auto output = input.path + ".out.wav";
    auto summary = enhance_wav(input.path, output);
    ASSERT_TRUE(summary) << summary.error();
    EXPECT_EQ(summary->input_seconds, 0.25);
    EXPECT_EQ(summary->frames, 25u);  // 11997 interpolated samples, the last frame zero-filled
    const auto samples = read_with_sndfile(output).samples;
    ASSERT_EQ(samples.size(), 25u * 480);
    if (reference.empty()) {
      reference = samples;
      EXPECT_GT(*std::max_element(samples.begin(), samples.end()), 1000);
    } else {
      EXPECT_EQ(samples, reference);
    }
  }
}

// At 48 kHz the frames are the input samples themselves, so RNNoise can be
// run here on the same frames: the file must hold its output, each value
// clamped and then cut toward zero, and vadMean the mean of its probabilities.
TEST(EnhanceWav, WritesTheDenoisersOutputClampedAndTruncated) {
  TempDir dir;
  std::vector<std::int64_t> loud;
  std::uint32_t seed = 7;
  for (int s : tone(1000, 32767, 0.004)) {
    seed = seed * 1664525u + 1013904223u;
    loud.push_back(std::clamp(s + static_cast<int>(seed >> 22) - 512, -32768, 32767));
  }
  const auto input = sox_wav(dir, "loud.wav", "signed-integer", 16, 1, 48000, little_endian(loud, 2));
  const auto output = dir.file("out.wav");
  auto summary = enhance_wav(input, output);
  ASSERT_TRUE(summary) << summary.error();

  // 999 interpolated samples (the last input only closes a pair): two full
  // frames and one of 39 samples and 441 zeros.
  std::vector<float> frames(3 * 480, 0.0f);
  for (std::size_t i = 0; i < 999; ++i) frames[i] = static_cast<float>(loud[i]);
  DenoiseState* denoiser = rnnoise_create(nullptr);
  std::vector<short> expected;
  double probability_sum = 0.0;
  bool fraction_seen = false;
  for (std::size_t f = 0; f < 3; ++f) {
    float denoised[480];
    probability_sum += rnnoise_process_frame(denoiser, denoised, frames.data() + f * 480);
    for (const float y : denoised) {
      fraction_seen = fraction_seen || y != std::trunc(y);
      expected.push_back(static_cast<short>(std::trunc(std::fmin(std::fmax(y, -32768.0f), 32767.0f))));
    }
  }
  rnnoise_destroy(denoiser);
  ASSERT_TRUE(fraction_seen);

  EXPECT_EQ(summary->frames, 3u);
  EXPECT_EQ(summary->vad_mean, probability_sum / 3.0);
  EXPECT_EQ(read_with_sndfile(output).samples, expected);
}

TEST(EnhanceWav, OppositeStereoSamplesMixToSilence) {
  TempDir dir;
  std::vector<std::int64_t> stereo;
  for (int s : tone(4800, 30000, 0.02)) {
    stereo.push_back(s);
    stereo.push_back(-s);
  }
  const auto input = sox_wav(dir, "in.wav", "signed-integer", 16, 2, 48000, little_endian(stereo, 2));
  const auto silent = sox_wav(dir, "zero.wav", "signed-integer", 16, 1, 48000, Bytes(4800 * 2, 0));
  ASSERT_TRUE(enhance_wav(input, dir.file("a.wav")));
  ASSERT_TRUE(enhance_wav(silent, dir.file("b.wav")));
  EXPECT_EQ(read_with_sndfile(dir.file("a.wav")).samples, read_with_sndfile(dir.file("b.wav")).samples);
}

double rms(const std::vector<short>& samples, std::size_t begin, std::size_t end) {
  double sum = 0;
  for (std::size_t i = begin; i < end; ++i) sum += static_cast<double>(samples[i]) * samples[i];
  return std::sqrt(sum / static_cast<double>(end - begin));
}

// Speech with white noise added: the pause before the speech comes out far
// quieter, while the speech keeps most of its level.
TEST(EnhanceWav, RemovesNoiseAndKeepsSpeech) {
  TempDir dir;
  const auto spoken = dir.file("spoken.wav");
  const auto clean_path = dir.file("clean.wav");
  ASSERT_EQ(std::system(("espeak-ng -w " + spoken + " 'The meeting starts at ten, please join on time.'").c_str()), 0);
  // One second of silence before and after the speech.
  ASSERT_EQ(std::system(("sox " + spoken + " -r 48000 -b 16 " + clean_path + " pad 1 1").c_str()), 0);
  const auto clean = read_with_sndfile(clean_path).samples;
  ASSERT_GT(clean.size(), 48000u * 3);

  std::vector<std::int64_t> noisy;
  std::uint32_t seed = 12345;
  for (short s : clean) {
    seed = seed * 1664525u + 1013904223u;
    const int noise = static_cast<int>(seed >> 20) - 2048;  // uniform, RMS about 1180
    noisy.push_back(std::clamp(s + noise, -32768, 32767));
  }
  const auto input = sox_wav(dir, "noisy.wav", "signed-integer", 16, 1, 48000, little_endian(noisy, 2));
  const auto output = dir.file("enhanced.wav");
  ASSERT_TRUE(enhance_wav(input, output));
  const auto enhanced = read_with_sndfile(output).samples;

  std::vector<short> noisy16(noisy.begin(), noisy.end());
  // The pause, after the denoiser has had 0.3 s to settle.
  const double noise_in = rms(noisy16, 14400, 45600);
  const double noise_out = rms(enhanced, 14400, 45600);
  const double reduction_db = 20 * std::log10(noise_in / noise_out);
  EXPECT_GT(reduction_db, 6.0) << "noise RMS " << noise_in << " -> " << noise_out;

  const std::size_t speech_end = clean.size() - 48000;
  const double speech_clean = rms(clean, 48000, speech_end);
  const double speech_out = rms(enhanced, 48000, speech_end);
  EXPECT_GT(speech_out, speech_clean * 0.5) << "speech RMS " << speech_clean << " -> " << speech_out;
}

TEST(EnhanceWav, ErrorsAndWhatTheyLeaveBehind) {
  TempDir dir;
  const auto good = sox_wav(dir, "good.wav", "signed-integer", 16, 1, 16000, le16(tone(1600, 5000, 0.01)));
  const struct {
    const char* name;
    std::string input;
    std::string output;
    std::string error;
  } cases[] = {
      {"missing input", dir.file("nope.wav"), dir.file("o1.wav"),
       "could not open input: No such file or directory (os error 2)"},
      {"0 Hz header", hand_wav_file(dir, "zero-rate.wav", {.sample_rate = 0}, le16({1, 2, 3})), dir.file("o2.wav"),
       "input has an invalid sample rate"},
      {"zero channels", hand_wav_file(dir, "no-channels.wav", {.channels = 0}, le16({1, 2})), dir.file("o3.wav"),
       "could not open input: Ill-formed WAVE file: file contains zero channels"},
      {"odd stereo data", hand_wav_file(dir, "odd.wav", {.channels = 2, .block_align = 4}, le16({1, 2, 3})),
       dir.file("o4.wav"), "could not open input: "},
      {"output directory missing", good, dir.file("no-such-dir/out.wav"),
       "could not open output: No such file or directory (os error 2)"},
      {"empty output path", good, "", "could not open output: No such file or directory (os error 2)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto summary = enhance_wav(c.input, c.output);
    ASSERT_FALSE(summary);
    EXPECT_EQ(summary.error().rfind(c.error, 0), 0u) << summary.error();
    EXPECT_FALSE(std::filesystem::exists(c.output));
  }
}

// Three whole frames are denoised before the data ends: none of it may
// reach the output, which keeps what it held, or stays absent, and no
// temporary file is left beside it.
TEST(EnhanceWav, AFailureLeavesTheOutputAsItWas) {
  TempDir dir;
  const auto input = hand_wav_file(dir, "cut.wav", {.sample_rate = 48000, .announced_data_bytes = 2 * 4000},
                                   le16(tone(1500, 5000, 0.01)));
  const auto kept = dir.file("kept.wav");
  ASSERT_TRUE(
      enhance_wav(sox_wav(dir, "other.wav", "signed-integer", 16, 1, 16000, le16(tone(800, 5000, 0.01))), kept));
  const auto before = read_bytes(kept);
  const auto names_before = test::names_in(dir.path());
  for (const std::string& output : {kept, dir.file("absent.wav")}) {
    SCOPED_TRACE(output);
    auto summary = enhance_wav(input, output);
    ASSERT_FALSE(summary);
    EXPECT_EQ(summary.error(), "read failed: Failed to read enough bytes.");
  }
  EXPECT_EQ(read_bytes(kept), before);
  EXPECT_EQ(test::names_in(dir.path()), names_before);
}

// A FIFO would block the worker for ever, a device would feed it or take its
// bytes: each is refused before anything is opened, which the FIFOs, with no
// one at their other end, would otherwise show by blocking this test. A
// directory answers as opening or creating it does, and the input is
// answered for before the output.
TEST(EnhanceWav, RefusesFilesThatAreNotRegular) {
  TempDir dir;
  const auto good = sox_wav(dir, "good.wav", "signed-integer", 16, 1, 16000, le16(tone(1600, 5000, 0.01)));
  const auto fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::symlink(fifo.c_str(), dir.file("to-fifo").c_str()), 0);
  // A device of its own: a broken check must not replace the machine's /dev/null.
  const auto device = dir.file("null");
  const bool have_device = ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  const struct {
    std::string input;
    std::string output;
    std::string error;
  } cases[] = {
      {fifo, dir.file("o1.wav"), "input is not a regular file"},
      {dir.file("to-fifo"), dir.file("o2.wav"), "input is not a regular file"},
      {"/dev/zero", dir.file("o3.wav"), "input is not a regular file"},
      {dir.file(""), dir.file("o4.wav"), "could not open input: Is a directory (os error 21)"},
      {dir.file("missing.wav"), fifo, "could not open input: No such file or directory (os error 2)"},
      {good, fifo, "output exists and is not a regular file"},
      {good, have_device ? device : fifo, "output exists and is not a regular file"},
      {good, dir.file(""), "could not open output: Is a directory (os error 21)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input + " -> " + c.output);
    auto summary = enhance_wav(c.input, c.output);
    ASSERT_FALSE(summary);
    EXPECT_EQ(summary.error(), c.error);
  }
  for (const char* name : {"o1.wav", "o2.wav", "o3.wav", "o4.wav"})
    EXPECT_FALSE(std::filesystem::exists(dir.file(name)));
}

// Naming the input as the output, by any spelling or link, must not destroy it.
TEST(EnhanceWav, RefusesToOverwriteItsInput) {
  TempDir dir;
  const auto input = sox_wav(dir, "take.wav", "signed-integer", 16, 1, 16000, le16(tone(1600, 5000, 0.01)));
  const auto original = read_bytes(input);
  ASSERT_EQ(::symlink(input.c_str(), dir.file("soft.wav").c_str()), 0);
  ASSERT_EQ(::link(input.c_str(), dir.file("hard.wav").c_str()), 0);
  const std::string dir_path = std::filesystem::path(input).parent_path().string();
  for (const std::string& output :
       {input, dir_path + "/./take.wav", dir_path + "//take.wav", dir.file("soft.wav"), dir.file("hard.wav")}) {
    SCOPED_TRACE(output);
    auto summary = enhance_wav(input, output);
    ASSERT_FALSE(summary);
    EXPECT_EQ(summary.error(), "output is the input file itself; choose another output path");
    EXPECT_EQ(read_bytes(input), original);
  }
  // Through the link the input itself is read; a separate output is fine.
  EXPECT_TRUE(enhance_wav(dir.file("soft.wav"), dir.file("out.wav")));
}

// Standard input as a regular file: the listener reads it to its end and
// exits before a worker answers, so only a direct call shows the refusal.
TEST(EnhanceWav, RefusesTheListenersOwnStandardInput) {
  TempDir dir;
  const auto input = sox_wav(dir, "take.wav", "signed-integer", 16, 1, 16000, le16(tone(1600, 5000, 0.01)));
  const auto requests = dir.file("requests.jsonl");
  std::ofstream(requests) << "{}\n";
  const int saved = ::dup(0);
  ASSERT_GE(saved, 0);
  const int file = ::open(requests.c_str(), O_RDONLY);
  ASSERT_GE(file, 0);
  ASSERT_EQ(::dup2(file, 0), 0);
  ::close(file);
  auto summary = enhance_wav(input, requests);
  ASSERT_EQ(::dup2(saved, 0), 0);
  ::close(saved);
  ASSERT_FALSE(summary);
  EXPECT_EQ(summary.error(), "output is the listener's own standard input; choose another output path");
  EXPECT_EQ(read_bytes(requests), (std::vector<unsigned char>{'{', '}', '\n'}));
}

TEST(EnhanceWav, DefaultOutputPath) {
  const struct {
    const char* input;
    const char* expected;
  } cases[] = {
      {"/meetings/m1/audio-mic.wav", "/meetings/m1/audio-mic-enhanced.wav"},
      {"audio-system.wav", "audio-system-enhanced.wav"},
      {"rec/take.2024.01.wav", "rec/take.2024.01-enhanced.wav"},
      {"rec/take", "rec/take-enhanced.wav"},
      {"rec/.hidden", "rec/.hidden-enhanced.wav"},
      {"rec/take.wav/", "rec/take-enhanced.wav"},
      {"/take.wav", "/take-enhanced.wav"},
      {"/", "audio-enhanced.wav"},
      {"rec/..", "rec/audio-enhanced.wav"},
      {"rec/\xff.wav", "rec/audio-enhanced.wav"},
      {"\xff/take.wav", "\xEF\xBF\xBD/take-enhanced.wav"},
      {"  ", "  -enhanced.wav"},
  };
  for (const auto& c : cases) EXPECT_EQ(default_output_path(c.input), c.expected) << c.input;
}

}  // namespace
}  // namespace ombri
