"""Check, convert and tabulate Praat TextGrid files from the command line.

    python -m velmar check PATH... [--lenient]
    python -m velmar convert --to long|short PATH... [-o DIR | --in-place]
    python -m velmar table PATH... -o OUT.csv|OUT.parquet [--lenient]

A PATH is a TextGrid file or a directory, searched for *.TextGrid files.
Exit status: 0 when every file went through, 1 when some file failed,
2 when the command could not run at all.
"""

import argparse
import csv
import os
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import velmar

# Files per batch call: every core reads one batch while memory stays bounded,
# and the progress line moves often enough.
BATCH = 500
COLUMNS = ("file", "tier", "is_interval", "tmin", "tmax", "label")


class CommandError(Exception):
    """The command cannot run at all (exit status 2)."""


class Progress:
    """A line on stderr, only on a terminal and only once a run has taken a moment."""

    DELAY = 0.5
    INTERVAL = 0.1

    def __init__(self, verb, total, stream=None, clock=time.monotonic):
        self.verb, self.total, self.done = verb, total, 0
        self.stream = sys.stderr if stream is None else stream
        self.clock = clock
        self.start = self.last = clock()
        self.enabled = self.stream.isatty()
        self.width = 0

    def advance(self, count):
        self.done += count
        now = self.clock()
        if not self.enabled or now - self.start < self.DELAY or now - self.last < self.INTERVAL:
            return
        self.last = now
        line = f"{self.verb} {self.done}/{self.total} files"
        self.stream.write("\r" + line.ljust(self.width))
        self.stream.flush()
        self.width = len(line)

    def close(self):
        if self.width:
            self.stream.write("\r" + " " * self.width + "\r")
            self.stream.flush()


def textgrid_files(arguments):
    """(path, name relative to its argument) for every file named or found."""
    found = []
    for argument in arguments:
        root = Path(argument)
        if not root.is_dir():
            found.append((root, Path(root.name)))
            continue
        inside = sorted(path for path in root.rglob("*") if is_textgrid(path))
        if not inside:
            raise CommandError(f"no *.TextGrid files in {root}")
        found.extend((path, path.relative_to(root)) for path in inside)
    return found


def is_textgrid(path):
    return path.suffix.lower() == ".textgrid" and path.is_file()


def reason_of(error):
    text = str(error)
    _, separator, reason = text.partition(" because: ")
    return reason if separator else text


def read_error(path, strict):
    """Why the single-file reader refuses the file, or None."""
    try:
        velmar.textgrid2data(str(path), strict, "auto")
    except OSError as error:
        return reason_of(error)
    return None


def read_batches(paths, strict, progress):
    """Yields (paths, columns, {position: reason}) batch by batch. A batch gives
    no rows for a failed file, so only files without rows are read once more,
    alone, to learn why."""
    for start in range(0, len(paths), BATCH):
        batch = paths[start:start + BATCH]
        columns = velmar.textgrids2vectors([str(path) for path in batch], strict, "auto")
        has_rows = np.zeros(len(batch), dtype=bool)
        has_rows[columns[5]] = True
        failures = {}
        for position in np.flatnonzero(~has_rows).tolist():
            reason = read_error(batch[position], strict)
            if reason is not None:
                failures[position] = reason
        yield batch, columns, failures
        progress.advance(len(batch))


def report(path, reason, stream):
    print(f"{path}: {reason}", file=stream)


# --- check ----------------------------------------------------------------------------

def check(arguments):
    paths = [path for path, _ in textgrid_files(arguments.paths)]
    progress = Progress("checked", len(paths))
    failed = 0
    for batch, _, failures in read_batches(paths, not arguments.lenient, progress):
        for position, reason in failures.items():
            report(batch[position], reason, sys.stdout)
        failed += len(failures)
    progress.close()
    print(f"{len(paths)} files, {len(paths) - failed} passed, {failed} failed")
    return 1 if failed else 0


# --- convert --------------------------------------------------------------------------

