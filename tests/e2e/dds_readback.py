"""Checks a DDS file that quorvel-cli wrote against the picture it came from.

Usage: dds_readback.py SOURCE.ppm FILE.dds FORMAT DX10 LEVELS

The header is read here (sizes, flags, level count, FourCC or DXGI format)
and the file's length must be the header and every level's blocks. Where
Pillow reads the header (every legacy one; of the DX10 ones only BC5) and
where nvdecompress is installed (legacy headers only), the top level they
decode must lie within the encoder's bound of the source. Prints one line per
fault and exits 1 when there is any.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

source, path, fmt, dx10, levels = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4] == "1", int(sys.argv[5])
faults = []


def fault(text):
    faults.append(f"{os.path.basename(path)} ({fmt}{' dx10' if dx10 else ''}): {text}")


def read_ppm(name):
    with open(name, "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[at + 1:at + 1 + 3 * width * height]


width, height, pixels = read_ppm(source)
with open(path, "rb") as f:
    data = f.read()

block_bytes = {"bc5": 16, "bc1": 8, "bc3": 16}.get(fmt)
legacy_fourcc = {"bc5": b"ATI2", "bc1": b"DXT1", "bc3": b"DXT5"}.get(fmt)
dxgi = {"bc5": 83, "bc1": 71, "bc3": 77, "bgra8": 87}[fmt]


def level_bytes(w, h):
    return ((w + 3) // 4) * ((h + 3) // 4) * block_bytes if block_bytes else 4 * w * h


size, flags, h, w, pitch, depth, mips = struct.unpack_from("<7I", data, 4)
pf_flags, fourcc = struct.unpack_from("<I4s", data, 80)
caps = struct.unpack_from("<I", data, 108)[0]
header = 148 if dx10 else 128
if data[:4] != b"DDS " or size != 124:
    fault("not a DDS header")
if (w, h) != (width, height):
    fault(f"{w}x{h}, not {width}x{height}")
if mips != levels:
    fault(f"{mips} levels in the header, not {levels}")
expected = [(max(1, width >> k), max(1, height >> k)) for k in range(levels)]
if len(data) != header + sum(level_bytes(*s) for s in expected):
    fault(f"{len(data)} bytes, not the header and levels {expected}")
if dx10:
    if fourcc != b"DX10" or struct.unpack_from("<I", data, 128)[0] != dxgi:
        fault("not the DX10 header of the format")
elif legacy_fourcc and fourcc != legacy_fourcc:
    fault(f"FourCC {fourcc}, not {legacy_fourcc}")
if caps != (0x401008 if levels > 1 else 0x1000):
    fault(f"caps {caps:#x}")
if pitch != (level_bytes(width, height) if block_bytes else 4 * width):
    fault(f"pitch or linear size {pitch}")


def compare(rgb, reader):
    """The decoded top level against the source, within the format's bound."""
    channels = (0, 1) if fmt == "bc5" else (0, 1, 2)
    worst, squares = 0, 0
    for i in range(width * height):
        for c in channels:
            d = abs(rgb[3 * i + c] - pixels[3 * i + c])
            worst = max(worst, d)
            squares += d * d
    rms = (squares / (width * height * len(channels))) ** 0.5
    # The map changes steeply within blocks, which a line of four colours
    # follows less well (nvcompress -bc1 leaves an RMS of about 11 on it).
    limits = {"bc5": (8, 1.5), "bc1": (48, 8.0), "bc3": (48, 8.0), "bgra8": (0, 0.0)}[fmt]
    if worst > limits[0] or rms > limits[1]:
        fault(f"{reader}: top level off by up to {worst}, RMS {rms:.2f} (bound {limits})")


try:
    from PIL import Image
except ImportError:
    Image = None

if Image and (not dx10 or fmt == "bc5"):
    try:
        with Image.open(path) as picture:
            if picture.size != (width, height):
                fault(f"Pillow reads {picture.size}")
            else:
                compare(picture.convert("RGB").tobytes(), "Pillow")
    except Exception as error:  # a file Pillow should read
        fault(f"Pillow cannot read it: {error}")

if not dx10 and shutil.which("nvdecompress"):
    with tempfile.TemporaryDirectory() as work:
        copy = os.path.join(work, "copy.dds")
        shutil.copyfile(path, copy)
        run = subprocess.run(["nvdecompress", copy], capture_output=True)
        tga = os.path.join(work, "copy.tga")
        if run.returncode != 0 or not os.path.exists(tga):
            fault("nvdecompress cannot read it")
        elif Image:
            with Image.open(tga) as picture:
                compare(picture.convert("RGB").tobytes(), "nvdecompress")

for line in faults:
    print("FAIL:", line)
sys.exit(1 if faults else 0)
