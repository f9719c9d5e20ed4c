#include "system_audio/tap_io_proc.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

namespace ombri {
namespace {

using hal::AudioBuffer;
using hal::AudioBufferList;

struct Tap {
  explicit Tap(std::uint64_t format, std::size_t ring_capacity = kSampleRingCapacity)
      : ring(make_sample_ring(ring_capacity)),
        ctx{ring.producer, std::vector<float>(kTapScratchSamples, 0.0f), format} {}

  // One cycle with `bytes` as the first buffer (at `offset` into an aligned store).
  hal::OSStatus deliver(const void* bytes, std::uint32_t size, std::size_t offset = 0, void* client = nullptr) {
    store.assign(size + offset + 16, 0);
    auto* base = store.data() + (16 - reinterpret_cast<std::uintptr_t>(store.data()) % 16) % 16;
    std::memcpy(base + offset, bytes, size);
    AudioBuffer buffers[2] = {{1, size, base + offset}, {1, 8, extra}};
    const AudioBufferList list{2, buffers};
    return tap_io_proc(1, nullptr, &list, nullptr, nullptr, nullptr, client ? client : &ctx);
  }

  std::vector<float> taken() {
    std::vector<float> out(kSampleRingCapacity);
    out.resize(ring.consumer.pop(out.data(), out.size()));
    return out;
  }

