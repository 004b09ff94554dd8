"""Writes Windows BMP files: 24-bit for small sheets, RLE8 for flat-shaded scenes."""

import struct


def _headers(width, height, bits, compression, data_size, palette_size):
    offset = 14 + 40 + 4 * palette_size
    file_header = struct.pack("<2sIHHI", b"BM", offset + data_size, 0, 0, offset)
    info_header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, data_size,
                              2835, 2835, palette_size, 0)
    return file_header + info_header


def write_bmp24(path, image):
    """`image` is an RGB PIL image; rows are stored bottom-up, each padded to 4 bytes."""
    width, height = image.size
    raw = image.convert("RGB").tobytes()
    padding = bytes((4 - width * 3 % 4) % 4)
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray(raw[y * width * 3:(y + 1) * width * 3])
        row[0::3], row[2::3] = row[2::3], row[0::3]  # RGB to BGR
        rows.append(bytes(row) + padding)
    data = b"".join(rows)
    with open(path, "wb") as f:
        f.write(_headers(width, height, 24, 0, len(data), 0) + data)


def _rle8_row(indices):
    out = bytearray()
    i = 0
    n = len(indices)
    while i < n:
        j = i + 1
        while j < n and j - i < 255 and indices[j] == indices[i]:
            j += 1
        if j - i >= 3 or j == n:
            out += bytes((j - i, indices[i]))
            i = j
            continue
        # Absolute mode for a stretch of short runs: count >= 3, padded to even length.
        k = i
        while k < n and k - i < 255:
            run = 1
            while k + run < n and run < 3 and indices[k + run] == indices[k]:
                run += 1
            if run >= 3:
                break
            k += run
        k = min(k, n, i + 255)
        if k - i < 3:
            for x in range(i, k):
                out += bytes((1, indices[x]))
        else:
            out += bytes((0, k - i)) + bytes(indices[i:k])
            if (k - i) % 2:
                out += b"\x00"
        i = k
    return bytes(out)


def write_bmp_rle8(path, image):
    """`image` is a PIL image in mode P with at most 256 colours."""
    width, height = image.size
    pixels = image.tobytes()
    colours = image.getpalette()[:768]
    count = len(colours) // 3
    palette = b"".join(bytes((colours[3 * i + 2], colours[3 * i + 1], colours[3 * i], 0))
                       for i in range(count))
    data = bytearray()
    for y in range(height - 1, -1, -1):
        data += _rle8_row(pixels[y * width:(y + 1) * width])
        data += b"\x00\x00"  # end of line
    data[-2:] = b"\x00\x01"  # end of bitmap replaces the last end of line
    with open(path, "wb") as f:
        f.write(_headers(width, height, 8, 1, len(data), count) + palette + data)
