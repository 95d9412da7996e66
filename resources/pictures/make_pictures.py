#!/usr/bin/env python3
"""Draws the report service's pictures and writes them as GIF files next to this script.

The buttons are 23 x 22 pixels: a bevelled face with a 14 x 14 icon drawn below from
text art. "DotClear.gif" is the one transparent pixel that replaces blocked pictures.
Run it again after changing the art; the build compiles the files in as they are.

    python3 make_pictures.py [--preview DIR]   # --preview also writes enlarged PNGs
"""
import os
import struct
import sys
import zlib

WIDTH, HEIGHT = 23, 22

# Index 0 is the transparent colour; the rest are the colours the art letters name.
PALETTE = [
    (255, 0, 255),   # 0 transparent
    (0, 0, 0),       # 1 K black
    (255, 255, 255), # 2 W white
    (212, 208, 200), # 3   face
    (128, 128, 128), # 4 g shadow grey
    (204, 32, 32),   # 5 R red
    (40, 150, 40),   # 6 G green
    (40, 70, 190),   # 7 B blue
    (244, 204, 40),  # 8 Y yellow
    (232, 132, 32),  # 9 O orange
    (140, 90, 40),   # 10 N brown
    (240, 192, 152), # 11 S skin
    (152, 192, 240), # 12 L light blue
    (130, 60, 160),  # 13 P purple
    (120, 0, 0),     # 14 D dark red
    (176, 176, 176), # 15 s light grey
]
FACE = 3
ART_COLOURS = {'K': 1, 'W': 2, 'g': 4, 'R': 5, 'G': 6, 'B': 7, 'Y': 8, 'O': 9, 'N': 10,
               'S': 11, 'L': 12, 'P': 13, 'D': 14, 's': 15}

ICONS = {
    'bulk': """
..............
.....KKKKKKKKK
.....KWWWWWWWK
...KKKKKKKKKWK
...KWWWWWWWKWK
.KKKKKKKKKWKWK
.KKWWWWWKKKKKK
.KWKWWWKWKWK..
.KWWKWKWWKKK..
.KWWWKWWWK....
.KWWWWWWWK....
.KKKKKKKKK....
..............
..............""",
    'chainletter': """
..............
.KKKKKKKKKKKK.
.KWWWWWWWWWWK.
.KKWWWWWWWWKK.
.KWKWWWWWWKWK.
.KWWKKWWKKWWK.
.KWWWWKKWWWWK.
.KKKKKKKKKKKK.
..............
..ggg...ggg...
.g...g.g...g..
.g..gggggg.g..
..ggg.g..ggg..
......gggg....""",
    'hoax': """
.....RRRR.....
...RRRRRRRR...
..RRR....RRR..
..RR......RR..
..........RR..
.........RRR..
.......RRRR...
......RRR.....
......RR......
......RR......
..............
......RR......
......RR......
..............""",
    'joke': """
....KKKKKK....
...KYYYYYYK...
..KYYYYYYYYK..
.KYYKKYYKKYYK.
.KYYKKYYKKYYK.
.KYYYYYYYYYYK.
.KYYYYYYYYYYK.
.KYKYYYYYYKYK.
.KYYKYYYYKYYK.
..KYYKKKKYYK..
...KYYYYYYK...
....KKKKKK....
..............
..............""",
    'Personal': """
.....KKKK.....
....KSSSSK....
...KSSSSSSK...
...KSKSSKSK...
...KSSSSSSK...
...KSSKKSSK...
....KSSSSK....
.....KSSK.....
...KKBBBBKK...
..KBBBBBBBBK..
.KBBBBBBBBBBK.
.KBBBBBBBBBBK.
.KBBBBBBBBBBK.
.KKKKKKKKKKKK.""",
    'Petition': """
.....KKKK.....
..NNNKssKNNN..
..NWWKKKKWWN..
..NWWWWWWWWN..
..NWKKKKKKWN..
..NWWWWWWWWN..
..NWKKKKKKWN..
..NWWWWWWWWN..
..NWKKKKWWWN..
..NWWWWWWWWN..
..NWWWWWBWWN..
..NWWWWBWBWN..
..NWWWBWWWWN..
..NNNNNNNNNN..""",
    'spam': """
...gggggggg...
..gssssssssg..
..ggggggggggg.
..RRRRRRRRRR..
..RRRRRRRRRR..
..WWWWWWWWWW..
..WBBWBBWBBW..
..WBWWBWWBWW..
..WBBWBBWBBW..
..WWWWWWWWWW..
..RRRRRRRRRR..
..RRRRRRRRRR..
..ggggggggggg.
...gggggggg...""",
    'UrbanLegend': """
.....KKKK.....
...KKWWWWKK...
..KWWWWWWWWK..
..KWWKWWKWWK..
.KWWWKWWKWWWK.
.KWWWWWWWWWWK.
.KWWWWKKWWWWK.
.KWWWKWWKWWWK.
.KWWWWKKWWWWK.
.KWWWWWWWWWWK.
.KWWWWWWWWWWK.
.KWKWWKKWWKWK.
.KK.KK..KK.KK.
..............""",
    'ViewReport': """
.KKKKKKKKK....
.KWWWWWWWKK...
.KWKKKKWWKWK..
.KWWWWWWWKKKK.
.KWKKKKKWWWWK.
.KWWWWKKKKWWK.
.KWKKKLLLLKWK.
.KWWWKLWLLLKK.
.KWKKKLLLLLKK.
.KWWWKLLLLLKK.
.KWWWWKLLLKWK.
.KKKKKKKKKKgg.
..........KggK
...........KgK""",
    'Virus': """
..G...G...G...
...G..G..G....
....GGGGGG....
.G.GGDGGDGG.G.
..GGGGGGGGGG..
...GGDGGGGG...
GGGGGGGGDGGGGG
...GGGGGGGG...
..GGDGGGGDGG..
.G.GGGGDGGG.G.
....GGGGGG....
...G..G..G....
..G...G...G...
..............""",
    'Classify': """
..............
.......KKKKKK.
......KOOOOOK.
.....KOOOOKOK.
....KOOOOOOOK.
...KOOOOOOOK..
..KOOOOOOOK...
.KOOOOOOOK....
.KOOOOOOK.....
..KOOOOK......
...KOOK.......
....KK........
..............
..............""",
}


