"""A large file whose one label runs over megabytes: the read must cost what
its bytes do, so the time per megabyte stays flat as the label doubles.

    python bench/long_label.py [--runs 5]
"""

import argparse
import sys
import tempfile
from pathlib import Path

from common import goal_line, median_times

HEAD = ('File type = "ooTextFile"\nObject class = "TextGrid"\n\nxmin = 0\nxmax = 3\n'
        'tiers? <exists>\nsize = 1\nitem []:\n    item [1]:\n        class = "IntervalTier"\n'
        '        name = "w"\n        xmin = 0\n        xmax = 3\n        intervals: size = 3\n')


def write_file(directory, label_mib):
    rows = []
    for i, label in enumerate(["a", "x" * (label_mib << 20), "b"]):
        rows.append(f'        intervals [{i + 1}]:\n            xmin = {i}\n'
                    f'            xmax = {i + 1}\n            text = "{label}"\n')
    path = Path(directory) / f"label_{label_mib}.TextGrid"
    path.write_text(HEAD + "".join(rows))
    return str(path)


def run(runs, sizes=(2, 4, 8, 16)):
    import velmar
    with tempfile.TemporaryDirectory(prefix="velmar-label-") as tmp:
        paths = {size: write_file(tmp, size) for size in sizes}
        times = median_times({size: (lambda p=path: velmar.textgrid2data(p, False, "long"))
                              for size, path in paths.items()}, runs)
    for size in sizes:
        print(f"  textgrid2data, one label of {size:>2} MiB   {times[size][0] * 1e3:9.1f} ms")
    growth = times[sizes[-1]][0] / times[sizes[0]][0]
    steps = sizes[-1] // sizes[0]
    # Linear cost grows by the bytes' factor; allow half as much again for noise.
    return goal_line(f"long label: time x{steps} bytes / x1 (<= {steps * 1.5:g})", growth,
                     steps * 1.5, "x", at_most=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    print(run(parser.parse_args().runs))
