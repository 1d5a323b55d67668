"""Read the TextGrids inside a zip archive without unpacking it.

    python examples/zip_corpus.py corpus.zip

Each member ending in .TextGrid is read from its bytes in memory (UTF-8, or
UTF-16 with a byte-order mark, as Praat writes them) and summed up: one line
per member, then the totals. A member that cannot be read is named with the
reason, and the others go on.
"""

import sys
import zipfile

import velmar


def main(argv: list[str]) -> int:
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    files = intervals = failed = 0
    with zipfile.ZipFile(argv[1]) as archive:
        for member in archive.infolist():
            if member.is_dir() or not member.filename.endswith(".TextGrid"):
                continue
            files += 1
            try:
                tmin, tmax, tiers = velmar.text2data(archive.read(member), True, "auto")
            except OSError as error:
                print(f"{member.filename}: {error}", file=sys.stderr)
                failed += 1
                continue
            count = sum(len(items) for _, is_interval, items in tiers if is_interval)
            intervals += count
            print(f"{member.filename}: {len(tiers)} tiers, {count} intervals, "
                  f"{tmax - tmin:g} s")
    print(f"{files} files, {intervals} intervals, {failed} unreadable")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
