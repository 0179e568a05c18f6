#!/usr/bin/env bash
# The generated DDS files against other decoders, where they are installed:
# - quorvel-cli's 24-bit BMP of each file against Pillow's decode (DX10 BC5
#   and BC7, ATI1, ATI2, R8G8B8A8) and nvdecompress's (the legacy ATI1 and
#   ATI2, uncompressed layouts), colour for colour (BC5: red and green; the
#   peers leave blue 0);
# - the expected pictures the unit tests hold the reader to (tests/data/dds/
#   expected) against Pillow's decode with its alpha (BC7, DXT3, DXT5 alpha).
# - where nvcompress is installed, its ATI1 and ATI2 files (with mipmaps) of
#   the bundled sample against Pillow and nvdecompress.
# Files whose colour blocks the peers widen differently (DXT1 to DXT5: they
# repeat the top bits of 5-6-5 colours, this reader shifts them) are compared
# by alpha only. Usage: dds_peers.sh QUORVEL_CLI TESTS_DATA_DIR
set -uo pipefail
cli=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python=""
for candidate in python3 /usr/bin/python3; do
  if "$candidate" -c 'import PIL' 2>/dev/null; then python=$candidate; break; fi
done
if [ -z "$python" ]; then
  echo "SKIP: no Python with Pillow"
  exit 0
fi

for name in dx10_bc5_unorm dx10_bc7 dx10_bc7_random ati1 ati2 dx10_rgba8 dx10_cube_array argb8888 a4r4g4b4 rgb888; do
  "$cli" "$data/dds/$name.dds" "$work/$name.bmp" || echo "FAIL: $name.dds did not convert"
  if command -v nvdecompress >/dev/null; then
    cp "$data/dds/$name.dds" "$work/" && (cd "$work" && nvdecompress "$name.dds" >/dev/null 2>&1)
  fi
done

sample="$(dirname "$0")/../../samples/sphere_normals.bmp"
if command -v nvcompress >/dev/null && command -v nvdecompress >/dev/null && [ -f "$sample" ]; then
  "$python" -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])' "$sample" "$work/sphere.png"
  for kind in bc4 bc5; do
    nvcompress -"$kind" "$work/sphere.png" "$work/nv_$kind.dds" >/dev/null 2>&1 &&
      (cd "$work" && nvdecompress "nv_$kind.dds" >/dev/null 2>&1) &&
      "$cli" "$work/nv_$kind.dds" "$work/nv_$kind.bmp" || echo "FAIL: nvcompress -$kind file did not convert"
  done
fi

"$python" - "$data/dds" "$work" <<'EOF'
import os
import sys

from PIL import Image

dds, work = sys.argv[1], sys.argv[2]
failed = False


def pam(name):
    with open(os.path.join(dds, 'expected', name + '.pam'), 'rb') as f:
        data = f.read()
    head, body = data.split(b'ENDHDR\n', 1)
    fields = dict(line.split(' ', 1) for line in head.decode().splitlines()[1:])
    width, height, depth = int(fields['WIDTH']), int(fields['HEIGHT']), int(fields['DEPTH'])
    return [tuple(body[i:i + depth]) for i in range(0, width * height * depth, depth)]


def compare(what, ours, theirs, channels):
    global failed
    differing = sum(1 for a, b in zip(ours, theirs) if tuple(a[c] for c in channels) != tuple(b[c] for c in channels))
    if len(ours) != len(theirs) or differing:
        print('FAIL %s: %d of %d pixels differ' % (what, differing, len(ours)))
        failed = True
    else:
        print('%s: %d pixels agree' % (what, len(ours)))


def pillow(name):
    with Image.open(os.path.join(dds, name + '.dds')) as im:
        im.load()
        return list(im.convert('RGBA').getdata())


def ours(name):
    with Image.open(os.path.join(work, name + '.bmp')) as im:
        return list(im.convert('RGB').getdata())


two = (0, 1)
rgb = (0, 1, 2)
for name, channels in (('dx10_bc5_unorm', two), ('dx10_bc7', rgb), ('dx10_bc7_random', rgb), ('ati1', rgb),
                       ('ati2', two), ('dx10_rgba8', rgb), ('dx10_cube_array', rgb), ('argb8888', rgb)):
    compare('quorvel-cli and Pillow, ' + name, ours(name), pillow(name), channels)
# The reserved BC7 block is transparent black as the format says; Pillow
# makes it opaque, so the alpha of dx10_bc7 is compared on the other blocks.
expected, theirs = pam('dx10_bc7'), pillow('dx10_bc7')
keep = [i for i in range(len(expected)) if (i % 11) < 8 or (i // 11) < 8]
compare('alpha and colour, Pillow, dx10_bc7 (reserved block left out)', [expected[i] for i in keep],
        [theirs[i] for i in keep], (0, 1, 2, 3))
compare('alpha and colour, Pillow, dx10_bc7_random', pam('dx10_bc7_random'), pillow('dx10_bc7_random'), (0, 1, 2, 3))
for name in ('dxt3', 'dxt5'):
    compare('alpha, Pillow, ' + name, pam(name), pillow(name), (3,))

for name, channels in (('ati1', rgb), ('ati2', two), ('argb8888', rgb), ('a4r4g4b4', rgb), ('rgb888', rgb)):
    path = os.path.join(work, name + '.tga')
    if not os.path.exists(path):
        print('SKIP nvdecompress, %s: not installed or no output' % name)
        continue
    with Image.open(path) as im:
        compare('quorvel-cli and nvdecompress, ' + name, ours(name), list(im.convert('RGB').getdata()), channels)
for name, channels in (('nv_bc4', rgb), ('nv_bc5', two)):
    path = os.path.join(work, name + '.tga')
    if not os.path.exists(os.path.join(work, name + '.bmp')) or not os.path.exists(path):
        print('SKIP %s: nvcompress and nvdecompress not installed' % name)
        continue
    with Image.open(path) as im:
        compare('quorvel-cli and nvdecompress, nvcompress file ' + name, ours(name), list(im.convert('RGB').getdata()),
                channels)
    with Image.open(os.path.join(work, name + '.dds')) as im:
        compare('quorvel-cli and Pillow, nvcompress file ' + name, ours(name), list(im.convert('RGB').getdata()),
                channels)
sys.exit(1 if failed else 0)
EOF
