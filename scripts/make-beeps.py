#!/usr/bin/env python3
"""Writes Kadrillo's two notification beeps into resources/sounds/.

Both are RIFF WAVE files, PCM, 8-bit unsigned, mono, 11025 samples per
second: beep0.wav holds 649 samples of a lower tone, beep1.wav 635 samples
of a higher one. Each tone fades in and out over a few milliseconds so the
speaker does not click. The output is deterministic: running the script
again rewrites identical files.
"""

import math
import pathlib
import struct

RATE = 11025
FADE = 40  # samples, about 3.6 ms
AMPLITUDE = 100  # of 127

BEEPS = {
    "beep0.wav": (649, 880.0),
    "beep1.wav": (635, 1568.0),
}


def tone(samples, frequency):
    data = bytearray()
    for n in range(samples):
        envelope = min(1.0, n / FADE, (samples - 1 - n) / FADE)
        value = AMPLITUDE * envelope * math.sin(2.0 * math.pi * frequency * n / RATE)
        data.append(128 + int(round(value)))
    return bytes(data)


def wave_file(pcm):
    # The data chunk of an odd length is followed by one pad byte, which the
    # chunk size does not count but the RIFF size does.
    pad = b"\0" if len(pcm) % 2 else b""
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE, 1, 8)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
            + b"data" + struct.pack("<I", len(pcm)) + pcm + pad)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    out = pathlib.Path(__file__).resolve().parent.parent / "resources" / "sounds"
    out.mkdir(parents=True, exist_ok=True)
    for name, (samples, frequency) in BEEPS.items():
        (out / name).write_bytes(wave_file(tone(samples, frequency)))
        print(f"{out / name}: {samples} samples at {frequency:g} Hz")


if __name__ == "__main__":
    main()
