#include "system_audio/system_audio_capture.hpp"

namespace ombri {

SystemAudioCapture::SystemAudioCapture() = default;
SystemAudioCapture::SystemAudioCapture(SystemAudioCapture&&) noexcept = default;
SystemAudioCapture& SystemAudioCapture::operator=(SystemAudioCapture&&) noexcept = default;
SystemAudioCapture::~SystemAudioCapture() = default;

Result<SystemAudioCapture> SystemAudioCapture::start(const std::string&, std::shared_ptr<LevelHub>,
                                                     std::optional<StreamSink>) {
  return ErrorText{"System audio capture is not built yet."};
}

Result<void> SystemAudioCapture::finish(SystemAudioCapture) { return {}; }

void SystemAudioCapture::spawn_permission_probe(std::string, EventSender, SharedFlag) const {}

}  // namespace ombri
