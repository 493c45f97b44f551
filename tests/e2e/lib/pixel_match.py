#!/usr/bin/env python3
"""Share of pixels in which two pictures of the same size agree, allowing for
anti-aliased edges and one-pixel shifts but not for missing or misplaced
shapes: a pixel matches when each colour channel of it lies within the range
that channel takes in the other picture's 3x3 neighbourhood of that pixel,
widened by TOLERANCE levels, and the same holds the other way round.

usage: pixel_match.py A B [TOLERANCE]   (any format ImageMagick reads)
prints the matching share in percent with two decimals; exit status 2 when
the sizes differ or a picture cannot be read."""
import subprocess, sys


def read_rgb(path):
    size = subprocess.run(['/usr/bin/identify', '-format', '%w %h', path + '[0]'], capture_output=True, text=True)
    if size.returncode != 0:
        sys.exit(f'pixel_match: cannot read {path}')
    w, h = map(int, size.stdout.split())
    raw = subprocess.run(['/usr/bin/convert', path + '[0]', '-alpha', 'remove', '-background', 'white',
                          '-depth', '8', 'rgb:-'], capture_output=True).stdout
    if len(raw) != 3 * w * h:
        sys.exit(f'pixel_match: cannot decode {path}')
    return w, h, raw


def neighbourhood(w, h, raw, pick):
    """Per channel, the 3x3 minimum or maximum (pick = min or max) of each pixel."""
    out = []
    for c in range(3):
        chan = raw[c::3]
        rows = []
        for y in range(h):
            row = chan[y * w:(y + 1) * w]
            rows.append([pick(row[max(0, x - 1):x + 2]) for x in range(w)])
        out.append([[pick(rows[yy][x] for yy in range(max(0, y - 1), min(h, y + 2))) for x in range(w)]
                    for y in range(h)])
    return out


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    tol = int(sys.argv[3]) if len(sys.argv) > 3 else 48
    wa, ha, a = read_rgb(sys.argv[1])
    wb, hb, b = read_rgb(sys.argv[2])
    if (wa, ha) != (wb, hb):
        print(f'sizes differ: {wa}x{ha} / {wb}x{hb}')
        sys.exit(2)
    w, h = wa, ha
    lo_a, hi_a = neighbourhood(w, h, a, min), neighbourhood(w, h, a, max)
    lo_b, hi_b = neighbourhood(w, h, b, min), neighbourhood(w, h, b, max)
    matched = 0
    for y in range(h):
        for x in range(w):
            i = 3 * (y * w + x)
            ok = True
            for c in range(3):
                if not (lo_b[c][y][x] - tol <= a[i + c] <= hi_b[c][y][x] + tol and
                        lo_a[c][y][x] - tol <= b[i + c] <= hi_a[c][y][x] + tol):
                    ok = False
                    break
            matched += ok
    print(f'{100.0 * matched / (w * h):.2f}')


main()
