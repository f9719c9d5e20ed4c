// The search and the report through the real driver, with a scripted codec
// whose encode sizes depend on the edge and the quality.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "image_geometry.hpp"
#include "run.hpp"
#include "temp_dir.hpp"

namespace ombri_image {
namespace {

struct FakeCodec : ImageSizes {
  static inline PixelSize stored;
  static inline std::function<std::size_t(std::uint32_t edge, double quality)> encodedSize;
  static inline std::vector<std::uint32_t> renders;
  static inline std::vector<double> encodes;

  explicit FakeCodec(const std::vector<std::uint8_t>&) {
    sourceWidth = stored.width;
    sourceHeight = stored.height;
    displayWidth = stored.width;
    displayHeight = stored.height;
  }
  void render(std::uint32_t edge) {
    renders.push_back(edge);
    const PixelSize size = targetSize({displayWidth, displayHeight}, edge);
    width = size.width;
    height = size.height;
    currentEdge = edge;
  }
  // Each byte of the JPEG is the quality in hundredths, so the test sees
  // which encode was written.
  std::vector<std::uint8_t> encode(double quality, std::uint64_t budget) {
    encodes.push_back(quality);
    const std::size_t size = encodedSize(currentEdge, quality);
    if (size > budget) return {};
    return std::vector<std::uint8_t>(size, static_cast<std::uint8_t>(quality * 100 + 0.5));
  }

  std::uint32_t currentEdge = 0;
};

class Search : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeCodec::renders.clear();
    FakeCodec::encodes.clear();
    input = dir.write("in.jpg", {0xFF, 0xD8, 0xFF, 0xE0});
    output = dir / "out.jpg";
  }

  int runWith(PixelSize source, std::uint64_t budget, std::optional<std::uint32_t> maxEdge = std::nullopt) {
    FakeCodec::stored = source;
    std::vector<std::filesystem::path> args = {"--input", input,         "--output",
                                               output,    "--max-bytes", std::to_string(budget)};
    if (maxEdge) {
      args.emplace_back("--max-edge");
      args.emplace_back(std::to_string(*maxEdge));
    }
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = run<FakeCodec>(args);
    stdoutText = ::testing::internal::GetCapturedStdout();
    stderrText = ::testing::internal::GetCapturedStderr();
    return status;
  }

