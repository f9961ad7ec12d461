#!/usr/bin/env python3
"""Writes resources/sounds/alert.wav, the looping battery alert used where the system has no
"Submarine" sound (every system but macOS).

The sound is a sonar-like ping in the spirit of macOS's "Submarine": a round mid-pitched tone that
slides down slightly, rings out, and answers itself with a quieter echo, followed by enough silence
that the loop reads as separate pings rather than a drone. It is synthesised here from sine waves,
so the file is ours to ship and the script reproduces it byte for byte.

Usage: scripts/make_alert_wav.py [output path]
"""

import math
import struct
import sys
import wave
from pathlib import Path

RATE = 22050          # plenty for a tone under 3 kHz; keeps the file small
LENGTH_SEC = 1.2      # one loop: ping, echo, silence
PEAK = 0.7            # of full scale, leaving headroom for the partials


def ping(t: float, start: float, gain: float) -> float:
    """One ping starting at `start`: 5 ms attack, exponential ring-out, a slight downward glide."""
    x = t - start
    if x < 0:
        return 0.0
    attack = min(1.0, x / 0.005)
    envelope = attack * math.exp(-x / 0.18)
    # Phase of a tone gliding from 1000 Hz towards 930 Hz.
    freq_start, freq_end, glide = 1000.0, 930.0, 0.25
    phase = 2 * math.pi * (freq_end * x + (freq_start - freq_end) * glide * (1 - math.exp(-x / glide)))
    tone = math.sin(phase) + 0.35 * math.sin(2 * phase) + 0.12 * math.sin(3 * phase)
    return gain * envelope * tone / 1.47


def main() -> None:
    default = Path(__file__).resolve().parent.parent / "resources" / "sounds" / "alert.wav"
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else default
    out.parent.mkdir(parents=True, exist_ok=True)
    frames = bytearray()
    total = int(RATE * LENGTH_SEC)
    fade_out = int(RATE * 0.02)
    for n in range(total):
        t = n / RATE
        sample = ping(t, 0.0, 1.0) + ping(t, 0.28, 0.35)
        if n >= total - fade_out:  # no click where the loop starts again
            sample *= (total - n) / fade_out
        value = max(-1.0, min(1.0, sample * PEAK))
        frames += struct.pack("<h", int(round(value * 32767)))
    with wave.open(str(out), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


if __name__ == "__main__":
    main()