def button(icon, pressed=False):
    """The pixels of one button: rows of palette indices."""
    pixels = [[0] * WIDTH for _ in range(HEIGHT)]
    light, dark = (4, 2) if pressed else (2, 4)
    for y in range(HEIGHT):
        for x in range(WIDTH):
            corner = (x in (0, WIDTH - 1)) and (y in (0, HEIGHT - 1))
            if corner:
                continue
            if x == 0 or y == 0 or x == WIDTH - 1 or y == HEIGHT - 1:
                pixels[y][x] = 1
            elif x == 1 or y == 1:
                pixels[y][x] = light
            elif x == WIDTH - 2 or y == HEIGHT - 2:
                pixels[y][x] = dark
            else:
                pixels[y][x] = FACE
    rows = [row for row in icon.strip('\n').split('\n')]
    assert len(rows) == 14 and all(len(r) == 14 for r in rows), icon
    shift = 1 if pressed else 0
    left, top = 4 + shift, 4 + shift
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            if ch != '.':
                pixels[top + y][left + x] = ART_COLOURS[ch]
    return pixels


def lzw(indices, min_code_size):
    """GIF LZW: codes written least significant bit first, growing to 12 bits."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, bits, nbits = bytearray(), 0, 0
    size = min_code_size + 1

    def emit(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    table = {(i,): i for i in range(clear)}
    next_code = end + 1
    emit(clear)
    prefix = ()
    for index in indices:
        candidate = prefix + (index,)
        if candidate in table:
            prefix = candidate
            continue
        emit(table[prefix])
        if next_code == 4096:
            emit(clear)
            table = {(i,): i for i in range(clear)}
            next_code, size = end + 1, min_code_size + 1
        else:
            table[candidate] = next_code
            # The decoder widens after it has added the code one step behind us.
            if next_code == (1 << size) and size < 12:
                size += 1
            next_code += 1
        prefix = (index,)
    if prefix:
        emit(table[prefix])
    emit(end)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def gif(pixels, palette, transparent=0):
    height, width = len(pixels), len(pixels[0])
    depth = max(1, (len(palette) - 1).bit_length())
    colours = palette + [(0, 0, 0)] * ((1 << depth) - len(palette))
    data = bytearray(b'GIF89a')
    data += struct.pack('<HHBBB', width, height, 0x80 | (depth - 1), 0, 0)
    for r, g, b in colours:
        data += bytes((r, g, b))
    data += bytes((0x21, 0xF9, 4, 0x01, 0, 0, transparent, 0))
    data += b',' + struct.pack('<HHHHB', 0, 0, width, height, 0)
    min_code_size = max(2, depth)
    stream = lzw([i for row in pixels for i in row], min_code_size)
    data.append(min_code_size)
    for start in range(0, len(stream), 255):
        block = stream[start:start + 255]
        data.append(len(block))
        data += block
    data += b'\x00;'
    return bytes(data)


def png(pixels, palette, scale):
    """An enlarged preview, transparent shown as a checker."""
    rows = []
    for y, row in enumerate(pixels):
        line = bytearray()
        for x, i in enumerate(row):
            colour = palette[i] if i else ((200,) * 3 if (x + y) % 2 else (240,) * 3)
            line += bytes(colour) * scale
        rows += [b'\x00' + bytes(line)] * scale
    raw = zlib.compress(b''.join(rows))
    width, height = len(pixels[0]) * scale, len(pixels) * scale

    def chunk(kind, body):
        return (struct.pack('>I', len(body)) + kind + body +
                struct.pack('>I', zlib.crc32(kind + body) & 0xFFFFFFFF))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
            + chunk(b'IDAT', raw) + chunk(b'IEND', b''))


def pictures():
    """Every button by the file name it is served under, without ".gif"."""
    result = {name: button(icon) for name, icon in ICONS.items()}
    result['spacer'] = [[0] * WIDTH for _ in range(HEIGHT)]
    # The second looks of three buttons: pressed in.
    for name, icon in (('Spam2', 'spam'), ('Personal2', 'Personal'), ('ViewReport2', 'ViewReport')):
        result[name] = button(ICONS[icon], pressed=True)
    return result


# One transparent pixel, 43 bytes: two-colour table, the graphic control block marking
# index 0 transparent, and the three LZW codes clear, 0, end.
DOT_CLEAR = bytes.fromhex('474946383961' '01000100' '800000' '000000ffffff'
                          '21f90401000000' '00' '2c000000000100010000' '0202440100' '3b')


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    preview = sys.argv[sys.argv.index('--preview') + 1] if '--preview' in sys.argv else None
    assert len(DOT_CLEAR) == 43
    with open(os.path.join(here, 'DotClear.gif'), 'wb') as f:
        f.write(DOT_CLEAR)
    for name, pixels in pictures().items():
        with open(os.path.join(here, name + '.gif'), 'wb') as f:
            f.write(gif(pixels, PALETTE))
        if preview:
            os.makedirs(preview, exist_ok=True)
            with open(os.path.join(preview, name + '.png'), 'wb') as f:
                f.write(png(pixels, PALETTE, 8))


if __name__ == '__main__':
    main()
