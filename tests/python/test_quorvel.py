"""import quorvel held to quorvel-cli: every function on small generated maps against the command line's
output for the same input, byte for byte; the exceptions; two threads; the Dask folder run."""
import json
import os
import subprocess
import threading
from pathlib import Path

import numpy as np
import pytest

import quorvel

ROOT = Path(__file__).resolve().parents[2]
CLI = os.environ.get("QUORVEL_CLI", str(ROOT / "build" / "linux" / "quorvel-cli"))


def cli(*arguments, check=True):
    run = subprocess.run([CLI, *map(str, arguments)], capture_output=True, text=True)
    if check and run.returncode not in (0, 5):
        raise AssertionError(f"quorvel-cli {arguments}: {run.returncode} {run.stderr}")
    return run


def normal_map(height=24, width=20, bits=8, alpha=False, directx=False, seed=0):
    """A map of a bumpy height (a few bumps, some noise), its normals encoded as the formats hold them."""
    y, x = np.mgrid[0:height, 0:width].astype(np.float64)
    rng = np.random.default_rng(seed)
    h = sum(np.sin(x / rng.uniform(1.5, 4) + rng.uniform(0, 6)) * np.cos(y / rng.uniform(1.5, 4)) for _ in range(3))
    dx, dy = np.gradient(h * 2.0, axis=1), np.gradient(h * 2.0, axis=0)
    n = np.stack([-dx, dy if directx else -dy, np.ones_like(h)], axis=-1)
    n /= np.linalg.norm(n, axis=-1, keepdims=True)
    top = 65535 if bits == 16 else 255
    samples = np.round((n * 0.5 + 0.5) * top).astype(np.uint16 if bits == 16 else np.uint8)
    if alpha:
        samples = np.concatenate([samples, rng.integers(0, top, (height, width, 1)).astype(samples.dtype)], axis=-1)
    return samples


@pytest.fixture
def folder(tmp_path):
    return tmp_path


def written(folder, array, name="in.png"):
    path = folder / name
    quorvel.save(path, array)
    return path


# One row per behaviour: the module's options, quorvel-cli's, the output format and the map.
ADJUSTING = [
    ({"invert_green": True}, ["--invert-green"], "png", dict()),
    ({"renormalize": True, "scale": 2.0}, ["--renormalize", "--scale", "2.0"], "png", dict()),
    ({"to": "directx"}, ["--to", "directx"], "png", dict()),
    ({"invert_red": True, "invert_blue": True}, ["--invert-red", "--invert-blue"], "tga", dict(alpha=True)),
    ({"renormalize": True}, ["--renormalize"], "png", dict(bits=16)),
    ({"renormalize": True}, ["--renormalize"], "tif", dict(bits=16, alpha=True)),
    ({"dds": "bc5"}, ["--dds", "bc5"], "dds", dict()),
    ({"dds": "bc1", "mips": 2}, ["--dds", "bc1", "--mips", "2"], "dds", dict(bits=16)),
    ({"invert_green": True}, ["--invert-green"], "bmp", dict()),
    # Large enough to be cut into bands, rows adjusted a run at a time.
    ({"renormalize": True, "scale": 0.5}, ["--renormalize", "--scale", "0.5"], "png", dict(height=1500, width=1504)),
    ({"renormalize": True, "invert_green": True}, ["--renormalize", "--invert-green"], "tif",
     dict(height=40, width=1030, bits=16, alpha=True)),
]


@pytest.mark.parametrize("options,arguments,format,made", ADJUSTING)
def test_encode_and_save_write_the_bytes_quorvel_cli_writes(folder, options, arguments, format, made):
    source = written(folder, normal_map(**made))
    cli(*arguments, source, folder / f"cli.{format}")
    expected = (folder / f"cli.{format}").read_bytes()
    assert quorvel.encode(quorvel.load(source), format=format, **options) == expected
    quorvel.save(folder / f"module.{format}", quorvel.load(source), **options)
    assert (folder / f"module.{format}").read_bytes() == expected


