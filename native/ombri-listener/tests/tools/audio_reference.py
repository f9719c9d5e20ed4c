#!/usr/bin/env python3
"""Reference computations for the system-audio tests, written apart from the listener.

  audio_reference.py resample IN.f32 IN_RATE OUT_RATE clamp|raw OUT.i16 [CHANNELS]
      streaming linear interpolation in numpy float32 (phase in float64), each
      output clamped to [-1, 1], scaled by 32767 and truncated to int16; with
      "clamp" every input is clamped to [-1, 1] before it is interpolated. With
      CHANNELS, IN holds interleaved frames, each mixed first to the float32
      mean of its channels (summed in channel order); a last partial frame is
      dropped.
  audio_reference.py b64encode IN OUT      standard base64 of a file's bytes
  audio_reference.py b64decode IN OUT      each line of IN decoded (strictly), bytes concatenated
  audio_reference.py probe-tone OUT        the probe tone file: 2800 samples of 8 kHz mono 16-bit PCM
"""

import base64
import struct
import sys

import numpy as np

F32 = np.float32


def to_i16(value):
    if np.isnan(value):
        return 0
    return int(F32(min(max(value, F32(-1.0)), F32(1.0))) * F32(32767.0))


def resample(samples, in_rate, out_rate, clamp):
    ratio = in_rate / out_rate
    out = []
    prev = None
    phase = 0.0
    for x in samples:
        if clamp and not np.isnan(x):
            x = F32(min(max(x, F32(-1.0)), F32(1.0)))
        if prev is None:
            prev = x
            continue
        d = F32(x - prev)
        while phase < 1.0:
            out.append(to_i16(F32(prev + F32(d * F32(phase)))))
            phase += ratio
        phase -= 1.0
        prev = x
    return np.array(out, dtype="<i2")


def mix(samples, channels):
    frames = samples[:len(samples) // channels * channels].reshape(-1, channels)
    total = np.zeros(len(frames), dtype=F32)
    for c in range(channels):
        total = total + frames[:, c]
    return total / F32(channels)


def probe_tone_wav():
    i = np.arange(2800, dtype=F32)
    # sin((i / 8000) * 440 * 6.2831855) * 0.5 * 32767, every step rounded to float32.
    phase = (i / F32(8000)) * F32(440) * F32(6.2831855)
    wave = np.sin(phase.astype(np.float64)).astype(F32) * F32(0.5) * F32(32767)
    data = np.trunc(wave).astype("<i2").tobytes()
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, 8000, 16000, 2, 16)
    header += b"data" + struct.pack("<I", len(data))
    return header + data


def main(argv):
    command = argv[1]
    if command == "resample":
        samples = np.fromfile(argv[2], dtype="<f4")
        if len(argv) > 7:
            samples = mix(samples, int(argv[7]))
        with np.errstate(invalid="ignore"):
            resample(samples, int(argv[3]), int(argv[4]), argv[5] == "clamp").tofile(argv[6])
    elif command == "b64encode":
        with open(argv[2], "rb") as f, open(argv[3], "wb") as out:
            out.write(base64.b64encode(f.read()))
    elif command == "b64decode":
        with open(argv[2]) as f, open(argv[3], "wb") as out:
            for line in f.read().splitlines():
                out.write(base64.b64decode(line, validate=True))
    elif command == "probe-tone":
        with open(argv[2], "wb") as out:
            out.write(probe_tone_wav())
    else:
        sys.exit("unknown command " + command)


if __name__ == "__main__":
    main(sys.argv)
