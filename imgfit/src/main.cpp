#include <csignal>
#include <filesystem>
#include <vector>

#include "run.hpp"
#include "vips_codec.hpp"

int main(int argc, char** argv) {
  // A parent that stopped reading must see "metadata_write_failed", not a death by signal.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::filesystem::path> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return ombri_image::run<ombri_image::VipsCodec>(args);
}