@pytest.mark.parametrize("options,arguments,format,made", [row for row in ADJUSTING if row[2] != "dds"])
def test_adjust_gives_the_pixels_quorvel_cli_writes(folder, options, arguments, format, made):
    source = written(folder, normal_map(**made))
    cli(*arguments, source, folder / "cli.png")
    adjusted = quorvel.adjust(quorvel.load(source), **options)
    assert adjusted.dtype == quorvel.load(source).dtype
    np.testing.assert_array_equal(adjusted, quorvel.load(folder / "cli.png"))


@pytest.mark.parametrize("made", [dict(), dict(bits=16), dict(alpha=True), dict(bits=16, alpha=True)])
def test_load_and_decode_give_the_samples_saved(folder, made):
    array = normal_map(**made)
    path = written(folder, array)
    pixels, info = quorvel.load(path, info=True)
    np.testing.assert_array_equal(pixels, array)
    assert pixels.flags.c_contiguous and pixels.flags.writeable
    pixels[0, 0, 0] ^= 1  # the array's own memory
    assert not np.array_equal(pixels, quorvel.load(path))
    np.testing.assert_array_equal(quorvel.decode(path.read_bytes()), array)
    assert info == {"format": "PNG", "bit_depth": made.get("bits", 8), "alpha": made.get("alpha", False),
                    "size": (array.shape[1], array.shape[0])}


@pytest.mark.parametrize("view", [lambda a: a[::-1], lambda a: a[:, ::2], lambda a: np.asfortranarray(a),
                                  lambda a: a.transpose(1, 0, 2)])
def test_strided_arrays_read_as_their_contiguous_copies(view):
    array = view(normal_map(alpha=True))
    np.testing.assert_array_equal(quorvel.adjust(array, invert_green=True),
                                  quorvel.adjust(np.ascontiguousarray(array), invert_green=True))


@pytest.mark.parametrize("made,expect", [(dict(), None), (dict(directx=True), "opengl"), (dict(bits=16), "opengl")])
def test_detect_and_check_say_what_quorvel_cli_says(folder, made, expect):
    source = written(folder, normal_map(48, 48, **made))
    detected = json.loads(cli("--detect", "--json", source).stdout)
    assert tuple(quorvel.detect(quorvel.load(source)))[:2] == (detected["convention"],
                                                                 pytest.approx(detected["confidence"], abs=5e-3))
    arguments = ["--check", "--json"] + (["--expect", expect] if expect else []) + [source]
    checked = json.loads(cli(*arguments).stdout)
    for key in ("path", "container", "payload"):  # an array has no file
        del checked[key]
    assert quorvel.check(quorvel.load(source), expect=expect)._asdict() == checked


MAKING = [
    (lambda a, f: quorvel.fix(a, expect="opengl"), ["--fix", "--expect", "opengl"], dict(directx=True)),
    (lambda a, f: quorvel.from_height(a, height_channel="r", height_scale=4),
     ["--from-height", "--height-channel", "r", "--height-scale", "4"], dict()),
    (lambda a, f: quorvel.from_height(a, filter="scharr", depth=8), ["--from-height", "--filter", "scharr",
                                                                     "--depth", "8"], dict(bits=16)),
    (lambda a, f: quorvel.blend(a, quorvel.load(f / "detail.png"), mode="whiteout", strength=0.5),
     ["--blend", "DETAIL", "--blend-mode", "whiteout", "--blend-strength", "0.5"], dict()),
]


@pytest.mark.parametrize("call,arguments,made", MAKING)
def test_map_makers_give_the_pixels_quorvel_cli_writes(folder, call, arguments, made):
    source = written(folder, normal_map(**made))
    written(folder, normal_map(seed=3), "detail.png")
    arguments = [str(folder / "detail.png") if a == "DETAIL" else a for a in arguments]
    cli(*arguments, source, folder / "cli.png")
    np.testing.assert_array_equal(call(quorvel.load(source), folder), quorvel.load(folder / "cli.png"))


