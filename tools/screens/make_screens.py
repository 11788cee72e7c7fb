#!/usr/bin/env python3
# make_screens.py: writes rasterfilter/screen_tables.cpp, the threshold
# screens and the level map of the filter's built-in halftoning.
#
#   python3 tools/screens/make_screens.py rasterfilter/screen_tables.cpp
#
# Run it once after changing anything here and commit both files; the build
# never runs it.  Pure Python 3, no other modules.
#
# The 16 x 16 and 28 x 28 screens are the printer's own and are copied
# verbatim.  Of the two 96 x 96 screens (the TXG model) only the first 24
# cells of rows 0 and 1 are the printer's; the rest is made here:
#
#   ScreenTable96A  a clustered-dot screen of period 6 (a 45-degree dot:
#                   two black and two white dot centres per 6 x 6 cell,
#                   spot function -cos(pi u/3) cos(pi v/3)), 16 x 16 cells.
#                   The 9216 cells are ranked by spot level; ties are broken
#                   so that every dot grows evenly (the ring pixel at one
#                   angle in every dot before the next angle) and the 256
#                   cells take their turns in a 16 x 16 dispersed (Bayer)
#                   order, which gives 9216 / 36 = 256 grey steps instead of
#                   the 36 of a single cell.  Ranks map evenly onto the
#                   thresholds 1..255, every value used 36 or 37 times.  The
#                   printer's 48 given cells keep their values; the values
#                   they take out of that even multiset are removed and the
#                   rest are dealt out to the other cells in rank order.
#   ScreenTable96B  the same screen through a tone curve: the given cells
#                   of 96B are exactly a monotone map of those of 96A
#                   (1->1, 2->1, 4->3, ..., 87->69, 94->77, ..., 225->225).
#                   The curve is the piecewise-linear interpolation through
#                   those pairs and (255, 255), rounded half up.  It squeezes
#                   1..87 onto 1..69 and stretches the rest, so the screen
#                   keeps 255 - 18 = 237 distinct values.
import sys
from fractions import Fraction


def parse(text):
    return [[int(v) for v in line.split()] for line in text.strip().splitlines()]


SCREEN_16A = parse('''
    6 82 233 254 251 226 70 5 7 85 235 255 252 228 73 5
    55 121 165 218 211 152 114 49 57 122 167 220 213 156 115 47
    199 134 105 41 27 95 126 192 202 136 107 45 31 97 123 190
    243 180 18 3 1 13 172 238 244 182 19 3 1 12 170 237
    248 222 65 4 10 79 232 253 250 224 67 4 9 76 230 252
    208 145 109 53 62 119 162 216 210 149 112 51 59 117 159 215
    22 88 131 197 206 142 102 38 24 91 128 195 204 139 100 34
    2 16 177 241 247 187 21 2 1 15 175 240 245 185 20 2
    7 85 235 255 252 228 73 5 6 82 233 254 251 226 70 5
    57 122 167 220 213 156 115 47 55 121 165 218 211 152 114 49
    202 136 107 45 31 97 123 190 199 134 105 41 27 95 126 192
    244 182 19 3 1 12 170 237 243 180 18 3 1 13 172 238
    250 224 67 4 9 76 230 252 248 222 65 4 10 79 232 253
    210 149 112 51 59 117 159 215 208 145 109 53 62 119 162 216
    24 91 128 195 204 139 100 34 22 88 131 197 206 142 102 38
    1 15 175 240 245 185 20 2 2 16 177 241 247 187 21 2
''')

SCREEN_16B = parse('''
    5 82 233 254 251 226 70 4 5 85 235 255 252 228 73 4
    53 121 165 218 211 152 114 46 56 122 167 220 213 156 115 44
    199 134 105 37 22 95 126 192 202 136 107 41 26 97 123 190
    243 180 14 2 1 10 172 238 244 182 15 2 1 9 170 237
    248 222 65 3 8 79 232 253 250 224 67 3 7 76 230 252
    208 145 109 51 62 119 162 216 210 149 112 48 58 117 159 215
    17 88 131 197 206 142 102 33 19 91 128 195 204 139 100 29
    2 12 177 241 247 187 17 2 1 12 175 240 245 185 16 2
    5 85 235 255 252 228 73 4 5 82 233 254 251 226 70 4
    56 122 167 220 213 156 115 44 53 121 165 218 211 152 114 46
    202 136 107 41 26 97 123 190 199 134 105 37 22 95 126 192
    244 182 15 2 1 9 170 237 243 180 14 2 1 10 172 238
    250 224 67 3 7 76 230 252 248 222 65 3 8 79 232 253
    210 149 112 48 58 117 159 215 208 145 109 51 62 119 162 216
    19 91 128 195 204 139 100 29 17 88 131 197 206 142 102 33
    1 12 175 240 245 185 16 2 2 12 177 241 247 187 17 2
''')

