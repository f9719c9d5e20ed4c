#include "system_audio/silence_keeper.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>

namespace ombri {

// Carries no value: its closing is the keeper's signal to stop.
struct SilenceKeeper::Channel {
  std::mutex mutex;
  std::condition_variable closed_changed;
  bool closed = false;

  // True once closed; false when `timeout` passed first.
  bool wait_closed(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return closed_changed.wait_for(lock, timeout, [this] { return closed; });
  }
  void close() {
    std::lock_guard lock(mutex);
    closed = true;
    closed_changed.notify_all();
  }
};

namespace {

void keep_silence(const std::shared_ptr<SilenceKeeper::Channel>& channel, std::chrono::milliseconds recheck) {
  std::optional<audio_io::Stream> held;
  std::optional<std::string> current_name;
  do {
    const auto device = audio_io::default_output_device();
    std::optional<std::string> name;
    if (device)
      if (auto read = device->name()) name = std::move(*read);
    // Two absent names are equal; a present name never equals an absent one.
    if (!held || name != current_name) {
      held.reset();
      if (device) held = open_zero_stream(*device);
      current_name = std::move(name);
    }
  } while (!channel->wait_closed(recheck));
}

}  // namespace

SilenceKeeper::SilenceKeeper(std::shared_ptr<Channel> channel, std::thread thread)
    : channel_(std::move(channel)), thread_(std::move(thread)) {}

SilenceKeeper SilenceKeeper::spawn(std::chrono::milliseconds recheck) {
  auto channel = std::make_shared<Channel>();
  std::thread thread([channel, recheck] { keep_silence(channel, recheck); });
  return SilenceKeeper(std::move(channel), std::move(thread));
}

SilenceKeeper& SilenceKeeper::operator=(SilenceKeeper&& other) noexcept {
  if (this != &other) {
    SilenceKeeper ended(std::move(*this));
    channel_ = std::move(other.channel_);
    thread_ = std::move(other.thread_);
  }
  return *this;
}

SilenceKeeper::~SilenceKeeper() {
  if (channel_) channel_->close();
  if (thread_.joinable()) thread_.join();
}

SilenceKeeper spawn_silence_stream() { return SilenceKeeper::spawn(); }

std::optional<audio_io::Stream> open_zero_stream(const audio_io::Device& device) {
  const auto config = device.default_output_config();
  if (!config || config->sample_format != audio_io::SampleFormat::F32) return std::nullopt;
  auto stream = device.build_output_stream(
      {config->channels, config->sample_rate}, [](std::span<float> out) { std::fill(out.begin(), out.end(), 0.0f); },
      [](const audio_io::StreamError&) {});
  if (!stream) return std::nullopt;
  if (!stream->play()) return std::nullopt;
  return std::move(*stream);
}

}  // namespace ombri
