#include "system_audio/system_audio_capture.hpp"

#include <fmt/format.h>

#include "base/path.hpp"
#include "base/utf8.hpp"
#include "platform/av.hpp"
#include "platform/uuid.hpp"
#include "system_audio/drain_thread.hpp"
#include "system_audio/os_status_text.hpp"
#include "system_audio/permission_probe.hpp"
#include "system_audio/sample_ring.hpp"
#include "system_audio/support.hpp"
#include "system_audio/tap_format.hpp"

namespace ombri {
namespace {

constexpr char kSystemWavName[] = "audio-system.wav";
constexpr char kAggregateName[] = "qir-audio-tap";
constexpr std::uint32_t kMonoWavRate = 48000;

ErrorText failure(const char* lead_in, hal::OSStatus status) {
  return ErrorText{fmt::format("{}: {}", lead_in, os_status_text(status))};
}

}  // namespace

SystemAudioCapture::SystemAudioCapture(SystemAudioCapture&& other) noexcept
    : path(std::move(other.path)),
      stop_flag(std::move(other.stop_flag)),
      writer_(std::move(other.writer_)),
      live_flag_(std::move(other.live_flag_)),
      drain_(std::move(other.drain_)),
      device_(std::move(other.device_)),
      proc_(std::exchange(other.proc_, 0)),
      ctx_(std::move(other.ctx_)),
      silence_(std::exchange(other.silence_, std::nullopt)) {}

SystemAudioCapture& SystemAudioCapture::operator=(SystemAudioCapture&& other) noexcept {
  if (this == &other) return *this;
  stop_and_release();
  path = std::move(other.path);
  stop_flag = std::move(other.stop_flag);
  writer_ = std::move(other.writer_);
  live_flag_ = std::move(other.live_flag_);
  drain_ = std::move(other.drain_);
  device_ = std::move(other.device_);
  proc_ = std::exchange(other.proc_, 0);
  ctx_ = std::move(other.ctx_);
  silence_ = std::exchange(other.silence_, std::nullopt);
  return *this;
}

SystemAudioCapture::~SystemAudioCapture() { stop_and_release(); }

void SystemAudioCapture::end_recording() {
  if (device_) {
    (void)hal::device_stop(device_.get(), proc_);
    device_.reset();
  }
  if (stop_flag) stop_flag->store(true, std::memory_order_release);
  if (drain_.joinable()) drain_.join();
}

void SystemAudioCapture::stop_and_release() {
  end_recording();
  ctx_.reset();
  silence_.reset();
}

Result<SystemAudioCapture> SystemAudioCapture::start(const std::string& dir, std::shared_ptr<LevelHub> levels,
                                                     std::optional<StreamSink> sink) {
  if (const auto& support = system_audio_support(); !support) return ErrorText{support.error()};

  const auto description = hal::TapDescription::mono_global_excluding({});
  hal::AudioObjectID tap_id = hal::kAudioObjectUnknown;
  if (auto status = hal::create_process_tap(description, tap_id); status != hal::kAudioHardwareNoError)
    return failure("Could not create the system audio tap (permission or OS support)", status);
  hal::ProcessTap tap(tap_id);

  hal::StringRef tap_uid;
  if (auto status = hal::get_property_data(
          tap.get(),
          {hal::kAudioTapPropertyUID, hal::kAudioObjectPropertyScopeGlobal, hal::kAudioObjectPropertyElementMain},
          tap_uid);
      status != hal::kAudioHardwareNoError)
    return failure("The system audio tap did not report a UID", status);

  hal::AudioStreamBasicDescription tap_format{};
  if (auto status = read_tap_format(tap.get(), tap_format); status != hal::kAudioHardwareNoError)
    return failure("Could not read the system tap audio format", status);
  const auto format = av::AudioFormat::with_stream_description(tap_format);
  if (!format) return ErrorText{"Unsupported system tap audio format."};

  const std::uint32_t rate = tap_rate(tap_format.mSampleRate);
  const std::uint16_t channels = tap_channels(tap_format.mChannelsPerFrame);
  // A mono tap is recorded at 48 kHz; more channels keep the tap's own rate and interleaving.
  const bool mono = channels == 1;
  std::optional<LinearResampler> wav_resampler;
  if (mono) wav_resampler = LinearResampler::between(rate, kMonoWavRate);

  const std::string wav_path = join_path(dir, kSystemWavName);
  auto wav = WavWriter::create(wav_path, channels, mono ? kMonoWavRate : rate);
  if (!wav) return ErrorText{fmt::format("Failed to create system WAV {}: {}", wav_path, wav.error())};
  SharedWavWriter writer = share_wav_writer(std::move(*wav));

  auto ring = make_sample_ring();
  auto ctx = std::make_unique<Ctx>(
      Ctx{std::move(ring.producer), std::vector<float>(kTapScratchSamples, 0.0f), format->common_format(), channels});

  hal::AggregateDeviceDescription aggregate;
  aggregate.is_private = true;
  aggregate.tap_auto_start = false;
  aggregate.name = kAggregateName;
  aggregate.uid = platform::new_uuid_string();
  aggregate.taps.push_back({tap_uid.value_or("")});
  hal::AudioObjectID device_id = hal::kAudioObjectUnknown;
  if (auto status = hal::create_aggregate_device(aggregate, device_id); status != hal::kAudioHardwareNoError)
    return failure("Could not create the system audio device", status);
  hal::AggregateDevice device(device_id);

  hal::AudioDeviceIOProcID proc = 0;
  if (auto status = hal::create_io_proc_id(device.get(), tap_io_proc, ctx.get(), proc);
      status != hal::kAudioHardwareNoError)
    return failure("Could not attach the system audio IO proc", status);
  if (auto status = hal::device_start(device.get(), proc); status != hal::kAudioHardwareNoError)
    return failure("Could not start the system audio device", status);

  SystemAudioCapture capture;
  capture.stop_flag = make_shared_flag();
  capture.live_flag_ = make_shared_flag();
  std::optional<LiveStream> stream;
  if (sink) stream.emplace(LiveStream{std::move(*sink), rate, channels});
  capture.drain_ =
      spawn_drain_thread(DrainInputs{std::move(ring.consumer), writer, capture.stop_flag, capture.live_flag_,
                                     std::move(levels), std::move(stream), std::move(wav_resampler), std::move(tap)});
  capture.path = to_utf8_lossy(wav_path);
  capture.writer_ = std::move(writer);
  capture.device_ = std::move(device);
  capture.proc_ = proc;
  capture.ctx_ = std::move(ctx);
  capture.silence_.emplace(spawn_silence_stream());
  return capture;
}

Result<void> SystemAudioCapture::finish(SystemAudioCapture capture) {
  capture.end_recording();
  if (!capture.writer_) return {};  // a capture moved from: nothing of it left to finish
  std::optional<WavWriter> taken;
  {
    auto slot = capture.writer_->lock();
    if (slot.poisoned()) return ErrorText{"System WAV writer lock was poisoned."};
    if (slot->has_value()) {
      taken.emplace(std::move(**slot));
      slot->reset();
    }
  }
  if (taken)
    if (auto finalized = taken->finalize(); !finalized)
      return ErrorText{"Failed to finalize system WAV: " + finalized.error()};
  return {};
}

void SystemAudioCapture::spawn_permission_probe(std::string session_id, EventSender events, SharedFlag stop) const {
  spawn_probe_thread(std::move(session_id), std::move(events), live_flag_, std::move(stop));
}

}  // namespace ombri
