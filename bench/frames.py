#!/usr/bin/env python3
"""A batch of files to a pandas DataFrame: through the Arrow table of
textgrids2arrow (pyarrow's to_pandas, and pandas 3's DataFrame.from_arrow),
against textgrids2vectors plus building the same DataFrame from its columns
(file and tier categorical, label str).

    python bench/frames.py [--files 2000] [--runs 5] [--cpu]
"""

import argparse
import tempfile
from pathlib import Path

import velmar
from common import median_times, ratio

VECTORS = "textgrids2vectors + DataFrame"


def from_vectors(pandas, paths):
    tmins, tmaxs, labels, names, flags, ids = velmar.textgrids2vectors(paths, True, "auto")
    return pandas.DataFrame({
        "file": pandas.Categorical.from_codes(ids.astype("int32"), categories=paths),
        "tier": pandas.Categorical(names), "is_interval": flags, "tmin": tmins, "tmax": tmaxs,
        "label": labels})


def routes(paths):
    import pandas  # noqa: PLC0415 - a missing pandas leaves the figures out

    found = {VECTORS: lambda: from_vectors(pandas, paths)}
    try:
        import pyarrow  # noqa: PLC0415
        found["textgrids2arrow + to_pandas"] = lambda: pyarrow.table(
            velmar.textgrids2arrow(paths, True, "auto")).to_pandas()
    except ImportError:
        pass
    if hasattr(pandas.DataFrame, "from_arrow"):
        found["textgrids2arrow + from_arrow"] = lambda: pandas.DataFrame.from_arrow(
            velmar.textgrids2arrow(paths, True, "auto"))
    return found


def run(paths, runs, figure=0):
    """Prints the times to a DataFrame of the same rows; no goal."""
    try:
        actions = routes(paths)
    except ImportError:
        print("\nto a pandas DataFrame: pandas not installed")
        return
    times = median_times(actions, runs)
    print(f"\nto a pandas DataFrame ({len(paths)} files), median of {runs}")
    for name, figures in times.items():
        if isinstance(figures, str):
            print(f"  {name:<32}{figures:>12}")
            continue
        value = ratio(times, VECTORS, name, figure)
        print(f"  {name:<32}{figures[figure] * 1e3:>9.2f} ms{value:>9.2f}x")


def main():
    from batch import write_corpus  # noqa: PLC0415

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=2_000)
    parser.add_argument("--runs", type=int, default=5, help="runs per figure (median counts)")
    parser.add_argument("--cpu", action="store_true",
                        help="measure processor time of all threads instead of wall time")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="velmar-frames-") as tmp:
        run(write_corpus(Path(tmp), args.files), args.runs, 1 if args.cpu else 0)


if __name__ == "__main__":
    main()
