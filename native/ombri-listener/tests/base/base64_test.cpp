#include "base/base64.hpp"

#include <gtest/gtest.h>

#include <random>

#include "audio_reference.hpp"

namespace ombri {
namespace {

TEST(Base64, MatchesPythonForEveryPaddingAndAllByteValues) {
  test::TempDir dir;
  std::mt19937 engine(7);
  std::vector<std::vector<unsigned char>> inputs;
  for (std::size_t size : {0, 1, 2, 3, 4, 5, 6, 7, 256, 12000, 12001, 12002}) {
    std::vector<unsigned char> bytes(size);
    for (auto& b : bytes) b = static_cast<unsigned char>(engine());
    inputs.push_back(bytes);
  }
  std::vector<unsigned char> every_value(256);
  for (int i = 0; i < 256; ++i) every_value[i] = static_cast<unsigned char>(i);
  inputs.push_back(every_value);

  for (const auto& bytes : inputs) {
    std::string text = "kept:";
    append_base64(text, bytes);
    EXPECT_EQ(text, "kept:" + test::reference_base64(dir, bytes)) << bytes.size();
  }
}

}  // namespace
}  // namespace ombri
