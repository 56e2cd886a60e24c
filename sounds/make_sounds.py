#!/usr/bin/env python3
"""Writes the player's own sounds: short tones and clicks, 16-bit mono PCM at 22050 Hz.

flip.wav: a click with a falling tone, for a flipper that swings.
bounce.wav: a soft low knock, for a ball that hits something.
score.wav: a two-note chime, for a target that scores.
Run from this folder; the output is committed.
"""
import math
import struct
import wave

RATE = 22050


def tone(freq_start, freq_end, seconds, amplitude, decay):
    samples = []
    phase = 0.0
    count = int(RATE * seconds)
    for i in range(count):
        t = i / RATE
        freq = freq_start + (freq_end - freq_start) * i / count
        phase += 2.0 * math.pi * freq / RATE
        envelope = math.exp(-decay * t) * min(1.0, i / 40.0)
        samples.append(amplitude * envelope * math.sin(phase))
    return samples


def click(seconds, amplitude):
    # A deterministic noise burst from a small linear congruential generator.
    state = 12345
    samples = []
    for i in range(int(RATE * seconds)):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        noise = (state / 0x3FFFFFFF) - 1.0
        samples.append(amplitude * noise * (1.0 - i / (RATE * seconds)))
    return samples


def mix(*parts):
    length = max(len(p) for p in parts)
    return [sum(p[i] for p in parts if i < len(p)) for i in range(length)]


def write(name, samples):
    with wave.open(name, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(
            struct.pack("<h", max(-32767, min(32767, int(round(s))))) for s in samples))


if __name__ == "__main__":
    write("flip.wav", mix(click(0.012, 9000.0), tone(900.0, 300.0, 0.12, 9000.0, 25.0)))
    write("bounce.wav", mix(click(0.006, 4000.0), tone(220.0, 160.0, 0.15, 12000.0, 30.0)))
    write("score.wav", tone(880.0, 880.0, 0.12, 8000.0, 12.0)
          + tone(1320.0, 1320.0, 0.2, 8000.0, 12.0))
