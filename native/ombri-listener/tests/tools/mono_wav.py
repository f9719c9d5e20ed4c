"""Writes the 16-bit mono WAV inputs that the tests and the benchmarks give the listener."""

import wave


def write_wav(path, rate, samples):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(b"".join(int(s).to_bytes(2, "little", signed=True) for s in samples))
