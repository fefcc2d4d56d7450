"""Median decode times of the formats read through the codec libraries, and their ratios.

usage: bench_codecs.py VTIMG ROUNDS JPEG PNG TIFF

vtimg decodes each file to 32 bits with `vtimg bench FILE --runs 3` (the median of three
decodes in one process, the decode alone); Pillow decodes it three times in this Python
process; djpeg, libjpeg-turbo's own decoder, runs three times as a whole process writing
to /dev/null, once with the settings the library uses (accurate integer DCT, smooth
upsampling) and once with each other combination of the floating-point DCT and plain
upsampling. The contenders take turns round after round, so that a machine shared with
other work slows them alike; each figure is the median over the rounds.
"""
import os
import statistics
import subprocess
import sys
import time

from PIL import Image

Image.MAX_IMAGE_PIXELS = None

PER_ROUND = 3
DJPEG = (('accurate DCT, smooth upsampling (the library\'s)', []),
         ('accurate DCT, plain upsampling', ['-nosmooth']),
         ('float DCT, smooth upsampling', ['-dct', 'float']),
         ('float DCT, plain upsampling', ['-dct', 'float', '-nosmooth']))


def timed(action):
    start = time.perf_counter()
    action()
    return (time.perf_counter() - start) * 1000.0


def vtimg_ms(vtimg, path):
    out = subprocess.run([vtimg, 'bench', path, '--runs', str(PER_ROUND)], check=True, capture_output=True, text=True)
    return float(out.stdout)


def pillow_ms(path):
    def decode():
        with Image.open(path) as image:
            image.load()
    return statistics.median(timed(decode) for _ in range(PER_ROUND))


def djpeg_ms(path, options):
    argv = ['djpeg', *options, '-outfile', os.devnull, path]
    return statistics.median(timed(lambda: subprocess.run(argv, check=True)) for _ in range(PER_ROUND))


def main():
    vtimg, rounds, files = sys.argv[1], int(sys.argv[2]), dict(zip(('JPEG', 'PNG', 'TIFF'), sys.argv[3:6]))
    times = {}
    for _ in range(rounds):
        for name, path in files.items():
            times.setdefault(('vtimg', name), []).append(vtimg_ms(vtimg, path))
            times.setdefault(('Pillow', name), []).append(pillow_ms(path))
            if name == 'JPEG':
                for setting, options in DJPEG:
                    times.setdefault(('djpeg', setting), []).append(djpeg_ms(path, options))
    ms = {key: statistics.median(values) for key, values in times.items()}

    print(f'median decode ms over {rounds} rounds of {PER_ROUND}:')
    print('djpeg on the JPEG (a whole process):')
    for setting, _ in DJPEG:
        print(f'  {setting:50s} {ms[("djpeg", setting)]:8.1f}')
    print(f'  {"format":6s} {"vtimg":>8s} {"Pillow":>8s}  Pillow/vtimg')
    for name in files:
        ours, pillow = ms[('vtimg', name)], ms[('Pillow', name)]
        print(f'  {name:6s} {ours:8.1f} {pillow:8.1f}  {pillow / ours:5.2f}x   (target: at least 1.00x)')
    same = ms[('djpeg', DJPEG[0][0])]
    print(f'JPEG vtimg/djpeg with the same settings = {ms[("vtimg", "JPEG")] / same:.2f}x   (target: at most 1.10x)')


if __name__ == '__main__':
    main()