SCREEN_28 = parse('''
    2 6 24 166 223 252 255 254 250 220 163 22 5 2 2 6 25 168 225 252 255 255 250 221 163 22 5 2
    4 8 51 100 199 233 247 245 232 196 97 49 7 4 4 9 52 101 200 234 248 246 233 196 97 50 7 4
    18 45 59 74 157 191 217 214 187 152 72 58 43 17 18 46 60 75 160 193 219 215 189 152 72 58 41 16
    143 91 70 65 70 88 138 133 85 69 62 69 81 126 143 91 70 65 70 90 140 133 85 69 63 68 80 124
    209 183 118 67 55 40 15 13 35 54 66 114 180 207 210 183 120 68 56 40 15 14 37 54 65 114 178 207
    242 228 173 78 29 7 4 3 6 26 76 170 226 240 242 229 175 79 30 7 4 3 6 25 76 170 225 239
    253 237 203 107 11 3 1 1 2 9 103 201 235 252 253 237 204 110 11 3 1 1 2 9 103 201 235 252
    254 248 219 161 20 5 1 2 5 23 166 222 252 255 254 249 220 161 21 5 1 2 5 23 165 222 251 255
    244 231 193 94 48 7 4 4 8 51 100 199 233 246 245 231 194 95 49 7 4 4 8 51 98 197 233 246
    213 186 148 71 56 45 18 20 47 59 74 157 190 216 214 187 150 71 57 43 17 19 47 59 73 155 190 216
    131 82 69 61 69 82 128 148 94 71 64 70 88 138 131 84 69 61 69 81 126 145 93 70 63 69 87 135
    12 34 52 67 118 181 209 211 184 122 68 55 38 14 12 34 53 66 116 180 208 211 184 122 68 55 37 14
    3 6 27 78 173 227 241 244 230 176 80 32 6 4 3 6 27 77 171 227 240 243 229 176 80 30 6 3
    1 2 11 105 203 237 253 254 238 206 112 12 3 1 1 2 10 105 202 236 253 253 238 204 110 12 3 1
    2 6 25 168 225 252 255 255 250 221 163 22 5 2 2 6 24 166 223 252 255 254 250 220 163 22 5 2
    4 9 52 101 200 234 248 246 233 196 97 50 7 4 4 8 51 100 199 233 247 245 232 196 97 49 7 4
    18 46 60 75 160 193 219 215 189 152 72 58 41 16 18 45 59 74 157 191 217 214 187 152 72 58 43 17
    143 91 70 65 70 90 140 133 85 69 63 68 80 124 143 91 70 65 70 88 138 133 85 69 62 69 81 126
    210 183 120 68 56 40 15 14 37 54 65 114 178 207 209 183 118 67 55 40 15 13 35 54 66 114 180 207
    242 229 175 79 30 7 4 3 6 25 76 170 225 239 242 228 173 78 29 7 4 3 6 26 76 170 226 240
    253 237 204 110 11 3 1 1 2 9 103 201 235 252 253 237 203 107 11 3 1 1 2 9 103 201 235 252
    254 249 220 161 21 5 1 2 5 23 165 222 251 255 254 248 219 161 20 5 1 2 5 23 166 222 252 255
    245 231 194 95 49 7 4 4 8 51 98 197 233 246 244 231 193 94 48 7 4 4 8 51 100 199 233 246
    214 187 150 71 57 43 17 19 47 59 73 155 190 216 213 186 148 71 56 45 18 20 47 59 74 157 190 216
    131 84 69 61 69 81 126 145 93 70 63 69 87 135 131 82 69 61 69 82 128 148 94 71 64 70 88 138
    12 34 53 66 116 180 208 211 184 122 68 55 37 14 12 34 52 67 118 181 209 211 184 122 68 55 38 14
    3 6 27 77 171 227 240 243 229 176 80 30 6 3 3 6 27 78 173 227 241 244 230 176 80 32 6 4
    1 2 10 105 202 236 253 253 238 204 110 12 3 1 1 2 11 105 203 237 253 254 238 206 112 12 3 1
''')

