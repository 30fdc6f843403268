#!/usr/bin/env python3
"""Writes a sample take: ten seconds of a face at 60 frames a second, as Live Link Face's CSV.

    python3 scripts/make-take.py takes/hello.csv

The performance: two blinks, a smile that comes and goes, two stretches of talking (the jaw
opening on syllables, the lips closing on some of them, rounding on others), a brow raise,
the head turning a little (HeadYaw, HeadPitch, HeadRoll in radians) while the eyes hold
their gaze, and a few rows where tracking was lost. Every curve is a function of time: the
file is the same on every run. The file is written beside its destination and renamed over
it, so an interrupted run leaves the earlier file.
"""

import math
import os
import sys
import tempfile

RATE = 60  # frames a second, as Live Link Face records and counts its timecodes
SECONDS = 10
START = (17, 42, 10)  # the take's time of day: HH, MM, SS
LOST = range(347, 351)  # frames where tracking was lost (5.78 s to 5.83 s)

NAMES = """EyeBlinkLeft EyeLookDownLeft EyeLookInLeft EyeLookOutLeft EyeLookUpLeft EyeSquintLeft
EyeWideLeft EyeBlinkRight EyeLookDownRight EyeLookInRight EyeLookOutRight EyeLookUpRight
EyeSquintRight EyeWideRight JawForward JawLeft JawRight JawOpen MouthClose MouthFunnel
MouthPucker MouthLeft MouthRight MouthSmileLeft MouthSmileRight MouthFrownLeft
MouthFrownRight MouthDimpleLeft MouthDimpleRight MouthStretchLeft MouthStretchRight
MouthRollLower MouthRollUpper MouthShrugLower MouthShrugUpper MouthPressLeft MouthPressRight
MouthLowerDownLeft MouthLowerDownRight MouthUpperUpLeft MouthUpperUpRight BrowDownLeft
BrowDownRight BrowInnerUp BrowOuterUpLeft BrowOuterUpRight CheekPuff CheekSquintLeft
CheekSquintRight NoseSneerLeft NoseSneerRight TongueOut""".split()
ROTATIONS = """HeadYaw HeadPitch HeadRoll LeftEyeYaw LeftEyePitch LeftEyeRoll RightEyeYaw
RightEyePitch RightEyeRoll""".split()


def smoothstep(edge0, edge1, x):
    t = min(1.0, max(0.0, (x - edge0) / (edge1 - edge0)))
    return t * t * (3 - 2 * t)


def window(t, start, end, ramp):
    """1 between start and end, easing in and out over ramp seconds."""
    return smoothstep(start, start + ramp, t) * (1 - smoothstep(end - ramp, end, t))


def blink(t, at):
    """A blink: the lid closes in 0.08 s, stays shut 0.05 s, opens in 0.15 s."""
    return smoothstep(at, at + 0.08, t) * (1 - smoothstep(at + 0.13, at + 0.28, t))


# Talking: syllables at 4.2 a second in two stretches; each syllable has its own opening,
# and some close the lips (m, b, p) or round them (o, u) as they start.
TALK = [(0.6, 2.7), (6.7, 9.3)]
SYLLABLE_RATE = 4.2
OPENINGS = [0.45, 0.25, 0.6, 0.3, 0.5, 0.2, 0.4, 0.55, 0.3]
CLOSED = {1, 4, 7}  # syllables that start with the lips pressed (m, b, p)
ROUNDED = {2, 6}  # syllables on a rounded vowel (o, u)


