#!/usr/bin/env python3
"""Writes the seed corpus of the image fuzzer: small DDS files of many layouts."""
import os
import random
import struct

random.seed(7)
HERE = os.path.dirname(os.path.abspath(__file__))


def dds(w, h, pfflags, fourcc=0, bits=32, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000), mips=0, depth=0, flags=0,
        caps2=0, palette=b'', data=b''):
    header = struct.pack('<4sIIIIIII44xIIIIIIIIII12x', b'DDS ', 124, 0x1007 | flags, h, w, 0, depth, mips, 32,
                         pfflags, fourcc, bits, *masks, 0x1000, caps2)
    assert len(header) == 128
    return header + palette + data


def rnd(n):
    return bytes(random.getrandbits(8) for _ in range(n))


def fcc(s):
    return struct.unpack('<I', s.encode())[0]


NONE = (0, 0, 0, 0)
SEEDS = {
    'argb_4x4_mips3.dds': dds(4, 4, 0x41, mips=3, data=rnd(84)),
    'xrgb_5x3.dds': dds(5, 3, 0x40, masks=(0xFF0000, 0xFF00, 0xFF, 0), data=rnd(60)),
    'r5g6b5_6x6.dds': dds(6, 6, 0x40, bits=16, masks=(0xF800, 0x7E0, 0x1F, 0), data=rnd(72)),
    'l8_8x8.dds': dds(8, 8, 0x20000, bits=8, masks=(0xFF, 0, 0, 0), data=rnd(64)),
    'a8l8_4x4.dds': dds(4, 4, 0x20001, bits=16, masks=(0xFF, 0, 0, 0xFF00), data=rnd(32)),
    'p8_8x8.dds': dds(8, 8, 0x20, bits=8, masks=NONE, palette=rnd(1024), data=rnd(64)),
    'dxt1_8x8.dds': dds(8, 8, 0x4, fcc('DXT1'), 0, NONE, data=rnd(32)),
    'dxt3_5x3.dds': dds(5, 3, 0x4, fcc('DXT3'), 0, NONE, data=rnd(32)),
    'dxt5_16x16_mips.dds': dds(16, 16, 0x4, fcc('DXT5'), 0, NONE, mips=5, data=rnd(256 + 64 + 16 + 16 + 16)),
    'yuy2_6x2.dds': dds(6, 2, 0x4, fcc('YUY2'), 0, NONE, data=rnd(24)),
    'f32_2x2.dds': dds(2, 2, 0x4, 116, 0, NONE, data=struct.pack('<16f', *[random.uniform(-2, 2) for _ in range(16)])),
    'f16_4x2.dds': dds(4, 2, 0x4, 113, 0, NONE, data=rnd(64)),
    'q8w8v8u8_2x2.dds': dds(2, 2, 0x80000, bits=32, masks=(0xFF, 0xFF00, 0xFF0000, 0xFF000000), data=rnd(16)),
    'cube_4x4.dds': dds(4, 4, 0x41, caps2=0xFE00, data=rnd(6 * 64)),
    'volume_4x4x4.dds': dds(4, 4, 0x41, depth=4, flags=0x800000, mips=2, data=rnd(256 + 32)),
    'a2b10g10r10_3x3.dds': dds(3, 3, 0x41, masks=(0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000), data=rnd(36)),
    'huge_header.dds': dds(65535, 65535, 0x41, depth=65535, flags=0x800000, mips=0, data=rnd(16)),
}

for name, data in SEEDS.items():
    with open(os.path.join(HERE, 'seeds', name), 'wb') as f:
        f.write(data)