# The printer's cells of the 96 x 96 screens: rows 0 and 1, columns 0..23.
PREFIX_96A = parse('''
    50 28 62 94 171 111 58 33 72 87 161 103 51 29 63 95 172 112 57 33 71 97 174 113
    21 1 10 149 234 189 26 4 14 139 225 182 22 2 11 150 236 190 26 4 13 153 240 191
''')
PREFIX_96B = parse('''
    36 19 46 77 165 95 43 23 55 69 153 86 37 20 47 78 166 96 42 23 54 80 169 97
    14 1 7 139 234 186 18 3 10 127 225 178 15 1 8 140 236 187 18 3 9 144 240 188
''')

SIZE = 96
PERIOD = 6
CELLS = SIZE // PERIOD           # 16 cells across and down
# cos(pi u / 3) for u = 0..5, times 2 so that the spot levels are integers.
COS2 = [2, 1, -1, -2, -1, 1]
# Dot centres in a 6 x 6 cell, as (u, v) offsets from the white centre at
# pixel (1, 1): white where the spot function is lowest, black where highest.
WHITE_CENTRES = [(0, 0), (3, 3)]
BLACK_CENTRES = [(3, 0), (0, 3)]
# Growth order of the ring around a centre, (du, dv) -> turn.  Fitted to
# the printer's cells: white dots grow right, left, up, down, then on the
# diagonals down-right, up-left, up-right, down-left; black dots turn
# counter-clockwise, down, right, up, left, then down-right, up-right,
# up-left, down-left.  In each turn every dot of the screen takes its
# ring pixel before the next turn begins.
WHITE_RING = {(0, 0): 0,
              (1, 0): 0, (-1, 0): 1, (0, -1): 2, (0, 1): 3,
              (1, 1): 0, (-1, -1): 1, (1, -1): 2, (-1, 1): 3}
BLACK_RING = {(0, 0): 0,
              (0, 1): 0, (1, 0): 1, (0, -1): 2, (-1, 0): 3,
              (1, 1): 0, (1, -1): 1, (-1, -1): 2, (-1, 1): 3}