  std::vector<std::uint8_t> written() const {
    std::ifstream file(output, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
  }

  test_support::TempDir dir;
  std::filesystem::path input;
  std::filesystem::path output;
  std::string stdoutText;
  std::string stderrText;
};

TEST_F(Search, BestQualityFitsWithOneEncode) {
  FakeCodec::encodedSize = [](std::uint32_t, double) { return 1000; };
  ASSERT_EQ(runWith({4032, 3024}, 1000), 0) << stderrText;
  EXPECT_EQ(FakeCodec::renders, std::vector<std::uint32_t>{1800});
  EXPECT_EQ(FakeCodec::encodes, std::vector<double>{0.82});
  EXPECT_EQ(written(), std::vector<std::uint8_t>(1000, 82));
  EXPECT_EQ(stderrText, "");
  EXPECT_TRUE(
      stdoutText.starts_with(R"({"version":1,"status":"ok","mime":"image/jpeg","sourceWidth":4032,"sourceHeight":3024,)"
                             R"("displayWidth":4032,"displayHeight":3024,"width":1800,"height":1350,"bytes":1000,)"))
      << stdoutText;
  EXPECT_NE(stdoutText.find(R"("renderAttempts":1,"encodeAttempts":1,"userCpuMs":)"), std::string::npos);
  EXPECT_TRUE(stdoutText.ends_with("}}\n"));
}

TEST_F(Search, OnlyTheFloorFitsAfterNineEncodes) {
  FakeCodec::encodedSize = [](std::uint32_t, double quality) { return quality < 0.31 ? 500 : 501; };
  ASSERT_EQ(runWith({1000, 800}, 500), 0) << stderrText;
  EXPECT_EQ(FakeCodec::renders, std::vector<std::uint32_t>{1000});
  EXPECT_EQ(FakeCodec::encodes, (std::vector<double>{0.82, 0.30, 0.74, 0.66, 0.58, 0.50, 0.42, 0.34, 0.32}));
  EXPECT_EQ(written(), std::vector<std::uint8_t>(500, 30));
  EXPECT_NE(stdoutText.find(R"("width":1000,"height":800,"bytes":500,)"), std::string::npos);
  EXPECT_NE(stdoutText.find(R"("renderAttempts":1,"encodeAttempts":9,)"), std::string::npos);
}

TEST_F(Search, FirstFittingMiddleQualityWins) {
  FakeCodec::encodedSize = [](std::uint32_t, double quality) { return quality < 0.6 ? 100 : 900; };
  ASSERT_EQ(runWith({1000, 800}, 100), 0) << stderrText;
  EXPECT_EQ(FakeCodec::encodes, (std::vector<double>{0.82, 0.30, 0.74, 0.66, 0.58}));
  EXPECT_EQ(written(), std::vector<std::uint8_t>(100, 58));
}

TEST_F(Search, ShrinksUntilASizeFits) {
  FakeCodec::encodedSize = [](std::uint32_t edge, double) { return edge > 800 ? 5000 : 10; };
  ASSERT_EQ(runWith({3000, 2000}, 100), 0) << stderrText;
  EXPECT_EQ(FakeCodec::renders, (std::vector<std::uint32_t>{1800, 1350, 1012, 759}));
  EXPECT_EQ(FakeCodec::encodes.size(), 7u);
  EXPECT_NE(stdoutText.find(R"("width":759,"height":506,"bytes":10,)"), std::string::npos);
}

TEST_F(Search, NothingFitsAtTheDefaultEdge) {
  FakeCodec::encodedSize = [](std::uint32_t, double) { return 5000; };
  EXPECT_EQ(runWith({4032, 3024}, 100), 6);
  EXPECT_EQ(FakeCodec::renders, (std::vector<std::uint32_t>{1800, 1350, 1012, 759, 569, 426, 384}));
  EXPECT_EQ(FakeCodec::encodes.size(), 14u);
  EXPECT_EQ(stdoutText, "");
  EXPECT_EQ(stderrText, R"({"version":1,"status":"error","code":"output_budget_unreachable"})"
                        "\n");
  EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(Search, EdgesFromTheLargestMaxEdge) {
  FakeCodec::encodedSize = [](std::uint32_t, double) { return 5000; };
  EXPECT_EQ(runWith({8000, 8000}, 100, 8192), 6);
  EXPECT_EQ(FakeCodec::renders,
            (std::vector<std::uint32_t>{8000, 6000, 4500, 3375, 2531, 1898, 1423, 1067, 800, 600, 450, 384}));
  FakeCodec::renders.clear();
  EXPECT_EQ(runWith({10000, 6000}, 100, 8192), 6);
  EXPECT_EQ(FakeCodec::renders,
            (std::vector<std::uint32_t>{8192, 6144, 4608, 3456, 2592, 1944, 1458, 1093, 819, 614, 460, 384}));
}

TEST_F(Search, SmallPicturesRenderOnce) {
  FakeCodec::encodedSize = [](std::uint32_t, double) { return 5000; };
  EXPECT_EQ(runWith({300, 200}, 100), 6);
  EXPECT_EQ(FakeCodec::renders, std::vector<std::uint32_t>{300});
  FakeCodec::renders.clear();
  EXPECT_EQ(runWith({3000, 2000}, 100, 200), 6);
  EXPECT_EQ(FakeCodec::renders, std::vector<std::uint32_t>{200});
}

TEST_F(Search, EncodeLandingOnTheBudgetFits) {
  FakeCodec::encodedSize = [](std::uint32_t, double quality) { return quality > 0.8 ? 1001 : 1000; };
  ASSERT_EQ(runWith({100, 100}, 1000), 0);
  EXPECT_EQ(FakeCodec::encodes, (std::vector<double>{0.82, 0.30, 0.74}));
}

}  // namespace
}  // namespace ombri_image
