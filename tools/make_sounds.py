#!/usr/bin/env python3
"""Synthesises the program's confirmation sounds and writes them as WAVE files.

    make_sounds.py OUT_DIR   -> seventeen 16-bit PCM mono 44100 Hz .wav files in OUT_DIR

Every sound is built from soft bell-like tones (a sine with a little second and third harmonic,
a short raised-cosine attack and an exponential decay) and, for the captures, a camera-shutter
"ka-chick" made of two band-passed noise bursts. Each file is normalised to a peak of -6 dBFS and
begins and ends in silence, so nothing clicks or clips. The noise comes from a fixed-seed
generator, so the output is the same on every run.

The sounds are meant to be told apart by ear without looking at the screen:

    mouse_click.wav  150 ms   a bright tick with a short ring (mouse button clicks).
    full.wav         300 ms   shutter, then a low falling thump: the whole screen was taken.
    capture.wav      320 ms   shutter, then a sweep rising from 600 to 2000 Hz: a free-form
                              rectangle was taken.
    window.wav       300 ms   shutter, then two notes going up (E6, A6): a window was taken.
    control.wav      300 ms   shutter, then three quick equal blips (C7): the focused control
                              was taken.
    mouse.wav        240 ms   shutter, then one very high short blip (E7): the control under the
                              mouse was taken.
    rec_start.wav    420 ms   two tones rising a fifth (A5 to E6): recording started.
    rec_stop.wav     420 ms   the same two tones falling (E6 to A5): recording stopped.
    rec_pause.wav    460 ms   one low tone (A4) played twice: recording paused.
    rec_resume.wav   300 ms   one higher tone (A5) played once: recording resumed.
    exit.wav         720 ms   three notes descending (G5, E5, C5): the program is closing.
    startup.wav      1.0 s    a rising arpeggio (C5, E5, G5, C6) that rings on as a chord: the
                              program has started.

Failures sound like nothing above: a low, rough buzz instead of a bell, each with its own shape.

    capture_failed.wav   520 ms  two low buzzes on one note (D4, D4), no shutter: nothing was
                                 captured.
    save_failed.wav      620 ms  shutter, then a buzz sliding down from B3 to E3: the picture was
                                 taken but could not be saved.
    clipboard_failed.wav 600 ms  shutter, then three short buzzes (G3): the picture was taken but
                                 could not be put on the clipboard.
    rec_failed.wav       650 ms  two buzzes falling a tritone (E4 to A#3): a recording could not
                                 start or had to stop.
    refused.wav          480 ms  a soft bell (C5) cut off by a short low buzz (F3): not now, the
                                 request was refused (a recording in the way, the countdown
                                 running, a hotkey another program holds).
"""
import math
import random
import struct
import sys
import wave
from pathlib import Path

RATE = 44100
PEAK = 10 ** (-6 / 20)  # -6 dBFS


def note(name):
    """Frequency of a note such as 'A4' or 'C#6' in equal temperament."""
    steps = {'C': -9, 'D': -7, 'E': -5, 'F': -4, 'G': -2, 'A': 0, 'B': 2}
    semitone = steps[name[0]]
    rest = name[1:]
    if rest.startswith('#'):
        semitone += 1
        rest = rest[1:]
    octave = int(rest)
    return 440.0 * 2 ** ((semitone + 12 * (octave - 4)) / 12)


def silence(seconds):
    return [0.0] * int(round(seconds * RATE))


def mix(track, sound, at, gain=1.0):
    """Adds sound into track starting at the time 'at' (seconds), growing track as needed."""
    start = int(round(at * RATE))
    end = start + len(sound)
    if end > len(track):
        track.extend([0.0] * (end - len(track)))
    for i, v in enumerate(sound):
        track[start + i] += gain * v
    return track


def envelope(n, attack, decay, release=0.012):
    """Raised-cosine attack, exponential decay with time constant 'decay', raised-cosine release
    over the last 'release' seconds, so every sound starts and ends at zero."""
    a = max(1, int(attack * RATE))
    r = max(1, int(release * RATE))
    out = []
    for i in range(n):
        t = i / RATE
        g = math.exp(-t / decay) if decay else 1.0
        if i < a:
            g *= 0.5 - 0.5 * math.cos(math.pi * i / a)
        if i >= n - r:
            g *= 0.5 - 0.5 * math.cos(math.pi * (n - 1 - i) / r)
        out.append(g)
    return out