def bayer(n):
    """n x n dispersed order (n a power of two), values 0..n*n-1."""
    m = [[0]]
    while len(m) < n:
        k = len(m)
        m = [[4 * m[y % k][x % k] + [[0, 2], [3, 1]][y // k][x // k]
              for x in range(2 * k)] for y in range(2 * k)]
    return m


def wrap(d):
    """Signed offset within one period, -3..2."""
    return (d + 3) % PERIOD - 3


def growth_key(x, y, cell_order):
    u, v = (x - 1) % PERIOD, (y - 1) % PERIOD
    spot = -COS2[u] * COS2[v]                  # -4..4, never 0
    centres, ring = (BLACK_CENTRES, BLACK_RING) if spot > 0 else (WHITE_CENTRES, WHITE_RING)
    best = None
    for index, (cu, cv) in enumerate(centres):
        du, dv = wrap(u - cu), wrap(v - cv)
        if abs(du) <= 1 and abs(dv) <= 1:
            best = (ring[(du, dv)], index)
    assert best is not None
    growth = (best[0] * 2 + best[1]) * CELLS * CELLS + cell_order[y // PERIOD][x // PERIOD]
    # White dots grow with rising thresholds, black dots with falling ones.
    return (spot, growth if spot < 0 else -growth)


def spot_level(x, y):
    return -COS2[(x - 1) % PERIOD] * COS2[(y - 1) % PERIOD]


def rank_to_value():
    """Tone curve of 96A: threshold for each rank 0..9215.

    The printer's cells do not spread the thresholds evenly over the spot
    levels (grey 80 already gives half coverage, against the dot gain of
    the print engine), so the curve is fitted to them: at each boundary
    between two spot levels it passes midway between the highest given
    value below and the lowest above; it is linear in between and runs
    from 1 at rank 0 to 256 just past the last rank.
    """
    given = {}
    for y, row in enumerate(PREFIX_96A):
        for x, v in enumerate(row):
            given.setdefault(spot_level(x, y), []).append(v)
    levels = sorted(given)
    share = {lv: 0 for lv in levels}
    for y in range(PERIOD):
        for x in range(PERIOD):
            share[spot_level(x, y)] += 1
    total = SIZE * SIZE
    anchors = [(Fraction(0), Fraction(1))]
    covered = 0
    for lower, upper in zip(levels, levels[1:]):
        covered += share[lower]
        anchors.append((Fraction(covered, PERIOD * PERIOD),
                        Fraction(max(given[lower]) + min(given[upper]), 2)))
    anchors.append((Fraction(1), Fraction(256)))
    values = []
    for rank in range(total):
        q = Fraction(rank, total)
        for (q0, v0), (q1, v1) in zip(anchors, anchors[1:]):
            if q0 <= q < q1:
                values.append(min(255, int(v0 + (v1 - v0) * (q - q0) / (q1 - q0))))
                break
    return values


def make_96a():
    cell_order = bayer(CELLS)
    cells = [(x, y) for y in range(SIZE) for x in range(SIZE)]
    ranked = sorted(cells, key=lambda c: growth_key(c[0], c[1], cell_order))
    values = rank_to_value()
    fixed = {(x, y): PREFIX_96A[y][x] for y in range(len(PREFIX_96A)) for x in range(len(PREFIX_96A[y]))}
    for v in fixed.values():
        values.remove(v)
    screen = [[0] * SIZE for _ in range(SIZE)]
    free = [c for c in ranked if c not in fixed]
    for (x, y), v in zip(free, values):
        screen[y][x] = v
    for (x, y), v in fixed.items():
        screen[y][x] = v
    return screen


def tone_curve():
    pairs = {1: 1, 255: 255}
    for row_a, row_b in zip(PREFIX_96A, PREFIX_96B):
        for a, b in zip(row_a, row_b):
            assert pairs.get(a, b) == b, "the given cells are not a map of 96A"
            pairs[a] = b
    xs = sorted(pairs)
    curve = {}
    for x0, x1 in zip(xs, xs[1:]):
        y0, y1 = pairs[x0], pairs[x1]
        assert y1 >= y0, "the given cells are not a monotone map of 96A"
        for a in range(x0, x1 + 1):
            exact = y0 + Fraction((y1 - y0) * (a - x0), x1 - x0)
            curve[a] = int(exact + Fraction(1, 2))
    return curve


def level_map():
    return [0 if i == 0 else 1 if i < 24 else 2 if i < 64 else 3 for i in range(256)]


def check(name, screen, size, distinct=None):
    flat = [v for row in screen for v in row]
    assert len(screen) == size and all(len(r) == size for r in screen), name
    assert min(flat) >= 1 and max(flat) <= 255, name
    if distinct is not None:
        assert len(set(flat)) == distinct, (name, len(set(flat)))


def emit_table(out, name, screen):
    size = len(screen)
    out.append("const uint8_t %s[%d][%d] = {" % (name, size, size))
    for row in screen:
        chunks = [row[i:i + 24] for i in range(0, len(row), 24)]
        text = ",\n     ".join(", ".join("%3d" % v for v in c) for c in chunks)
        out.append("    {%s}," % text)
    out.append("};")
    out.append("")


def main():
    screen_96a = make_96a()
    curve = tone_curve()
    screen_96b = [[curve[v] for v in row] for row in screen_96a]
    check("16A", SCREEN_16A, 16)
    check("16B", SCREEN_16B, 16)
    check("28", SCREEN_28, 28)
    check("96A", screen_96a, SIZE, 255)
    check("96B", screen_96b, SIZE, 237)
    for y, row in enumerate(PREFIX_96B):
        assert screen_96b[y][:len(row)] == row

    out = ["// Threshold screens and level map of the built-in halftoning.",
           "// Generated by tools/screens/make_screens.py: change the script, not this file.",
           "#include \"screen_tables.h\"",
           "",
           "namespace rf {",
           ""]
    for name, screen in (("ScreenTable16A", SCREEN_16A), ("ScreenTable16B", SCREEN_16B),
                         ("ScreenTable28", SCREEN_28), ("ScreenTable96A", screen_96a),
                         ("ScreenTable96B", screen_96b)):
        emit_table(out, name, screen)
    levels = level_map()
    out.append("const uint8_t LevelMap[256] = {")
    for i in range(0, 256, 32):
        out.append("    " + ", ".join(str(v) for v in levels[i:i + 32]) + ",")
    out.append("};")
    out.append("")
    out.append("}  // namespace rf")
    text = "\n".join(out) + "\n"
    if len(sys.argv) > 1:
        with open(sys.argv[1], "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
