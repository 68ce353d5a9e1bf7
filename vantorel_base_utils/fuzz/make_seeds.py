#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the seed corpora of the fuzz targets into corpus/<target>/ (run from anywhere)."""
import base64
import json
import pathlib
import random
import struct
import zlib

FUZZ = pathlib.Path(__file__).resolve().parent
CORPUS = FUZZ / "corpus"
SAMPLE = FUZZ.parent / "data" / "sample_frame"


def png(width, height, pixels, colour_type=0, bit_depth=8, channels=1):
    """A minimal PNG; pixels is a row-major list of sample tuples or ints."""
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    raw = bytearray()
    sample_bytes = bit_depth // 8
    for r in range(height):
        raw.append(0)
        for c in range(width):
            value = pixels[r * width + c]
            for sample in (value if isinstance(value, tuple) else (value,) * channels):
                raw += sample.to_bytes(sample_bytes, "big")
    header = struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b""))


def segment(kind, target, payload):
    return bytes([kind, target]) + struct.pack("<H", len(payload)) + payload


def detection(cls, flags, x1, y1, w, h):
    return bytes([cls, flags, x1 & 0xFF, y1 & 0xFF, w, h])


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode())


def parse_seeds():
    t = "fuzz_parse_yolo_result"
    mask = base64.b64encode(png(2, 2, [0, 255, 255, 0])).decode()
    write(t, "empty.json", '{"bbox_xyxy_list":[],"conf_list":[],"cls_list":[]}')
    write(t, "nulls.json", '{"bbox_xyxy_list":null,"conf_list":null,"cls_list":null}')
    write(t, "full.json", json.dumps({
        "bbox_xyxy_list": [[10, 20, 30, 60], [12.5, 21, 31, 59, 7], [0, 0, 2, 2]],
        "conf_list": [0.9, 0.8, True], "cls_list": [2, 2, -1.7],
        "success": False, "message": "ok",
        "masks_base64": {"2": mask, "-1": mask},
        "instance_masks": [{"input_index": 2, "mask_base64": mask, "width": 2, "height": 2},
                           {"input_index": 2, "mask_base64": "QQ"}]}))
    write(t, "mismatch.json", '{"bbox_xyxy_list":[[0,0,1,1]],"conf_list":[],"cls_list":[1]}')
    write(t, "hostile.json", '{"bbox_xyxy_list":[[-1e39,0,1e39,1e300]],"conf_list":[1e-400],'
          '"cls_list":[1e300],"instance_masks":[{"input_index":0,"mask_base64":"A",'
          '"width":-2147483649}]}')
    write(t, "bad_entry.json", '{"bbox_xyxy_list":[],"conf_list":[],"cls_list":[],'
          '"instance_masks":[{"input_index":-1,"mask_base64":"A"}],"masks_base64":["x"]}')
    write(t, "repeated.json", '{"bbox_xyxy_list":[],"conf_list":[],"cls_list":[],'
          '"instance_masks":[{"input_index":0,"mask_base64":"A","width":1,"width":2}],'
          '"cls_list":[]}')


def pixel_seeds():
    t = "fuzz_instance_pixel_sets"
    frame = png(16, 8, [255 if (r + c) % 3 else 0 for r in range(8) for c in range(16)])
    roi = png(4, 3, [1] * 12)
    rgb = png(4, 3, [(255, 0, 0)] * 12, colour_type=2, channels=3)
    deep = png(4, 3, [65535, 0, 1, 256] * 3, bit_depth=16)
    write(t, "class_masks.bin", bytes([2]) + detection(1, 0, -3, 2, 10, 9) +
          detection(1, 0, 20, 20, 5, 5) + segment(1, 1, frame))
    write(t, "instance.bin", bytes([2]) + detection(0, 0, 5, 6, 4, 3) +
          detection(0, 0, -2, 0, 4, 3) + segment(1, 0x80, roi) + segment(1, 0x81, rgb) +
          segment(1, 0, frame))
    write(t, "deep_and_wrong.bin", bytes([1]) + detection(2, 8, 0, 0, 4, 3) +
          segment(1, 0x80, deep) + segment(1, 2, deep))
    write(t, "base64_text.bin", bytes([1]) + detection(3, 0, 1, 1, 6, 6) +
          segment(0, 3, base64.b64encode(frame)[:40] + b"\n" + base64.b64encode(frame)[40:]))
    write(t, "hostile_corners.bin", bytes([3]) + detection(1, 0x01, 0, 0, 4, 4) +
          detection(1, 0x12, 0, 0, 4, 4) + detection(1, 0x24, 0, 0, 4, 3) +
          segment(1, 1, frame) + segment(1, 0x82, roi))
    write(t, "declares_huge.bin", bytes([1]) + detection(0, 0, 0, 0, 4, 3) +
          segment(1, 0, png(4, 3, [0] * 12)[:16] + struct.pack(">II", 60000, 60000) +
                  png(4, 3, [0] * 12)[24:]))


