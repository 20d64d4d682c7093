#!/usr/bin/env python3
"""Feeds a PulseAudio pipe source in real time with a 440 Hz sine (48 kHz, stereo, s16le),
so the virtual microphone carries a real, recognisable signal."""
import math
import os
import struct
import sys
import time

RATE = 48000
FREQ = 440.0
CHUNK = 960  # 20 ms


def main() -> None:
    path = sys.argv[1]
    amplitude = int(32767 * 0.5)
    period = [int(amplitude * math.sin(2 * math.pi * FREQ * i / RATE)) for i in range(RATE)]
    fd = os.open(path, os.O_WRONLY)  # blocks until PulseAudio opens the pipe for reading
    pos = 0
    start = time.monotonic()
    sent = 0
    while True:
        frames = []
        for _ in range(CHUNK):
            s = period[pos]
            frames.append(struct.pack('<hh', s, s))
            pos = (pos + 1) % RATE
        os.write(fd, b''.join(frames))
        sent += CHUNK
        ahead = sent / RATE - (time.monotonic() - start)
        if ahead > 0.05:
            time.sleep(ahead - 0.05)
        elif ahead < -0.1:
            # Blocked while nobody read the pipe: a microphone does not hand over what it heard
            # while idle, so go on from now instead of catching up in one burst.
            start = time.monotonic() - sent / RATE


if __name__ == '__main__':
    try:
        main()
    except (BrokenPipeError, KeyboardInterrupt):
        pass