def convert(arguments):
    if arguments.in_place and arguments.output:
        raise CommandError("convert takes either -o DIR or --in-place, not both")
    files = textgrid_files(arguments.paths)
    targets = [conversion_target(path, name, arguments) for path, name in files]
    for (source, _), target in zip(files, targets):
        if not arguments.in_place and target.resolve() == source.resolve():
            raise CommandError(f"{source} would be replaced; use --in-place for that")
    if len(set(targets)) < len(targets):
        raise CommandError("two files would be written to the same place; name fewer files "
                           "or use --in-place")
    if arguments.output:
        try:
            Path(arguments.output).mkdir(parents=True, exist_ok=True)
        except OSError as error:
            raise CommandError(f"cannot create {arguments.output}: {error.strerror}") from error
    progress = Progress("converted", len(files))
    failed = 0
    for start in range(0, len(files), BATCH):
        sources = [source for source, _ in files[start:start + BATCH]]
        reasons = convert_batch(sources, targets[start:start + BATCH], arguments.to)
        for source, reason in zip(sources, reasons):
            if reason is not None:
                report(source, reason, sys.stderr)
                failed += 1
        progress.advance(len(sources))
    progress.close()
    print(f"{len(files)} files, {len(files) - failed} converted, {failed} failed")
    return 1 if failed else 0


def conversion_target(path, name, arguments):
    if arguments.in_place:
        return path
    if arguments.output:
        return Path(arguments.output) / name
    stem = path.stem.removesuffix(".short").removesuffix(".long")
    return path.with_name(f"{stem}.{arguments.to}.TextGrid")


def convert_batch(sources, targets, layout):
    """Writes each file in the layout, many at once, but only one whose text
    reads back exactly as the source did; returns why not for each, or None.
    A written file replaces its target whole, keeping a replaced file's mode."""
    reasons = [None] * len(sources)
    documents, outputs, positions = [], [], []
    for position, (source, target, original) in enumerate(
            zip(sources, targets, velmar.textgrids2data([str(s) for s in sources], True, "auto"))):
        reason = conversion_refused(source, target, original, layout)
        if reason is None:
            documents.append((original[2], original[0], original[1]))
            outputs.append(str(target))
            positions.append(position)
        reasons[position] = reason
    for position, entry in zip(positions, velmar.data2textgrids(documents, outputs, layout)):
        if entry is not None:
            reasons[position] = reason_of(entry)
    return reasons


def conversion_refused(source, target, original, layout):
    """Why the file read as `original` (the batch's empty entry for one it
    could not read) is not to be written to `target`, or None."""
    if original == (0.0, 0.0, []):
        reason = read_error(source, True)
        if reason is not None:
            return reason
    try:
        text = velmar.data2text(original[2], original[0], original[1], layout)
        loss = data_loss(original, velmar.text2data(text, True, layout))
    except OSError as error:
        return reason_of(error)
    if loss:
        return f"cannot be converted exactly: {loss}"
    try:
        target.parent.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        return f"cannot write {target}: {error.strerror}"
    return None


def data_loss(original, copy):
    """What the copy lost, or an empty text if it holds the same data."""
    if copy == original:
        return ""
    for (name, _, items), (_, _, copied) in zip(original[2], copy[2]):
        for item, other in zip(items, copied):
            if item != other:
                return f"{item[2]!r} in tier {name!r} would read back as {other[2]!r}"
    return "the data would change"


class kept_only_if_done:
    """A temporary file beside the target that replaces the target only when the
    block ends without an error, so a failure leaves the target as it was."""

    def __init__(self, target, mode_from=None):
        self.target, self.mode_from = Path(target), mode_from

    def __enter__(self):
        descriptor, self.temporary = tempfile.mkstemp(
            dir=self.target.parent, prefix=f".{self.target.name}.", suffix=".tmp")
        os.close(descriptor)
        return self.temporary

    def __exit__(self, error_type, error, traceback):
        try:
            if error_type is None:
                os.chmod(self.temporary, file_mode(self.mode_from))
                os.replace(self.temporary, self.target)
        finally:
            if os.path.exists(self.temporary):
                os.unlink(self.temporary)
        return False


def file_mode(like):
    if like is not None:
        return os.stat(like).st_mode & 0o7777
    umask = os.umask(0)
    os.umask(umask)
    return 0o666 & ~umask


# --- table ----------------------------------------------------------------------------

def table(arguments):
    output = Path(arguments.output)
    rows_type = ParquetRows if output.suffix.lower() == ".parquet" else CsvRows
    rows_type.check_available()
    files = [path for path, _ in textgrid_files(arguments.paths)]
    progress = Progress("read", len(files))
    failed = rows = 0
    try:
        with kept_only_if_done(output) as temporary, rows_type(temporary) as writer:
            for batch, columns, failures in read_batches(files, not arguments.lenient, progress):
                writer.write(batch, columns)
                rows += len(columns[0])
                for position, reason in failures.items():
                    report(batch[position], reason, sys.stderr)
                failed += len(failures)
    except OSError as error:
        raise CommandError(f"cannot write {output}: {error.strerror or error}") from error
    progress.close()
    print(f"{len(files)} files, {len(files) - failed} read, {failed} failed; "
          f"{rows} rows in {output}")
    return 1 if failed else 0


