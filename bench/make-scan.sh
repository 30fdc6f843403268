#!/usr/bin/env bash
# Makes the scan that face-import's figures are measured on: the 1M-vertex default face
# (face-assets --dense), exported as OBJ by face-inspect, its corners welded, positions
# moved by Gaussian noise of 0.004 units (a fixed seed), written as a binary PLY of
# positions and triangles only, as a scanner gives it.
# Usage: bench/make-scan.sh BUILD OUT.ply     (e.g. bench/make-scan.sh build scan.ply)
# Needs Debian's python3-numpy (scripts/deps.sh test installs it).
set -euo pipefail
build=$1 out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/face-assets" --dense "$work/dense" >/dev/null
"$build/tools/face-inspect" --export-obj "$work/dense.obj" "$work/dense/retarget_1m.model" >/dev/null
/usr/bin/python3 - "$work/dense.obj" "$out" <<'PY'
import sys, numpy as np
positions, faces, index = [], [], {}
with open(sys.argv[1]) as obj:
    for line in obj:
        if line.startswith('v '):
            positions.append(tuple(float(x) for x in line.split()[1:4]))
        elif line.startswith('f '):
            faces.append([int(c.split('/')[0]) - 1 for c in line.split()[1:4]])
# One vertex per position: a scanner knows no texture seams.
welded, remap = [], []
for p in positions:
    if p not in index:
        index[p] = len(welded)
        welded.append(p)
    remap.append(index[p])
points = np.array(welded, dtype=np.float64)
points += np.random.default_rng(20261208).normal(0.0, 0.004, points.shape)
triangles = np.array([[remap[i] for i in f] for f in faces], dtype=np.int32)
triangles = triangles[(triangles[:, 0] != triangles[:, 1]) & (triangles[:, 1] != triangles[:, 2]) & (triangles[:, 0] != triangles[:, 2])]
with open(sys.argv[2], 'wb') as ply:
    ply.write(('ply\nformat binary_little_endian 1.0\nelement vertex %d\nproperty float x\n'
               'property float y\nproperty float z\nelement face %d\n'
               'property list uchar int vertex_indices\nend_header\n'
               % (len(points), len(triangles))).encode())
    ply.write(points.astype('<f4').tobytes())
    records = np.zeros(len(triangles), dtype=[('n', 'u1'), ('i', '<i4', 3)])
    records['n'] = 3
    records['i'] = triangles
    ply.write(records.tobytes())
print('%s: %d vertices, %d triangles' % (sys.argv[2], len(points), len(triangles)))
PY
