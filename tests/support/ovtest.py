"""Readers the shell tests share: the screenshots and the scene dumps."""
import json
import struct
import zlib


def read_png(path):
    """(width, height, rows) of an 8-bit RGBA PNG; rows[y][x * 4 + c]."""
    data = open(path, 'rb').read()
    pos, idat, w, h = 8, b'', 0, 0
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b'IHDR':
            w, h = struct.unpack('>II', body[:8])
        if kind == b'IDAT':
            idat += body
        pos += 12 + n
    raw, rows, prev = zlib.decompress(idat), [], bytearray(w * 4)
    for y in range(h):
        f, line = raw[y * (w * 4 + 1)], bytearray(raw[y * (w * 4 + 1) + 1:(y + 1) * (w * 4 + 1)])
        for i in range(len(line)):
            a, b, c = line[i - 4] if i >= 4 else 0, prev[i], prev[i - 4] if i >= 4 else 0
            p = a + b - c
            pr = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else (b if abs(p - b) <= abs(p - c) else c)
            line[i] = (line[i] + [0, a, b, (a + b) // 2, pr][f]) & 255
        rows.append(line)
        prev = line
    return w, h, rows


def clumps(dump_path):
    """Every clump of a scene dump, children included, in dump order."""
    def tree(c):
        yield c
        for k in c.get('children', []):
            yield from tree(k)

    def objects(objs):
        for o in objs:
            for c in o['clumps']:
                yield from tree(c)
            yield from objects(o['children'])

    return list(objects(json.load(open(dump_path))['objects']))