def bmp(width, height, gray):
    """A 24-bit bottom-up BMP whose pixels all have the same gray value."""
    row = bytes([gray] * 3 * width) + bytes((4 - 3 * width % 4) % 4)
    pixels = row * height
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(header) + len(pixels), 0, 0, 54) + header + pixels


def road_seeds():
    t = "fuzz_detection_road"
    roi = png(3, 2, [0, 255, 1, 255, 0, 9])
    frame = png(8, 6, [255 if (r * 8 + c) % 4 else 0 for r in range(6) for c in range(8)])
    write(t, "sample_frame.json", (SAMPLE / "detections.json").read_text())
    write(t, "class_and_instance.json", json.dumps({
        "bbox_xyxy_list": [[1, 1, 4, 3], [0, 0, 8, 6], [2.7, 1.2, 5.9, 3.5]],
        "conf_list": [0.9, 0.8, 0.7], "cls_list": [1, 2, 1],
        "masks_base64": {"2": base64.b64encode(frame).decode()},
        "instance_masks": [{"input_index": 0, "mask_base64": base64.b64encode(roi).decode(),
                            "width": 3, "height": 2},
                           {"input_index": 2, "mask_base64": base64.b64encode(roi).decode(),
                            "width": 3, "height": 2}]}))
    write(t, "misfit.json", json.dumps({
        "bbox_xyxy_list": [[0, 0, 2, 2]], "conf_list": [0.5], "cls_list": [0],
        "instance_masks": [{"input_index": 0, "mask_base64": base64.b64encode(roi).decode(),
                            "width": 3, "height": 2}]}))


def codec_seeds():
    t = "fuzz_mask_codec"
    gray = png(4, 3, [0, 1, 128, 255] * 3)
    write(t, "gray.png", gray)
    write(t, "gray.b64", base64.b64encode(gray))
    write(t, "rgb16.png", png(2, 2, [(65535, 0, 1)] * 4, colour_type=2, bit_depth=16, channels=3))
    write(t, "gray.bmp", bmp(3, 2, 77))
    write(t, "lines_and_padding.b64", base64.b64encode(gray)[:20] + b"\r\n-_ " +
          base64.b64encode(gray)[20:] + b"=QUJD")
    write(t, "one_byte.b64", b"QQ")
    write(t, "truncated.png", gray[:30])


def filtered_rows(width, height, depth, values, filters):
    """Gray samples packed at `depth` bits, each row behind its filter type byte."""
    packed = []
    for r in range(height):
        row, bits, acc = bytearray(), 0, 0
        for c in range(width):
            acc, bits = (acc << depth) | values[r * width + c], bits + depth
            if bits == 8:
                row.append(acc)
                acc, bits = 0, 0
        if bits:
            row.append(acc << (8 - bits))
        packed.append(bytes(row))
    raw, above = bytearray(), bytes(len(packed[0]))
    for r, row in enumerate(packed):
        kind = filters[r % len(filters)]
        raw.append(kind)
        for i, x in enumerate(row):
            a = row[i - 1] if i else 0
            b, c = above[i], above[i - 1] if i else 0
            if kind == 1:
                x -= a
            elif kind == 2:
                x -= b
            elif kind == 3:
                x -= (a + b) // 2
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                x -= a if pa <= pb and pa <= pc else (b if pb <= pc else c)
            raw.append(x & 0xFF)
        above = row
    return bytes(raw)


