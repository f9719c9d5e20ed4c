#pragma once
// Values of the audio hardware layer: object ids, property addresses, the
// selectors, scopes and constants the listener reads, stream descriptions,
// buffer lists and the IO proc signature.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/status.hpp"

namespace ombri::hal {

using platform::fourcc;
using platform::kAudio_ParamError;
using platform::kAudioHardwareBadDeviceError;
using platform::kAudioHardwareBadObjectError;
using platform::kAudioHardwareBadPropertySizeError;
using platform::kAudioHardwareIllegalOperationError;
using platform::kAudioHardwareNoError;
using platform::kAudioHardwareNotRunningError;
using platform::kAudioHardwareUnknownPropertyError;
using platform::kAudioHardwareUnspecifiedError;
using platform::kAudioHardwareUnsupportedOperationError;
using platform::OSStatus;

using AudioObjectID = std::uint32_t;
using AudioObjectPropertySelector = std::uint32_t;
using AudioObjectPropertyScope = std::uint32_t;
using AudioObjectPropertyElement = std::uint32_t;

struct AudioObjectPropertyAddress {
  AudioObjectPropertySelector mSelector;
  AudioObjectPropertyScope mScope;
  AudioObjectPropertyElement mElement;
};

inline constexpr AudioObjectID kAudioObjectUnknown = 0;
inline constexpr AudioObjectID kAudioObjectSystemObject = 1;

inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal = fourcc("glob");
inline constexpr AudioObjectPropertyScope kAudioDevicePropertyScopeInput = fourcc("inpt");
inline constexpr AudioObjectPropertyScope kAudioDevicePropertyScopeOutput = fourcc("outp");
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeWildcard = fourcc("****");
inline constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;
inline constexpr AudioObjectPropertyElement kAudioObjectPropertyElementWildcard = 0xFFFFFFFF;
inline constexpr AudioObjectPropertySelector kAudioObjectPropertySelectorWildcard = fourcc("****");

// System object.
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyDevices = fourcc("dev#");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyDefaultInputDevice = fourcc("dIn ");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyDefaultOutputDevice = fourcc("dOut");
// Devices.
inline constexpr AudioObjectPropertySelector kAudioObjectPropertyName = fourcc("lnam");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceNameCFString = kAudioObjectPropertyName;
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceUID = fourcc("uid ");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyTransportType = fourcc("tran");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceIsAlive = fourcc("livn");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceIsRunningSomewhere = fourcc("gone");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyStreamFormat = fourcc("sfmt");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyBufferFrameSize = fourcc("fsiz");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyBufferFrameSizeRange = fourcc("fsz#");
// Process taps.
inline constexpr AudioObjectPropertySelector kAudioTapPropertyUID = fourcc("tuid");
inline constexpr AudioObjectPropertySelector kAudioTapPropertyFormat = fourcc("tfmt");

inline constexpr std::uint32_t kAudioDeviceTransportTypeBuiltIn = fourcc("bltn");
inline constexpr std::uint32_t kAudioDeviceTransportTypeBluetooth = fourcc("blue");
inline constexpr std::uint32_t kAudioDeviceTransportTypeBluetoothLE = fourcc("blea");
inline constexpr std::uint32_t kAudioDeviceTransportTypeUSB = fourcc("usb ");
inline constexpr std::uint32_t kAudioDeviceTransportTypeVirtual = fourcc("virt");
inline constexpr std::uint32_t kAudioDeviceTransportTypeAggregate = fourcc("grup");

// A stream's format; 40 bytes, as the tap format property delivers it.
struct AudioStreamBasicDescription {
  double mSampleRate;
  std::uint32_t mFormatID;
  std::uint32_t mFormatFlags;
  std::uint32_t mBytesPerPacket;
  std::uint32_t mFramesPerPacket;
  std::uint32_t mBytesPerFrame;
  std::uint32_t mChannelsPerFrame;
  std::uint32_t mBitsPerChannel;
  std::uint32_t mReserved;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

inline constexpr std::uint32_t kAudioFormatLinearPCM = fourcc("lpcm");
inline constexpr std::uint32_t kAudioFormatFlagIsFloat = 1U << 0;
inline constexpr std::uint32_t kAudioFormatFlagIsBigEndian = 1U << 1;
inline constexpr std::uint32_t kAudioFormatFlagIsSignedInteger = 1U << 2;
inline constexpr std::uint32_t kAudioFormatFlagIsPacked = 1U << 3;
inline constexpr std::uint32_t kAudioFormatFlagIsNonInterleaved = 1U << 5;

struct AudioValueRange {
  double mMinimum;
  double mMaximum;
};

// A string property: nothing stands for a null reference. The bytes are the
// string's UTF-8 form; a name the platform cannot express as UTF-8 comes as
// bytes that are not valid UTF-8.
using StringRef = std::optional<std::string>;

struct AudioBuffer {
  std::uint32_t mNumberChannels;
  std::uint32_t mDataByteSize;
  void* mData;
};

struct AudioBufferList {
  std::uint32_t mNumberBuffers;
  AudioBuffer* mBuffers;  // mNumberBuffers entries
};

inline constexpr std::uint32_t kAudioTimeStampSampleTimeValid = 1U << 0;
inline constexpr std::uint32_t kAudioTimeStampHostTimeValid = 1U << 1;

struct AudioTimeStamp {
  double mSampleTime;
  std::uint64_t mHostTime;  // nanoseconds of the monotonic clock
  std::uint32_t mFlags;
};

using AudioDeviceIOProcID = std::uint32_t;  // 0 is never a valid id
using AudioDeviceIOProc = OSStatus (*)(AudioObjectID device, const AudioTimeStamp* now, const AudioBufferList* input,
                                       const AudioTimeStamp* input_time, AudioBufferList* output,
                                       const AudioTimeStamp* output_time, void* client_data);

using AudioObjectPropertyListenerProc = OSStatus (*)(AudioObjectID object, std::uint32_t address_count,
                                                     const AudioObjectPropertyAddress* addresses, void* client_data);

// The ratio that turns host time into nanoseconds.
struct HostTimebase {
  std::uint32_t numer;
  std::uint32_t denom;
};

}  // namespace ombri::hal
