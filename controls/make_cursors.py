#!/usr/bin/env python3
"""Draws the link cursor (a pointing hand, 32x32 monochrome .cur) into the given folder.
Deterministic: the same file on every build."""
import struct
import sys

# '#' outline (black), '.' inside (white), ' ' transparent. The hot spot is the fingertip.
HAND = """
      ##
     #..#
     #..#
     #..#
     #..#
     #..###
     #..#..###
     #..#..#..##
  ## #..#..#..#.#
 #..##........#.#
 #...#..........#
  #.............#
   #............#
   #...........#
    #..........#
    #.........#
     #........#
     #........#
     ##########
"""
HOT_X, HOT_Y = 7, 1
SIZE = 32


def cursor_bytes():
    rows = [r for r in HAND.split("\n")[1:-1]]
    rows += [""] * (SIZE - len(rows))

    def bits(test):
        out = bytearray()
        for y in range(SIZE - 1, -1, -1):  # bottom-up
            line = rows[y].ljust(SIZE)
            for byte in range(SIZE // 8):
                v = 0
                for bit in range(8):
                    if test(line[byte * 8 + bit]):
                        v |= 0x80 >> bit
                out.append(v)
        return bytes(out)

    xor = bits(lambda c: c == ".")
    mask = bits(lambda c: c == " ")
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 1, 0, len(xor) + len(mask), 0, 0, 2, 0)
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    image = info + palette + xor + mask
    header = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, HOT_X, HOT_Y, len(image), 6 + 16)
    return header + entry + image


def main():
    with open(f"{sys.argv[1]}/link_1022.cur", "wb") as f:
        f.write(cursor_bytes())


if __name__ == "__main__":
    main()
