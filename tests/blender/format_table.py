# Prints the per-format table from what Blender read (FILE.blender.json, by read_scenes.py):
# arguments in threes, the source, the rest export, the export with shape keys.
import json
import math
import sys


def read(file):
    with open(file + ".blender.json") as f:
        return json.load(f)


def count(scene):
    return sum(len(o["positions"]) // 3 for o in scene["objects"])


def largest(a, b):
    if len(a) != len(b):
        return None
    return max((math.dist(a[i:i + 3], b[i:i + 3]) for i in range(0, len(a), 3)), default=0.0)


print("| source | Blender reads from the source | rest export | its largest difference |"
      " export with two poses | its shape keys |")
print("|---|---|---|---|---|---|")
args = sys.argv[1:]
for k in range(0, len(args), 3):
    source, rest, shapes = (read(f) for f in args[k:k + 3])
    diffs = [largest(a["positions"], b["positions"])
             for a, b in zip(source["objects"], rest["objects"])]
    difference = "counts differ" if None in diffs or not diffs else "%.2g" % max(diffs)
    keys = sorted({", ".join(key["name"] for key in o["keys"]) for o in shapes["objects"]})
    name = lambda f: f[f.rfind("/", 0, f.rfind("/")) + 1:]  # noqa: E731
    print("| %s | %d | %s: %d | %s | %s: %d | %s |" % (
        args[k][args[k].rfind("/") + 1:], count(source), name(args[k + 1]), count(rest),
        difference, name(args[k + 2]), count(shapes), "; ".join(keys) or "none"))