def gray_png(width, height, depth, values, filters=(0,), level=6, strategy=zlib.Z_DEFAULT_STRATEGY,
             idat_size=None, stream=None):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    if stream is None:
        packer = zlib.compressobj(level, zlib.DEFLATED, 15, 8, strategy)
        raw = filtered_rows(width, height, depth, values, filters)
        stream = packer.compress(raw) + packer.flush()
    step = idat_size or len(stream)
    idats = b"".join(chunk(b"IDAT", stream[i:i + step]) for i in range(0, len(stream), step))
    header = struct.pack(">IIBBBBB", width, height, depth, 0, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + idats + chunk(b"IEND", b"")


class BitWriter:
    """Deflate's bit order: fields least significant bit first, Huffman codes from the top."""
    def __init__(self):
        self.bits = []

    def field(self, value, count):
        self.bits += [(value >> i) & 1 for i in range(count)]

    def code(self, value, length):
        self.bits += [(value >> (length - 1 - i)) & 1 for i in range(length)]

    def data(self):
        padded = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(sum(b << i for i, b in enumerate(padded[k:k + 8]))
                     for k in range(0, len(padded), 8))


def fixed_literal(w, symbol):
    if symbol < 144:
        w.code(0x30 + symbol, 8)
    elif symbol < 256:
        w.code(0x190 + symbol - 144, 9)
    elif symbol < 280:
        w.code(symbol - 256, 7)
    else:
        w.code(0xC0 + symbol - 280, 8)


def zlib_stream(deflate, raw):
    return b"\x78\x01" + deflate + struct.pack(">I", zlib.adler32(raw))


def out_of_zlib_rules_seeds():
    """Streams the fast inflater decodes and zlib refuses: the image library must win."""
    t = "fuzz_png_gray_decode"
    # 260 zero bytes: filter byte, first pixel, then litlen symbol 286 (read as length 258).
    w = BitWriter()
    w.field(1, 1), w.field(1, 2)
    fixed_literal(w, 0), fixed_literal(w, 0), fixed_literal(w, 286), w.code(0, 5)
    fixed_literal(w, 256)
    write(t, "symbol_286.png", gray_png(259, 1, 8, None, stream=zlib_stream(w.data(), bytes(260))))
    # Distance symbol 30 once 24 KiB of zeros exist.
    w = BitWriter()
    w.field(1, 1), w.field(1, 2)
    fixed_literal(w, 0)
    for _ in range(100):
        fixed_literal(w, 285), w.code(0, 5)  # length 258, distance 1
    fixed_literal(w, 257), w.code(30, 5), w.field(0, 13)  # length 3, distance 24577
    fixed_literal(w, 256)
    size = 1 + 100 * 258 + 3
    write(t, "distance_30.png", gray_png(size - 1, 1, 8, None,
                                         stream=zlib_stream(w.data(), bytes(size))))


def png_gray_seeds():
    t = "fuzz_png_gray_decode"
    rng = random.Random(15)
    w, h = 37, 9
    blobs = [255 if ((c - 18) ** 2 + (r - 4) ** 2 * 6) < 150 else 0 for r in range(h) for c in range(w)]
    noise = [rng.randrange(256) for _ in range(w * h)]
    write(t, "mask_sub.png", gray_png(w, h, 8, blobs, filters=(1,), level=1, strategy=zlib.Z_RLE))
    write(t, "noise_all_filters.png", gray_png(w, h, 8, noise, filters=(0, 1, 2, 3, 4)))
    write(t, "fixed_codes.png", gray_png(w, h, 8, noise, filters=(4, 3), strategy=zlib.Z_FIXED))
    write(t, "stored.png", gray_png(w, h, 8, noise, level=0))
    write(t, "split_idat.png", gray_png(w, h, 8, blobs, filters=(2, 1), idat_size=7))
    for depth in (1, 2, 4):
        values = [rng.randrange(1 << depth) for _ in range(w * h)]
        write(t, "depth_%d.png" % depth, gray_png(w, h, depth, values, filters=(0, 1, 2, 3, 4)))
    write(t, "trailing_bytes.png", gray_png(w, h, 8, blobs) + b"after the end")
    # Depth as a camera stores it, which the silent libpng road decodes whole.
    write(t, "sixteen_bit.png", png(w, h, [rng.randrange(65536) for _ in range(w * h)],
                                     bit_depth=16))
    out_of_zlib_rules_seeds()


def write_each(target, seeds):
    for name, data in seeds.items():
        write(target, name, data)


def image_points_seeds():
    write_each("fuzz_image_points", {
        "shapes.json": '[[3,2],{"x":5,"y":1},{"u":0,"v":3},[1,0,11],[-1,2],[6,0]]',
        "fallback.json": '[{"x":1.5,"y":2,"u":3,"v":0}]',
        "bad_entry.json": '[[3.0,4],[3],{"x":1},[true],[null],[5]]',
        "not_array.json": '{"points":[]}',
        "huge.json": '[[2147483648,0],[-2147483649,1],[18446744073709551615,2]]'})


def transform_seeds():
    write_each("fuzz_transform_json", {
        "sample.json": (SAMPLE / "camera_to_arm_base.json").read_text(),
        "identity.json": '{"translation":[0,0,0],"rotation":[2,0,0,0]}',
        "zero_quaternion.json": '{"translation":[1,-2,3],"rotation":[0,0,0,0]}',
        "tiny_and_huge.json": '{"translation":[1e300,0,-1e-300],"rotation":[0,1e200,0,1e200]}',
        "wrong_kinds.json": '{"translation":[0,0],"rotation":[1,0,0,"0"]}'})


def offset_seeds():
    t = "fuzz_orientation_offset"
    rng = random.Random(9)

    def seed(name, document):
        write(t, name, json.dumps(document).encode() + bytes(rng.randrange(256) for _ in range(96)))

    seed("force.json", {"end_pose": [1, 2, 3], "force_vector": [0, 0, -10]})
    seed("tool_z.json", {"end_pose": [0, 0, 0, 9], "pose": [0, 0, 0, 1, 0, 0, 0]})
    seed("ray.json", {"end_pose": [0, 0, 0.5], "force_vector": [1, 0, 0],
                      "pose": [0, 0, 0, 0, 1, 0, 0]})
    seed("vertical_force.json", {"end_pose": [0, 0, 0], "force_vector": [0, 0, 5]})
    seed("wrong_kinds.json", {"end_pose": [0, "1", 2], "force_vector": [1, 1], "pose": [1] * 6})


def yaml_seeds():
    t = "fuzz_yaml_file"
    write(t, "camera.yaml", (SAMPLE / "camera.yaml").read_text())
    write(t, "pose_info.yaml", "pose_info:\n  - {x: 1, y: 0x1F, z: .inf}\n  - [on, ~, 017, '3']\n"
          "name: robot\n")
    write(t, "aliases.yaml", "a: &a [1, 2, {k: v}]\nb: *a\nc: {*a : 1}\n? [x]\n: y\n")
    write(t, "scalars.yaml", "- 2147483648\n- -.NaN\n- Yes\n- !!binary aGVsbG8=\n- |\n  text\n"
          "- \"\\u00e9\\x01\"\n")
    write(t, "alias_levels.yaml", "a: &a [x, 1, .5]\nb: &b [*a, *a, *a]\nc: [*b, *b, {k: *b}]\n")
    write(t, "documents.yaml", "---\nfirst: 1\n...\n---\nsecond: 2\n")
    write(t, "empty.yaml", "# only a comment\n")
    write(t, "camera_strict.yaml", "height: 480\nwidth: 640\nk: [481.2, 0, 319.5, 0, -480, 239.5, 0, 0, 1]\n"
          "d: [0.1, 0, 0, 0, 0]\nk: [1]\n---\nheight: 1\n")
    write(t, "stray_comma.yaml", ",--\nfirst: 1\n...\n---\nsecond: 3\n")


def json_file_seeds():
    write_each("fuzz_json_file", {
        "object.json": '{"b":1,"a":[true,null,1.5e3,"\\u00e9"]}',
        "trailing.json": '{"a":1} and more words',
        "comment.json": '// note\n{"a":1}',
        "nested.json": "[" * 64 + "]" * 64,
        "empty.json": ""})


def set_cover_seeds():
    t = "fuzz_set_cover"
    rng = random.Random(3)
    for size in (0, 8, 24, 40, 64):
        write(t, "random_%d.bin" % size, bytes(rng.randrange(256) for _ in range(size)))


if __name__ == "__main__":
    parse_seeds()
    pixel_seeds()
    road_seeds()
    png_gray_seeds()
    codec_seeds()
    image_points_seeds()
    transform_seeds()
    offset_seeds()
    yaml_seeds()
    json_file_seeds()
    set_cover_seeds()
