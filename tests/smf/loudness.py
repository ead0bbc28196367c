"""Prints the RMS level (0..1) of a WAV file in each of the given time windows.

usage: loudness.py file.wav start:end [start:end ...]   (seconds)
"""
import array
import math
import sys
import wave

w = wave.open(sys.argv[1], "rb")
assert w.getsampwidth() == 2, "16-bit samples expected"
rate, channels = w.getframerate(), w.getnchannels()
samples = array.array("h", w.readframes(w.getnframes()))
for window in sys.argv[2:]:
    start, end = (float(x) for x in window.split(":"))
    part = samples[int(start * rate) * channels:int(end * rate) * channels]
    rms = math.sqrt(sum(s * s for s in part) / max(1, len(part))) / 32768
    print(f"{rms:.6f}")
