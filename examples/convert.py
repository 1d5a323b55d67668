"""Convert a TextGrid between Praat's long and short text layouts.

    python examples/convert.py examples/speech.TextGrid [OUTPUT]

Writes the other layout next to the input (<stem>.short.TextGrid or
<stem>.long.TextGrid) unless OUTPUT is given, and prints a short summary.
"""

import codecs
import sys
from pathlib import Path

import velmar


def detect_layout(path: Path) -> str:
    # The long layout names every value; only it has the "item []" line. Praat
    # writes UTF-16 (with a byte-order mark) when a text needs it, so decode first.
    data = path.read_bytes()
    utf16 = data.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE))
    text = data.decode("utf-16" if utf16 else "utf-8", errors="replace")
    return "long" if "item []" in text else "short"


def default_output(path: Path, layout: str) -> Path:
    stem = path.name[: -len(path.suffix)] if path.suffix else path.name
    for tag in (".short", ".long"):  # converting back gives speech.long, not speech.short.long
        stem = stem.removesuffix(tag)
    return path.with_name(f"{stem}.{layout}.TextGrid")


def main(argv: list[str]) -> int:
    if len(argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    source = Path(argv[1])
    try:
        tmin, tmax, tiers = velmar.textgrid2data(str(source), True, "auto")
    except OSError as error:
        print(error, file=sys.stderr)
        return 1
    source_layout = detect_layout(source)
    target_layout = "short" if source_layout == "long" else "long"
    target = Path(argv[2]) if len(argv) == 3 else default_output(source, target_layout)
    velmar.data2textgrid(tiers, tmin, tmax, str(target), target_layout)

    print(f"read    {source} ({source_layout} layout)")
    print(f"span    {tmin:g} .. {tmax:g} s ({tmax - tmin:g} s)")
    for name, is_interval, items in tiers:
        kind = "intervals" if is_interval else "points"
        print(f"tier    {name!r}: {len(items)} {kind}")
    print(f"wrote   {target} ({target_layout} layout)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