def test_to_height_gives_the_float_heights_quorvel_cli_writes(folder):
    source = written(folder, normal_map(32, 32))
    cli("--to-height", "--convention", "opengl", "--depth", "float", source, folder / "cli.tif")
    from PIL import Image
    expected = np.asarray(Image.open(folder / "cli.tif"), dtype=np.float32)
    np.testing.assert_array_equal(quorvel.to_height(quorvel.load(source), convention="opengl"), expected)


def test_mips_are_the_levels_of_a_bgra8_texture(folder):
    source = written(folder, normal_map(16, 12))
    cli("--renormalize", "--dds", "bgra8", source, folder / "cli.dds")
    payload = np.frombuffer((folder / "cli.dds").read_bytes()[128:], np.uint8)
    levels = quorvel.mips(quorvel.load(source), renormalize=True)
    assert [level.shape for level in levels] == [(16, 12, 3), (8, 6, 3), (4, 3, 3), (2, 1, 3), (1, 1, 3)]
    start = 0
    for level in levels:
        count = level.shape[0] * level.shape[1] * 4
        np.testing.assert_array_equal(level, payload[start:start + count].reshape(*level.shape[:2], 4)[:, :, 2::-1])
        start += count
    assert start == payload.size


BAD = [
    (lambda: quorvel.adjust(np.zeros((4, 4, 3), np.float32)), quorvel.Error, "uint8 or uint16"),
    (lambda: quorvel.adjust(np.zeros((4, 4, 2), np.uint8)), quorvel.Error, "3 (RGB) or 4 (RGBA)"),
    (lambda: quorvel.adjust(np.zeros((0, 4, 3), np.uint8)), quorvel.Error, "no pixels"),
    (lambda: quorvel.adjust(np.zeros(7, np.uint8)), quorvel.Error, "not one of 1 dimension"),
    (lambda: quorvel.adjust(normal_map(), bogus=True), quorvel.Error, "--bogus"),
    (lambda: quorvel.adjust(normal_map(), to="sideways"), quorvel.Error, "--to takes opengl or directx"),
    (lambda: quorvel.encode(normal_map(), format="xyz"), quorvel.Error, "OUTPUT must end in"),
    (lambda: quorvel.encode(normal_map(), format="png", dds="bc5"), quorvel.Error, "go with a .dds OUTPUT"),
    (lambda: quorvel.decode(b"\x89PNG\r\n\x1a\n" + bytes(40)), quorvel.Error, "not a PNG file"),
    (lambda: quorvel.decode(b"DDS " + bytes(200)), quorvel.Error, "DDS"),
    (lambda: quorvel.decode(b"garbage"), quorvel.Error, "first bytes"),
    (lambda: quorvel.load("/no/such/file.png"), FileNotFoundError, "file.png"),
    (lambda: quorvel.save("/no/such/folder/out.png", normal_map()), OSError, "out.png"),
    (lambda: quorvel.to_height(np.full((8, 8, 3), 128, np.uint8)), quorvel.Error, "convention"),
    (lambda: quorvel.from_height(np.full((4, 4), np.nan, np.float32)), quorvel.Error, "not finite"),
    (lambda: quorvel.fix(np.random.default_rng(0).integers(0, 256, (32, 32, 3), np.uint8)), quorvel.Error,
     "not written: not-a-normal-map"),
]


@pytest.mark.parametrize("format,options", [("png", {}), ("dds", {"dds": "bc5"}), ("dds", {"dds": "bgra8"}),
                                            ("tga", {}), ("bmp", {}), ("tif", {})])
