"""Quorvel: tangent-space normal maps as NumPy arrays.

Pictures are arrays of height x width x channels (3: RGB, 4: RGBA) of uint8
or uint16 samples; any strides are taken (copied once). Every function
returns new arrays. Options are keyword arguments named as quorvel-cli names
them, read by its own parser: ``invert_green=True`` is ``--invert-green``,
``scale=2.0`` is ``--scale 2.0``, ``to="opengl"`` is ``--to opengl``,
``dds="bc5"`` is ``--dds bc5``. A refused option or argument raises
:class:`quorvel.Error` (a ValueError) with the program's message; a file
that cannot be opened or written raises OSError. The pixel work runs on the
program's own threads with the GIL released.

    >>> import numpy as np, quorvel
    >>> flat = np.full((4, 4, 3), (128, 128, 255), np.uint8)
    >>> quorvel.adjust(flat, invert_green=True)[0, 0]
    array([128, 127, 255], dtype=uint8)
"""

import collections as _collections
import json as _json
import os as _os
import tempfile as _tempfile

import numpy as _np

from . import _quorvel
from ._quorvel import Error

__all__ = ["Error", "Detection", "Findings", "load", "save", "encode", "decode", "adjust", "detect", "check",
           "fix", "from_height", "to_height", "blend", "mips", "version"]

version = _quorvel.version

Detection = _collections.namedtuple("Detection", "convention confidence reason")
Detection.__doc__ = """A green convention as detect() tells it: convention "opengl", "directx" or
"unknown", confidence 0 .. 1, and why an unknown one is unknown ("" otherwise)."""

Findings = _collections.namedtuple(
    "Findings", "findings convention confidence unit_length_share mean_length negative_z_share bit_depth alpha")
Findings.__doc__ = """What check() found, in the words and figures of quorvel-cli --check --json:
findings (a list of names, empty when the map is fine), the convention and its confidence, the share of
unit-length normals, their mean length, the share with negative Z, the bit depth and whether there is alpha."""

# The first bytes that tell the formats apart, for bytes without a name.
# Targa has none: decode(data, format="tga").
_SIGNATURES = ((b"\x89PNG\r\n\x1a\n", "png"), (b"DDS ", "dds"), (b"BM", "bmp"), (b"\xff\xd8\xff", "jpg"),
               (b"II*\x00", "tif"), (b"MM\x00*", "tif"), (b"II+\x00", "tif"), (b"MM\x00+", "tif"),
               (b"8BPS", "psd"), (b"\x0a", "pcx"), (b"P1", "pbm"), (b"P4", "pbm"), (b"P2", "pgm"),
               (b"P5", "pgm"), (b"P3", "ppm"), (b"P6", "ppm"))


def _format_of(data):
    for signature, extension in _SIGNATURES:
        if data.startswith(signature):
            return extension
    raise Error("bytes: not a picture quorvel knows by its first bytes; give format= (such as format='tga')")


def load(path_or_bytes, info=False, format=None):
    """Reads a picture: a path (str or os.PathLike) or a whole file's bytes.

    Returns the pixels as an array of height x width x 3 or 4 (uint8, or
    uint16 for 16-bit files); with ``info=True`` a pair (array, info) where
    info is a dict of format, bit_depth, alpha and size (width, height).
    Bytes are told apart by their first bytes, or by ``format`` (an
    extension such as "tga"). Raises OSError when the file cannot be opened
    and quorvel.Error when it cannot be read as a picture.
    """
    if isinstance(path_or_bytes, (str, bytes, _os.PathLike)) and not isinstance(path_or_bytes, bytes):
        pixels, details = _quorvel.load(_os.fspath(path_or_bytes))
    else:
        data = bytes(path_or_bytes)
        pixels, details = _quorvel.decode(data, "bytes." + (format or _format_of(data)))
    return (pixels, details) if info else pixels


def decode(data, format=None):
    """Decodes a whole file held in memory (bytes); as load(data)."""
    return load(bytes(data), format=format)


def save(path, array, **options):
    """Writes a picture to ``path`` in the format its extension names, as quorvel-cli INPUT OUTPUT does:
    the adjustments asked for (invert_green=True, renormalize=True, scale=..., to=...) are made first,
    then the output options apply (alpha="drop", depth=8|16, dds="bc5"|"bc1"|"bc3"|"bgra8",
    dds_dx10=True, mips=N, mip_keep_length=True). The file is replaced only once whole. Notes the
    program gives (16 bits or alpha the format cannot hold) come as warnings.
    """
    _quorvel.save(_os.fspath(path), array, **options)


def encode(array, format="dds", **options):
    """The bytes of a file of ``format`` ("dds", "png", "tga", "tif", "bmp", or any extension the
    program writes), made as save() makes the file, with the same options."""
    with _tempfile.TemporaryDirectory(prefix="quorvel-") as folder:
        path = _os.path.join(folder, "picture." + str(format))
        _quorvel.save(path, array, **options)
        with open(path, "rb") as file:
            return file.read()


def adjust(array, **options):
    """The adjusted picture: to="opengl"|"directx" (detected and converted), invert_red/green/blue=True,
    scale=S (as the scale field reads it), renormalize=True; the same bytes quorvel-cli writes."""
    return _quorvel.adjust(array, **options)


def detect(array):
    """The picture's green convention as a Detection(convention, confidence, reason)."""
    return Detection(*_quorvel.detect(array))


def check(array, expect=None):
    """What is wrong with a normal map, as Findings; ``expect`` ("opengl" or "directx") also checks
    the convention, as quorvel-cli --check --expect does."""
    fields = _json.loads(_quorvel.check(array, expect))
    del fields["path"]
    return Findings(**fields)


def fix(array, **options):
    """The repaired map, as quorvel-cli --fix writes it (expect=..., alpha=..., and the adjustments).
    A map it cannot repair raises quorvel.Error saying why."""
    return _quorvel.fix(array, **options)


def from_height(heights, **options):
    """The normal map of a height map: an array of height x width x 3 or 4 (uint8 or uint16, read
    as --from-height reads a picture; height_channel="r"|"g"|"b"|"a"|"luma"), or of height x width
    (grey samples, or float heights in texel widths). Options as --from-height: height_scale,
    filter, wrap/clamp, convention, height_to_alpha, depth=8 (16-bit unless asked)."""
    heights = _np.asarray(heights)
    if heights.ndim == 2 and heights.dtype.kind in "ui":
        heights = _np.repeat(heights[:, :, None], 3, axis=2)
    return _quorvel.from_height(heights, **options)


def to_height(array, **options):
    """The height of a normal map as float32 texel widths above the lowest point (what --to-height
    writes as floats); convention= when the map's cannot be detected, filter=, clamp=True."""
    return _quorvel.to_height(array, **options)


def blend(base, detail, mode="rnm", strength=1.0, **options):
    """``detail`` laid over ``base`` (both normal maps of one size) as --blend does: mode "rnm",
    "whiteout", "udn" or "linear", strength 0 .. 1; a detail of the other convention is inverted to
    match. The other adjustments may follow as options."""
    return _quorvel.blend(base, detail, blend_mode=mode, blend_strength=strength, **options)


def mips(array, **options):
    """The re-normalised mip chain of the (adjusted) picture as a list of 8-bit RGB arrays, largest
    first, as a DDS texture holds it: mips=N levels at most, mip_keep_length=True."""
    return _quorvel.mips(array, **options)
