#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A recovery record made by an independent Reed-Solomon encoder, for the tests to mend from.

  recovery_record.py IMAGE END OUT

Debian's libfec encodes (symbols of 16 bits, field polynomial 0x1100B, first root alpha^0, 16 parity
symbols) the audio of the raw CD image IMAGE from sample 5880 to sample END, cut into rows of 11760 16-bit
words, each column a codeword; OUT gets the 16 rows of parity symbols, little-endian.
"""
import ctypes
import struct
import sys


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    image, end, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    fec = ctypes.CDLL('libfec.so.0')
    fec.init_rs_int.restype = ctypes.c_void_p
    data = open(image, 'rb').read()[5880 * 4:end * 4]
    words = struct.unpack('<%dH' % (len(data) // 2), data)
    width, parity = 11760, 16
    rows = len(words) // width
    rs = ctypes.c_void_p(fec.init_rs_int(16, 0x1100B, 0, 1, parity, 65535 - parity - rows))
    record = [[0] * width for _ in range(parity)]
    column, sums = (ctypes.c_uint * rows)(), (ctypes.c_uint * parity)()
    for c in range(width):
        for r in range(rows):
            column[r] = words[r * width + c]
        fec.encode_rs_int(rs, column, sums)
        for j in range(parity):
            record[j][c] = sums[j]
    with open(out, 'wb') as f:
        f.write(b''.join(struct.pack('<%dH' % width, *row) for row in record))


if __name__ == '__main__':
    main()