  SampleRing ring;
  Ctx ctx;
  std::vector<unsigned char> store;
  float extra[2] = {0.75f, 0.75f};  // a second buffer, never read
};

template <class T>
std::vector<float> converted(std::uint64_t format, std::vector<T> samples) {
  Tap tap(format);
  EXPECT_EQ(tap.deliver(samples.data(), static_cast<std::uint32_t>(samples.size() * sizeof(T))), 0);
  return tap.taken();
}

TEST(TapIoProc, ConvertsEachSampleFormat) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(converted<float>(1, {0.5f, -2.0f, 1e-3f}), (std::vector<float>{0.5f, -2.0f, 1e-3f}));
  auto passed_nan = converted<float>(1, {nan});
  ASSERT_EQ(passed_nan.size(), 1u);
  EXPECT_TRUE(std::isnan(passed_nan[0]));
  EXPECT_EQ(converted<double>(2, {0.1, -1.5, 1.0 + 1e-12}), (std::vector<float>{static_cast<float>(0.1), -1.5f, 1.0f}));
  EXPECT_EQ(converted<std::int16_t>(3, {-32768, 32767, 0, 16384}),
            (std::vector<float>{-1.000030517578125f, 1.0f, 0.0f, 16384.0f / 32767.0f}));
  const std::vector<std::int32_t> ints{std::numeric_limits<std::int32_t>::min(),
                                       std::numeric_limits<std::int32_t>::max(), 1 << 30};
  const std::vector<float> int_values{-1.0f, 1.0f, 0.5f};
  EXPECT_EQ(converted<std::int32_t>(4, ints), int_values);
  EXPECT_EQ(converted<std::int32_t>(7, ints), int_values);  // an unknown format value reads as 32-bit integers
  EXPECT_TRUE(converted<float>(0, {0.5f, 0.25f}).empty());  // "other": never a sample
}

TEST(TapIoProc, IgnoresPartialSamplesUnalignedDataAndEmptyBuffers) {
  Tap tap(3);
  const std::int16_t samples[] = {100, 200, 300};
  EXPECT_EQ(tap.deliver(samples, 5), 0);  // odd byte count: the last byte is left
  EXPECT_EQ(tap.taken(), (std::vector<float>{100 / 32767.0f, 200 / 32767.0f}));
  EXPECT_EQ(tap.deliver(samples, 6, 1), 0);  // not aligned to 2 bytes
  EXPECT_EQ(tap.deliver(samples, 1), 0);     // not one whole sample
  EXPECT_EQ(tap.deliver(samples, 0), 0);
  EXPECT_TRUE(tap.taken().empty());

  Tap wide(2);
  const double values[] = {0.25, 0.5};
  EXPECT_EQ(wide.deliver(values, 16, 4), 0);  // 4-byte aligned is not enough for doubles
  EXPECT_TRUE(wide.taken().empty());

  Tap floats(1);
  const float f[] = {0.5f, 0.25f};
  EXPECT_EQ(floats.deliver(f, 8, 2), 0);
  const AudioBufferList nothing{0, nullptr};
  EXPECT_EQ(tap_io_proc(1, nullptr, &nothing, nullptr, nullptr, nullptr, &floats.ctx), 0);
  AudioBuffer null_data{1, 8, nullptr};
  const AudioBufferList null_list{1, &null_data};
  EXPECT_EQ(tap_io_proc(1, nullptr, &null_list, nullptr, nullptr, nullptr, &floats.ctx), 0);
  EXPECT_EQ(tap_io_proc(1, nullptr, &null_list, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(floats.taken().empty());
}

TEST(TapIoProc, ConvertsLongBuffersChunkByChunk) {
  Tap tap(3);
  std::vector<std::int16_t> samples(10000);
  std::iota(samples.begin(), samples.end(), std::int16_t{-5000});
  ASSERT_EQ(tap.deliver(samples.data(), static_cast<std::uint32_t>(samples.size() * 2)), 0);
  const auto taken = tap.taken();
  ASSERT_EQ(taken.size(), samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(taken[i], samples[i] / 32767.0f) << i;
}

TEST(TapIoProc, AFullRingDropsTheNewestSamplesOfEachCycle) {
  for (const std::uint64_t format : {1u, 3u}) {
    Tap tap(format, 4500);  // full in the middle of the second chunk of a converted buffer
    std::vector<std::int16_t> ints(5000);
    std::vector<float> floats(5000);
    for (int i = 0; i < 5000; ++i) {
      ints[i] = static_cast<std::int16_t>(i);
      floats[i] = static_cast<float>(i) / 32767.0f;
    }
    const void* data = format == 1 ? static_cast<const void*>(floats.data()) : ints.data();
    const auto bytes = static_cast<std::uint32_t>(format == 1 ? 20000 : 10000);
    ASSERT_EQ(tap.deliver(data, bytes), 0);
    ASSERT_EQ(tap.deliver(data, bytes), 0);  // nothing of this one fits
    std::vector<float> some(100);
    ASSERT_EQ(tap.ring.consumer.pop(some.data(), some.size()), 100u);
    ASSERT_EQ(tap.deliver(data, bytes), 0);  // the next cycle tries again: its first 100 fit

    const auto taken = tap.taken();
    ASSERT_EQ(taken.size(), 4500u) << format;
    for (std::size_t i = 0; i < 4400; ++i) ASSERT_EQ(taken[i], floats[i + 100]) << format << " " << i;
    for (std::size_t i = 0; i < 100; ++i) ASSERT_EQ(taken[4400 + i], floats[i]) << format << " " << i;
  }
}

TEST(TapIoProc, AFullRingRefusesWholeFramesSoChannelsStayInPlace) {
  for (const std::uint64_t format : {1u, 3u}) {
    Tap tap(format, 4501);
    tap.ctx.channels = 3;
    tap.ctx.scratch.resize(1000);  // chunks of 999 samples: whole frames too
    std::vector<std::int16_t> ints(6000);
    std::vector<float> floats(6000);
    for (int i = 0; i < 6000; ++i) {
      ints[i] = static_cast<std::int16_t>(i);
      floats[i] = static_cast<float>(i) / 32767.0f;
    }
    const void* data = format == 1 ? static_cast<const void*>(floats.data()) : ints.data();
    ASSERT_EQ(tap.deliver(data, format == 1 ? 24000 : 12000), 0);
    const auto taken = tap.taken();
    ASSERT_EQ(taken.size(), 4500u) << format;  // 1500 frames; the 4501st sample would split one
    EXPECT_TRUE(std::equal(taken.begin(), taken.end(), floats.begin())) << format;
  }
}

}  // namespace
}  // namespace ombri
