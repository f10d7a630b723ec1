#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz programs.

Usage: make-seeds.py FOLDER -- makes FOLDER/<program>/<seed> for every fuzz
program. Every seed is made here from the formats themselves, so the
corpora carry nothing from elsewhere and can be rebuilt at any time.
"""
import io
import os
import struct
import sys
import zipfile
import zlib


def u16(v):
    return struct.pack('<H', v)


def u32(v):
    return struct.pack('<I', v)


def text(s):
    return s.encode('latin-1') + b'\0'


# --- catalogue image and its chunks -------------------------------------

def tree(entries):
    """entries: list of (name, size, crc) for files or (name\\, [children])
    for folders, already in the order the server writes them."""
    out = b''
    for entry in entries:
        if entry[0].endswith('\\'):
            out += text(entry[0]) + tree(entry[1])
        else:
            out += text(entry[0]) + u32(entry[1]) + u32(entry[2])
    return out + b'\0'


def record(url, size, name, info, kind, entries):
    return (text(url) + u32(size) + text(name) + text(info) + text('') + text('') +
            u32(kind) + tree(entries))


def catalogue(texts, records):
    head = u32(1) + b''.join(text(t) for t in texts) + b'\0' * 5
    return head + u32(len(records)) + b''.join(records)


def compressed_block(image):
    return u32(len(image)) + zlib.compress(image)


def chunks(block):
    out = []
    for index, start in enumerate(range(0, len(block), 256)):
        body = u16(index) + block[start:start + 256]
        out.append(body + u32(zlib.crc32(body)))
    return out


def info_block_file(block_id, chunk_list):
    out = u64(block_id) + u32(len(chunk_list))
    for chunk in chunk_list:
        out += u32(len(chunk)) + chunk
    return out


def u64(v):
    return struct.pack('<Q', v)


SMALL = catalogue(['', '', '', '', ''], [])
ADDONS = [('addons\\', [('weapons.pbo', 1234, 0xDEADBEEF), ('x.pbo', 10, 0x1234)])]
TEXTS = ['Kitsync test server', 'info line', 'admin', 'voice.example:9987', 'one:two:three:']
BIG = catalogue(TEXTS, [
    record('http://127.0.0.1/a.zip', 5000, 'a', 'http://127.0.0.1/a', 10, ADDONS),
    record('http://127.0.0.1/b.zip', 70, 'b', '', 3,
           [('missions\\', [('deep\\', [('m.pbo', 1, 2)]), ('readme.txt', 3, 4)]), ('top.bin', 5, 6)]),
    record('http://127.0.0.1/empty.zip', 0, 'empty', '', 10, []),
])
# Enough distinct bytes that the compressed block spans several chunks.
LARGE = catalogue(TEXTS, [
    record('http://127.0.0.1/p%d.zip' % i, i * 977, 'package %d' % i, '', 10,
           [('addons\\', [('file%03d_%d.pbo' % (j, i), j * 31 + i, (j * 2654435761 + i) & 0xFFFFFFFF)
                          for j in range(12)])])
    for i in range(8)
])


# --- zip archives -------------------------------------------------------

def zip_bytes(entries, method=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w', method) as archive:
        for name, data in entries:
            archive.writestr(name, data)
    return buffer.getvalue()


BLOCK = """Free text before the block is ignored.
KITSYNC_START
PACKAGE "Test Package"
INFOURL http://127.0.0.1/info
DEACTIVATE old.pbo
INSTALL *.pbo addons\\
INSTALL keys\\*.bikey keys\\
INSTALLPATH missions\\*
EXTRACT *.txt docs\\
EXTRACTPATH extra\\*
IGNORE *.bak
KITSYNC_END
"""


def archives():
    pbo = bytes(range(256)) * 4
    yield 'block.zip', zip_bytes([('kitsync.txt', BLOCK), ('weapons.pbo', pbo), ('keys/a.bikey', b'key'),
                                  ('missions/m1/mission.sqm', b'class Mission {};'), ('readme.txt', b'read me'),
                                  ('extra/tool.exe', b'MZ'), ('old.bak', b'bak'), ('addons/', b'')])
    yield 'simple.zip', zip_bytes([('a.pbo', b'A' * 100), ('b.txt', b'text')])
    yield 'stored.zip', zip_bytes([('KITSYNC.TXT', 'kitsync_start\ninstall * addons\\\nkitsync_end\n'),
                                   ('x.pbo', b'x')], zipfile.ZIP_STORED)
    yield 'unsafe.zip', zip_bytes([('kitsync.txt', 'KITSYNC_START\nINSTALLPATH *\nKITSYNC_END\n'),
                                   ('../evil.pbo', b'e')])
    yield 'extract-only.zip', zip_bytes([('kitsync.txt', 'KITSYNC_START\nEXTRACT * a\\\nKITSYNC_END\n'),
                                         ('f.pbo', b'f')])
    yield 'empty.zip', zip_bytes([])
    good = bytearray(zip_bytes([('c.pbo', b'crc check' * 20)], zipfile.ZIP_STORED))
    good[40] ^= 0xFF  # inside the stored data: the CRC no longer holds
    yield 'bad-crc.zip', bytes(good)


# --- text inputs --------------------------------------------------------

SETTINGS = {
    'full.ini': """// Kitsync settings
