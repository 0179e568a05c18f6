#!/usr/bin/python3
"""The reference for normal to height: a double-precision periodic
least-squares height for every map of a labelled folder, with nothing added
(no curvature penalty), made back into normals with the same central
differences, and each map's mean angle to its original normals.

Slopes are read as quorvel reads them: samples decoded as (v - 128) / 127,
p = -x / z and the slope down the picture +-y / z, z held at 0.2 of the
vector's length at least. The height is H = -i (gx P + gy Q) / (gx^2 + gy^2)
at every frequency but 0, with gx = sin(wx), gy = sin(wy) (central
differences multiply a wave by i sin w).

With a second argument, a file of "name angle" lines (generate_bench's
QUORVEL_VERBOSE output of BM_NormalsDevRoundTrip/0/0), prints each map's
ratio of that angle to the reference's and the medians of both.

Usage: bench/height_reference.py NORMALS_DEV_DIR [OURS.txt]
"""
import sys

import numpy as np
from PIL import Image


def mean_angle(folder, name, convention):
    rgb = np.asarray(Image.open(f"{folder}/{name}").convert("RGB"), dtype=np.float64)
    n = (rgb - 128.0) / 127.0
    length = np.sqrt((n * n).sum(axis=2))
    length[length == 0] = 1.0
    down_sign = 1.0 if convention == "opengl" else -1.0
    z = np.maximum(n[..., 2] / length, 0.2) * length
    p = -n[..., 0] / z
    q = down_sign * n[..., 1] / z
    height, width = p.shape
    wx = np.sin(2 * np.pi * np.arange(width) / width)[None, :]
    wy = np.sin(2 * np.pi * np.arange(height) / height)[:, None]
    denominator = wx * wx + wy * wy
    denominator[denominator == 0] = np.inf  # the mean, and waves central differences cannot see
    h = np.real(np.fft.ifft2(-1j * (wx * np.fft.fft2(p) + wy * np.fft.fft2(q)) / denominator))
    dx = (np.roll(h, -1, axis=1) - np.roll(h, 1, axis=1)) / 2
    dy = (np.roll(h, -1, axis=0) - np.roll(h, 1, axis=0)) / 2
    made = np.stack([-dx, down_sign * dy, np.ones_like(h)], axis=2)
    made /= np.sqrt((made * made).sum(axis=2))[..., None]
    original = n / length[..., None]
    original[length == 0] = (0, 0, 1)
    cosine = np.clip((made * original).sum(axis=2), -1, 1)
    return float(np.degrees(np.arccos(cosine)).mean())


def main():
    folder = sys.argv[1]
    ours = {}
    if len(sys.argv) > 2:
        for line in open(sys.argv[2]):
            parts = line.split()
            try:
                ours[parts[0]] = float(parts[1]) if len(parts) == 2 else None
            except ValueError:
                pass
        ours = {k: v for k, v in ours.items() if v is not None}
    lines = open(f"{folder}/MANIFEST.tsv").read().splitlines()[1:]
    reference, ratios = [], []
    for line in lines:
        fields = line.split("\t")
        if len(fields) < 6:
            continue
        angle = mean_angle(folder, fields[0], fields[5])
        reference.append(angle)
        text = f"{fields[0]} reference {angle:.3f}"
        if fields[0] in ours:
            ratios.append(ours[fields[0]] / angle)
            text += f" ours {ours[fields[0]]:.3f} ratio {ratios[-1]:.3f}"
        print(text)
    print(f"maps {len(reference)} reference median {np.median(reference):.3f} deg")
    if ratios:
        print(f"ours median {np.median(list(ours.values())):.3f} deg; ratio to the reference: "
              f"median {np.median(ratios):.3f}, highest {max(ratios):.3f}")


main()
