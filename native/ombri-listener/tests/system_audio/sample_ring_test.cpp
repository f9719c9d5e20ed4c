#include "system_audio/sample_ring.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <numeric>
#include <string>
#include <vector>

namespace ombri {
namespace {

std::vector<float> counting(std::size_t count, float from = 0.0f) {
  std::vector<float> values(count);
  std::iota(values.begin(), values.end(), from);
  return values;
}

long rss_anon_kib() {
  std::ifstream status("/proc/self/status");
  for (std::string key; status >> key;) {
    long kib = 0;
    if (key == "RssAnon:" && status >> kib) return kib;
  }
  return -1;
}

// A ring whose pages were committed only as the writer first reached them
// would grow the process through a whole meeting's first 21.8 s.
TEST(SampleRing, ItsStorageIsResidentFromTheStart) {
  const long before = rss_anon_kib();
  ASSERT_GE(before, 0);
  auto ring = make_sample_ring();
  EXPECT_GE(rss_anon_kib() - before, static_cast<long>(kSampleRingCapacity * sizeof(float) / 1024));
}

TEST(SampleRing, HoldsExactlyItsCapacityAndKeepsTheOldestWhenFull) {
  auto ring = make_sample_ring();
  const auto first = counting(kSampleRingCapacity - 10);
  EXPECT_EQ(ring.producer.push(first.data(), first.size()), first.size());
  // Only 10 of these fit: the first 10 offered, the rest is dropped.
  const auto more = counting(100, 1e7f);
  EXPECT_EQ(ring.producer.push(more.data(), more.size()), 10u);
  EXPECT_EQ(ring.producer.push(more.data(), more.size()), 0u);

  std::vector<float> out(kSampleRingCapacity + 5);
  ASSERT_EQ(ring.consumer.pop(out.data(), out.size()), kSampleRingCapacity);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), out.begin()));
  EXPECT_TRUE(std::equal(more.begin(), more.begin() + 10, out.begin() + static_cast<std::ptrdiff_t>(first.size())));
  EXPECT_EQ(ring.consumer.pop(out.data(), out.size()), 0u);
}

TEST(SampleRing, SamplesComeOutInOrderAcrossTheWrap) {
  auto ring = make_sample_ring(10);
  std::vector<float> out(10);
  const auto a = counting(7);
  ASSERT_EQ(ring.producer.push(a.data(), a.size()), 7u);
  ASSERT_EQ(ring.consumer.pop(out.data(), 5), 5u);
  const auto b = counting(8, 7.0f);  // wraps at the storage's end
  ASSERT_EQ(ring.producer.push(b.data(), b.size()), 8u);
  ASSERT_EQ(ring.consumer.pop(out.data(), out.size()), 10u);
  EXPECT_EQ(out, counting(10, 5.0f));
}

}  // namespace
}  // namespace ombri
