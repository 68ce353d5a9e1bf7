#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/ (run from anywhere)."""
import base64
import json
import pathlib
import struct
import zlib

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"


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


if __name__ == "__main__":
    parse_seeds()
    pixel_seeds()