def tone(freq, seconds, attack=0.006, decay=0.15, harmonics=(1.0, 0.25, 0.08)):
    """A soft bell-like tone: a sine with a few weaker harmonics under an envelope."""
    n = int(round(seconds * RATE))
    env = envelope(n, attack, decay)
    w = 2 * math.pi * freq / RATE
    out = []
    for i in range(n):
        s = 0.0
        for k, h in enumerate(harmonics, start=1):
            # Higher harmonics fade faster, which keeps the tone mellow.
            s += h * math.sin(k * w * i) * (math.exp(-i / RATE * (k - 1) * 12) if k > 1 else 1.0)
        out.append(s * env[i])
    return out


def sweep(f0, f1, seconds, attack=0.01, decay=0.5):
    """A tone whose pitch glides exponentially from f0 to f1."""
    n = int(round(seconds * RATE))
    env = envelope(n, attack, decay, release=0.04)
    out = []
    phase = 0.0
    for i in range(n):
        f = f0 * (f1 / f0) ** (i / max(1, n - 1))
        phase += 2 * math.pi * f / RATE
        out.append((math.sin(phase) + 0.2 * math.sin(2 * phase)) * env[i])
    return out


def thump(seconds=0.2):
    """A low drum-like thump: pitch falling from 180 to 70 Hz with a fast decay."""
    n = int(round(seconds * RATE))
    env = envelope(n, 0.003, 0.06, release=0.03)
    out = []
    phase = 0.0
    for i in range(n):
        t = i / RATE
        f = 70 + 110 * math.exp(-t / 0.04)
        phase += 2 * math.pi * f / RATE
        # The second and third harmonics make it audible on small laptop speakers.
        out.append((math.sin(phase) + 0.5 * math.sin(2 * phase) + 0.25 * math.sin(3 * phase)) * env[i])
    return out


def biquad_bandpass(samples, centre, q):
    """RBJ band-pass filter (constant 0 dB peak gain)."""
    w0 = 2 * math.pi * centre / RATE
    alpha = math.sin(w0) / (2 * q)
    b0, b1, b2 = alpha, 0.0, -alpha
    a0, a1, a2 = 1 + alpha, -2 * math.cos(w0), 1 - alpha
    b0, b1, b2, a1, a2 = b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0
    x1 = x2 = y1 = y2 = 0.0
    out = []
    for x in samples:
        y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2
        x2, x1 = x1, x
        y2, y1 = y1, y
        out.append(y)
    return out


def noise_burst(rng, seconds, centre, q, decay):
    n = int(round(seconds * RATE))
    raw = [rng.uniform(-1.0, 1.0) for _ in range(n)]
    filtered = biquad_bandpass(raw, centre, q)
    env = envelope(n, 0.0015, decay, release=0.005)
    return [v * e for v, e in zip(filtered, env)]


def shutter(seed):
    """A camera-shutter 'ka-chick': a lower, longer burst and a brighter, shorter one 55 ms later."""
    rng = random.Random(seed)
    track = []
    mix(track, noise_burst(rng, 0.035, 2200, 1.2, 0.010), 0.0, 1.0)
    mix(track, noise_burst(rng, 0.030, 4200, 1.5, 0.007), 0.055, 0.8)
    return track


def normalise(track):
    peak = max(abs(v) for v in track) or 1.0
    return [v * PEAK / peak for v in track]


def write(path, track):
    frames = b''.join(struct.pack('<h', int(round(max(-1.0, min(1.0, v)) * 32767))) for v in track)
    with wave.open(str(path), 'wb') as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(frames)


def pad_to(track, seconds):
    n = int(round(seconds * RATE))
    if len(track) < n:
        track.extend([0.0] * (n - len(track)))
    return track[:n]


# ---------------------------------------------------------------------------------------------

def buzz(f0, f1, seconds, decay=0.5):
    """A rough low tone (odd harmonics, like a buzzer) whose pitch glides from f0 to f1."""
    n = int(round(seconds * RATE))
    env = envelope(n, 0.008, decay, release=0.03)
    out = []
    phase = 0.0
    for i in range(n):
        f = f0 * (f1 / f0) ** (i / max(1, n - 1))
        phase += 2 * math.pi * f / RATE
        out.append(sum(math.sin(k * phase) / k for k in (1, 3, 5, 7, 9)) * env[i])
    return out


def mouse_click():
    rng = random.Random(11)
    track = noise_burst(rng, 0.040, 3500, 2.0, 0.004)
    # The ring keeps the click long enough to be heard on any output, however short the press.
    mix(track, tone(2000, 0.15, attack=0.001, decay=0.035, harmonics=(1.0, 0.1)), 0.0, 0.6)
    return pad_to(track, 0.150)


