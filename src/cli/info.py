"""info: what each file holds: layout, encoding, bounds, tiers and their items."""

import codecs

import velmar

from .common import json_number, reason_of
from .files import gather

ENCODINGS = ((codecs.BOM_UTF16_LE, "UTF-16LE"), (codecs.BOM_UTF16_BE, "UTF-16BE"),
             (codecs.BOM_UTF8, "UTF-8 with BOM"))


def info(arguments, reporter, program):
    failed = 0
    sources = gather(arguments, program)
    for source in sources:
        try:
            tmin, tmax, tiers = velmar.textgrid2data(str(source.path), not arguments.lenient,
                                                     "auto")
            layout, encoding = layout_and_encoding(source.path)
        except OSError as error:
            reporter.failure(source.path, reason_of(error))
            failed += 1
            continue
        kinds = [("IntervalTier" if is_interval else "TextTier", name, len(items))
                 for name, is_interval, items in tiers]
        items = sum(count for _, _, count in kinds)
        reporter.success(source.path, len(tiers), items, layout=layout, encoding=encoding,
                         tmin=json_number(tmin), tmax=json_number(tmax),
                         tier_list=[{"name": name, "kind": kind, "items": count}
                                    for kind, name, count in kinds])
        if not arguments.json:
            print(f"{source.path}: {layout} layout, {encoding}, {tmin!r} to {tmax!r} s, "
                  f"{len(tiers)} tiers, {items} items")
            for kind, name, count in kinds:
                things = "intervals" if kind == "IntervalTier" else "points"
                print(f"  {kind} {name!r}: {count} {things}")
    reporter.summary(f"{len(sources)} files, {len(sources) - failed} read, {failed} failed")
    return 1 if failed else 0


def layout_and_encoding(path):
    """As the reader tells them: a byte-order mark gives the encoding, and the
    long layout's "item []" line (ELAN: "item[]") the layout."""
    data = path.read_bytes()
    encoding = next((name for mark, name in ENCODINGS if data.startswith(mark)), "UTF-8")
    text = data.decode("utf-16" if encoding.startswith("UTF-16") else "utf-8", errors="replace")
    return ("long" if "item []" in text or "item[]" in text else "short"), encoding