def test_every_cut_of_a_file_is_read_whole_or_refused(format, options):
    array = normal_map(8, 12, alpha=format in ("png", "tga", "tif"))
    data = quorvel.encode(array, format=format, **options)
    whole, info = quorvel.load(data, info=True, format=format)
    if format != "dds":
        np.testing.assert_array_equal(whole, array)
    else:
        named = {"bc5": "BC5", "bgra8": "channel masks"}[options["dds"]]  # legacy headers give masks for BGRA
        assert info["payload"] == {"format": named, "signed": False, "dx10": False,
                                   "offset": 128, "bytes": len(data) - 128}
    for length in range(len(data)):
        try:
            part = quorvel.load(data[:length], format=format)
        except quorvel.Error:
            continue
        assert part.shape == whole.shape  # a reader may take a file cut in its trailer


@pytest.mark.parametrize("call,kind,words", BAD)
def test_bad_input_raises_with_the_programs_message(call, kind, words):
    with pytest.raises(kind) as raised:
        call()
    assert words in str(raised.value)
    assert issubclass(quorvel.Error, ValueError)


def test_two_threads_each_get_their_own_result():
    maps = [normal_map(256, 256, seed=s) for s in (1, 2)]
    alone = [quorvel.adjust(m, renormalize=True, scale=1.5) for m in maps]
    together = [None, None]

    def work(i):
        for _ in range(5):
            together[i] = quorvel.adjust(maps[i], renormalize=True, scale=1.5)

    threads = [threading.Thread(target=work, args=(i,)) for i in (0, 1)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, b in zip(alone, together):
        np.testing.assert_array_equal(a, b)


def test_dask_example_converts_a_folder_as_quorvel_cli_does(folder):
    source = folder / "maps"
    (source / "sub").mkdir(parents=True)
    for i, made in enumerate([dict(), dict(directx=True), dict(bits=16)]):
        written(source, normal_map(40, 40, seed=i, **made), f"m{i}.png")
    written(source / "sub", normal_map(40, 40, seed=7, directx=True), "t.tga")
    (source / "broken.png").write_bytes(b"\x89PNG\r\n\x1a\nbroken")
    run = cli("--to", "directx", "-r", "--out-dir", folder / "cli", source, check=False)
    example = subprocess.run(["/usr/bin/python3", str(ROOT / "examples" / "dask_convert.py"), str(source),
                              str(folder / "dask"), "--to", "directx"], capture_output=True, text=True)
    assert example.stdout == run.stdout and example.returncode == 1
    assert "broken.png" in example.stderr
    outputs = sorted(p.relative_to(folder / "cli") for p in (folder / "cli").rglob("*.*"))
    assert outputs == sorted(p.relative_to(folder / "dask") for p in (folder / "dask").rglob("*.*"))
    assert len(outputs) == 4
    for name in outputs:
        assert (folder / "cli" / name).read_bytes() == (folder / "dask" / name).read_bytes()
    from quorvel.dask import convert_tree
    from distributed import Client, LocalCluster
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, Client(cluster) as c:
        again = convert_tree(source, folder / "dask", client=c, to="directx", update=True)
    assert again.up_to_date and len(again.up_to_date) == 4 and list(again.failures) == [str(source / "broken.png")]


@pytest.mark.parametrize("told,settled", [({}, "True"), ({"MALLOC_TRIM_THRESHOLD_": "65536"}, "True"),
                                          ({"MALLOC_MMAP_THRESHOLD_": "131072"}, "False")])
def test_a_workers_buffers_stay_on_the_heap_unless_the_process_was_told_a_threshold(told, settled):
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("the address sanitizer's allocator takes no malloc thresholds")
    env = {k: v for k, v in os.environ.items() if not k.startswith("MALLOC_")}
    run = subprocess.run(["/usr/bin/python3", "-c", "import quorvel; print(quorvel._quorvel.keep_buffers_on_the_heap())"],
                         capture_output=True, text=True, env=dict(env, **told))
    assert run.stdout.strip() == settled, run.stderr