def full():
    track = shutter(1)
    mix(track, thump(0.21), 0.085, 0.6)
    return pad_to(track, 0.300)


def capture():
    track = shutter(2)
    mix(track, sweep(600, 2000, 0.22, decay=0.4), 0.09, 0.7)
    return pad_to(track, 0.320)


def window():
    track = shutter(3)
    mix(track, tone(note('E6'), 0.10, decay=0.06), 0.09, 0.7)
    mix(track, tone(note('A6'), 0.11, decay=0.06), 0.175, 0.7)
    return pad_to(track, 0.300)


def control():
    track = shutter(4)
    for k in range(3):
        mix(track, tone(note('C7'), 0.045, attack=0.003, decay=0.02), 0.09 + k * 0.065, 0.6)
    return pad_to(track, 0.300)


def mouse():
    track = shutter(5)
    mix(track, tone(note('E7'), 0.07, attack=0.003, decay=0.025), 0.09, 0.6)
    return pad_to(track, 0.240)


def rec_start():
    track = []
    mix(track, tone(note('A5'), 0.20, decay=0.12), 0.0)
    mix(track, tone(note('E6'), 0.26, decay=0.12), 0.16)
    return pad_to(track, 0.420)


def rec_stop():
    track = []
    mix(track, tone(note('E6'), 0.20, decay=0.12), 0.0)
    mix(track, tone(note('A5'), 0.26, decay=0.12), 0.16)
    return pad_to(track, 0.420)


def rec_pause():
    track = []
    mix(track, tone(note('A4'), 0.16, decay=0.08), 0.0)
    mix(track, tone(note('A4'), 0.26, decay=0.08), 0.20)
    return pad_to(track, 0.460)


def rec_resume():
    return pad_to(tone(note('A5'), 0.30, decay=0.10), 0.300)


def exit_sound():
    track = []
    for k, name in enumerate(('G5', 'E5', 'C5')):
        length = 0.30 if k == 2 else 0.22
        mix(track, tone(note(name), length, decay=0.09 if k < 2 else 0.12), k * 0.21)
    return pad_to(track, 0.720)


def startup():
    track = []
    names = ('C5', 'E5', 'G5', 'C6')
    for k, name in enumerate(names):
        at = k * 0.09
        mix(track, tone(note(name), 1.0 - at, attack=0.01, decay=0.35), at, 0.5)
    return pad_to(track, 1.0)


def capture_failed():
    track = []
    mix(track, buzz(note('D4'), note('D4'), 0.20), 0.0)
    mix(track, buzz(note('D4'), note('D4'), 0.24), 0.27)
    return pad_to(track, 0.520)


def save_failed():
    track = shutter(6)
    mix(track, buzz(note('B3'), note('E3'), 0.52, decay=0.8), 0.10, 0.8)
    return pad_to(track, 0.620)


def clipboard_failed():
    track = shutter(7)
    for k in range(3):
        mix(track, buzz(note('G3'), note('G3'), 0.10, decay=0.3), 0.10 + k * 0.16, 0.8)
    return pad_to(track, 0.600)


def rec_failed():
    track = []
    mix(track, buzz(note('E4'), note('E4'), 0.26, decay=0.4), 0.0)
    mix(track, buzz(note('A#3'), note('A#3'), 0.36, decay=0.4), 0.28)
    return pad_to(track, 0.650)


def refused():
    track = []
    mix(track, tone(note('C5'), 0.16, decay=0.08), 0.0, 0.7)
    mix(track, buzz(note('F3'), note('F3'), 0.24, decay=0.25), 0.17)
    return pad_to(track, 0.480)


SOUNDS = {
    'mouse_click.wav': mouse_click,
    'full.wav': full,
    'capture.wav': capture,
    'window.wav': window,
    'control.wav': control,
    'mouse.wav': mouse,
    'rec_start.wav': rec_start,
    'rec_stop.wav': rec_stop,
    'rec_pause.wav': rec_pause,
    'rec_resume.wav': rec_resume,
    'exit.wav': exit_sound,
    'startup.wav': startup,
    'capture_failed.wav': capture_failed,
    'save_failed.wav': save_failed,
    'clipboard_failed.wav': clipboard_failed,
    'rec_failed.wav': rec_failed,
    'refused.wav': refused,
}


def main(argv):
    if len(argv) != 2:
        print('usage: make_sounds.py OUT_DIR', file=sys.stderr)
        return 2
    out = Path(argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name, make in SOUNDS.items():
        write(out / name, normalise(make()))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