class CsvRows:
    def __init__(self, path):
        self.stream = open(path, "w", encoding="utf-8", newline="")
        self.writer = csv.writer(self.stream)
        self.writer.writerow(COLUMNS)

    @staticmethod
    def check_available():
        pass

    def write(self, paths, columns):
        tmins, tmaxs, labels, tiers, is_intervals, file_ids = columns
        names = [str(path) for path in paths]
        files = [names[file_id] for file_id in file_ids.tolist()]
        kinds = ["true" if flag else "false" for flag in is_intervals.tolist()]
        self.writer.writerows(zip(files, tiers, kinds, tmins.tolist(), tmaxs.tolist(), labels))

    def __enter__(self):
        return self

    def __exit__(self, *error):
        self.stream.close()


class ParquetRows:
    def __init__(self, path):
        import pyarrow as pa
        import pyarrow.parquet as pq

        self.pa = pa
        self.schema = pa.schema([("file", pa.string()), ("tier", pa.string()),
                                 ("is_interval", pa.bool_()), ("tmin", pa.float64()),
                                 ("tmax", pa.float64()), ("label", pa.string())])
        self.writer = pq.ParquetWriter(path, self.schema)

    @staticmethod
    def check_available():
        try:
            import pyarrow.parquet  # noqa: F401
        except ImportError as error:
            raise CommandError("writing Parquet needs pyarrow (pip install pyarrow); "
                               "name a .csv output to write CSV instead") from error

    def write(self, paths, columns):
        pa = self.pa
        tmins, tmaxs, labels, tiers, is_intervals, file_ids = columns
        files = pa.array([str(path) for path in paths], pa.string()).take(pa.array(file_ids))
        self.writer.write_table(pa.table(
            [files, pa.array(tiers, pa.string()), pa.array(is_intervals),
             pa.array(tmins), pa.array(tmaxs), pa.array(labels, pa.string())],
            schema=self.schema))

    def __enter__(self):
        return self

    def __exit__(self, *error):
        self.writer.close()


# --- the program ----------------------------------------------------------------------

def parser():
    program = argparse.ArgumentParser(
        prog="python -m velmar", description="Check, convert and tabulate Praat TextGrid files.",
        epilog="A PATH is a TextGrid file or a directory searched for *.TextGrid files. "
               "Exit status: 0 all files went through, 1 some failed, 2 the command could not run.")
    commands = program.add_subparsers(dest="command", required=True, metavar="COMMAND")

    checking = commands.add_parser("check", help="read every file strictly and report failures")
    checking.add_argument("paths", nargs="+", metavar="PATH")
    checking.add_argument("--lenient", action="store_true",
                          help="read without validating the data")
    checking.set_defaults(run=check)

    converting = commands.add_parser(
        "convert", help="rewrite files in the long or short layout",
        description="Rewrites files in the given layout, beside each source as "
                    "<stem>.<layout>.TextGrid unless -o or --in-place says otherwise. "
                    "A file is written only if it reads back with exactly its data.")
    converting.add_argument("paths", nargs="+", metavar="PATH")
    converting.add_argument("--to", required=True, choices=("long", "short"))
    converting.add_argument("-o", "--output", metavar="DIR",
                            help="write into DIR (under their paths inside directories named)")
    converting.add_argument("--in-place", action="store_true", help="replace the files themselves")
    converting.set_defaults(run=convert)

    tabulating = commands.add_parser(
        "table", help="every row of every file to CSV or Parquet",
        description="Writes one row per interval or point: " + ", ".join(COLUMNS) + ". "
                    "OUT ending in .parquet gives Parquet (needs pyarrow), anything else CSV.")
    tabulating.add_argument("paths", nargs="+", metavar="PATH")
    tabulating.add_argument("-o", "--output", required=True, metavar="OUT")
    tabulating.add_argument("--lenient", action="store_true",
                            help="read without validating the data")
    tabulating.set_defaults(run=table)
    return program


def main(argv=None):
    arguments = parser().parse_args(argv)
    try:
        return arguments.run(arguments)
    except CommandError as error:
        print(f"python -m velmar {arguments.command}: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