port 2302
password secret
servername "My Server With Blanks"
serverinfo info
serveradmin admin@example
teamspeak ts.example:9987
comserver voice.example
package http://127.0.0.1/a.zip
package http://127.0.0.1/b.zip optional
announce on
senddelay 250
deactivate one two three
deactivate four five
browserserver 127.0.0.1
""",
    'crlf.ini': 'PORT 2400\r\nSendDelay 10\r\nANNOUNCE OFF\r\npassword\r\n',
    'quotes.ini': 'servername "unterminated\n  // comment\nservername //\npackage "a b" OPTIONAL extra\n',
    'nul.ini': 'port 1\n\0port 2\n',
    'numbers.ini': 'senddelay 99999999999999\nsenddelay -5\nsenddelay 11\nport 65536\n',
}

INSTRUCTIONS = {
    'block.txt': BLOCK,
    'none.txt': 'no markers in here\n',
    'unterminated.txt': 'KITSYNC_START\nINSTALL *.pbo addons\\\n',
    'unsafe.txt': 'KITSYNC_START\nINSTALL *.pbo ..\\outside\\\nKITSYNC_END\n',
    'drive.txt': 'kitsync_start\ninstall * c:\\windows\\\nkitsync_end',
    'short.txt': 'KITSYNC_START INSTALL x\nKITSYNC_END',
    'patterns.txt': 'KITSYNC_START\nINSTALL a*b*c*d*e*f*?*g addons/\nIGNORE "with blank.pbo"\nKITSYNC_END\n',
    'early-end.txt': 'KITSYNC_END KITSYNC_START\nPACKAGE p\nKITSYNC_END',
}


def step(sender, datagram, advance=None):
    """One step of a datagram fuzz input: sender 0-7 (5-7 on a second
    address), optionally the clock moved by advance x 50 ms first."""
    control = sender | (8 | advance << 4 if advance is not None else 0)
    return bytes([control, min(len(datagram), 254)]) + datagram[:254]


QUERY = u16(1039) + u16(0) + b'\0'
QUERY_LONG = u16(1040) + u16(0) + b'secret\0'
CHUNKS = u16(0) + u16(1)
RESEND = u16(0) + u16(2) + u16(0)


def datagrams():
    yield 'query.bin', bytes([0]) + step(0, QUERY)
    yield 'query-password.bin', bytes([1]) + step(0, QUERY_LONG) + step(1, QUERY)
    yield 'chunks.bin', bytes([2]) + step(0, CHUNKS) + step(0, RESEND, 4) + step(0, CHUNKS, 4)
    yield 'resend.bin', bytes([2]) + step(0, RESEND) + step(0, u16(0) + u16(2) + u16(9))
    yield 'crowd.bin', bytes([2]) + b''.join(step(i, CHUNKS) for i in range(8)) + step(3, CHUNKS, 15)
    yield 'state.bin', bytes([0]) + step(0, b'\\hostname\\x\\gstate\\5\\') + step(2, QUERY_LONG, 15)
    yield 'state-open.bin', bytes([0]) + step(6, b'\\GSTATE\\7') + step(0, b'\\gstate\\7')
    yield 'short.bin', bytes([3]) + step(0, b'\x01\x00', 2) + step(1, b'')
    yield 'long.bin', bytes([3]) + bytes([0, 255]) + u16(1040) + u16(0) + b'x' * 3000 + b'\0'


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode('latin-1')
    with open(os.path.join(folder, name), 'wb') as out:
        out.write(data)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = sys.argv[1]
    for name, data in SETTINGS.items():
        write(os.path.join(root, 'fuzz-settings'), name, data)
    for name, data in INSTRUCTIONS.items():
        write(os.path.join(root, 'fuzz-instructions'), name, data)
    for name, data in archives():
        write(os.path.join(root, 'fuzz-archive'), name, data)

    cat = os.path.join(root, 'fuzz-catalogue')
    write(cat, 'small.bin', SMALL)
    write(cat, 'big.bin', BIG)
    write(cat, 'big-block.bin', compressed_block(BIG))
    write(cat, 'truncated.bin', BIG[:-7])

    blocks = os.path.join(root, 'fuzz-infoblock')
    write(blocks, 'small.udp', info_block_file(0x1A2B, chunks(compressed_block(SMALL))))
    write(blocks, 'big.udp', info_block_file(0x12 << 32 | 1000, chunks(compressed_block(BIG))))
    large = chunks(compressed_block(LARGE))
    write(blocks, 'large.udp', info_block_file(0xFFFFFFFFFFFFFFFF, large))
    write(blocks, 'swapped.udp', info_block_file(7, [large[1], large[0]] + large[2:]))
    write(blocks, 'empty.udp', b'')

    for name, data in datagrams():
        write(os.path.join(root, 'fuzz-datagram'), name, data)


if __name__ == '__main__':
    main()