def performance(t):
    w = dict.fromkeys(NAMES, 0.0)
    # Eyes: two blinks, the eyes a little wider while the brows are up.
    for at in (1.8, 6.3):
        b = blink(t, at)
        w["EyeBlinkLeft"] = max(w["EyeBlinkLeft"], b)
        w["EyeBlinkRight"] = max(w["EyeBlinkRight"], 0.95 * b)
    # The smile: in from 3.0 s, held, out by 5.6 s; the cheeks and eyes squint with it.
    smile = 0.8 * window(t, 3.0, 5.6, 0.5)
    w["MouthSmileLeft"] = smile
    w["MouthSmileRight"] = 0.9 * smile
    w["CheekSquintLeft"] = w["CheekSquintRight"] = 0.45 * smile
    w["EyeSquintLeft"] = w["EyeSquintRight"] = 0.25 * smile
    w["MouthDimpleLeft"] = w["MouthDimpleRight"] = 0.15 * smile
    # Talking.
    talking = max(window(t, a, b, 0.15) for a, b in TALK)
    if talking > 0:
        phase = t * SYLLABLE_RATE
        syllable = int(phase)
        within = phase - syllable
        opening = OPENINGS[syllable % len(OPENINGS)]
        jaw = talking * opening * math.sin(math.pi * within) ** 2
        w["JawOpen"] = jaw
        w["MouthLowerDownLeft"] = w["MouthLowerDownRight"] = 0.3 * jaw
        if syllable % len(OPENINGS) in CLOSED:
            # The lips meet while the jaw is still shut, then part as it opens.
            closed = talking * (1 - smoothstep(0.0, 0.35, within))
            w["MouthClose"] = 0.35 * closed
            w["MouthPressLeft"] = w["MouthPressRight"] = 0.2 * closed
        if syllable % len(OPENINGS) in ROUNDED:
            rounded = talking * math.sin(math.pi * within)
            w["MouthFunnel"] = 0.4 * rounded
            w["MouthPucker"] = 0.3 * rounded
    # The brows go up at 7.4 s for a second.
    brows = window(t, 7.4, 8.6, 0.25)
    w["BrowInnerUp"] = 0.7 * brows
    w["BrowOuterUpLeft"] = 0.6 * brows
    w["BrowOuterUpRight"] = 0.55 * brows
    w["EyeWideLeft"] = w["EyeWideRight"] = 0.2 * brows

    # The head turns slowly, nods a little with the talking; the eyes turn against it.
    yaw = 0.12 * math.sin(2 * math.pi * t / 7.0)
    pitch = 0.04 * math.sin(2 * math.pi * t / 4.3 + 1.0) + 0.03 * talking * math.sin(
        2 * math.pi * t * SYLLABLE_RATE / 2)
    roll = 0.035 * math.sin(2 * math.pi * t / 5.1 + 0.5)
    eye_yaw = -0.6 * yaw
    eye_pitch = -0.5 * pitch
    # The eyes' turn as ARKit's look weights: to the face's left is out for the left eye and
    # in for the right.
    look = eye_yaw / 0.3
    w["EyeLookOutLeft"] = w["EyeLookInRight"] = max(0.0, look)
    w["EyeLookInLeft"] = w["EyeLookOutRight"] = max(0.0, -look)
    w["EyeLookUpLeft"] = w["EyeLookUpRight"] = max(0.0, -eye_pitch / 0.3)
    w["EyeLookDownLeft"] = w["EyeLookDownRight"] = max(0.0, eye_pitch / 0.3)
    rotations = [yaw, pitch, roll, eye_yaw, eye_pitch, 0.0, eye_yaw, eye_pitch, 0.0]
    return [w[name] for name in NAMES], rotations


def number(value):
    """As short as it reads: 0, or four decimals without trailing zeros."""
    text = "%.4f" % value
    text = text.rstrip("0").rstrip(".")
    return "0" if text in ("", "-0") else text


def timecode(frame):
    """HH:MM:SS:FF.fff with frames at 60 a second; the fraction of a frame is the small
    lateness of the phone's clock, a few thousandths of a frame."""
    seconds_of_day = (START[0] * 60 + START[1]) * 60 + START[2] + frame // RATE
    lateness = 0.004 * (1 + math.sin(frame * 0.37))
    return "%02d:%02d:%02d:%02d.%03d" % (seconds_of_day // 3600, seconds_of_day // 60 % 60,
                                        seconds_of_day % 60, frame % RATE,
                                        round(lateness * 1000))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-take.py OUTPUT.csv")
    destination = sys.argv[1]
    lines = [",".join(["Timecode", "BlendShapeCount"] + NAMES + ROTATIONS)]
    for frame in range(SECONDS * RATE):
        if frame in LOST:
            lines.append("%s,0" % timecode(frame))
            continue
        weights, rotations = performance(frame / RATE)
        values = [number(v) for v in weights + rotations]
        lines.append(",".join([timecode(frame), str(len(values))] + values))
    text = "\n".join(lines) + "\n"
    folder = os.path.dirname(os.path.abspath(destination))
    os.makedirs(folder, exist_ok=True)
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".make-take.")
    try:
        with os.fdopen(handle, "w") as out:
            out.write(text)
            out.flush()
            os.fsync(out.fileno())
        os.chmod(temporary, 0o644)
        os.replace(temporary, destination)
    except BaseException:
        os.unlink(temporary)
        raise


if __name__ == "__main__":
    main()
