"""table: every interval and point of every readable file, as CSV or Parquet."""

import contextlib
import csv
import io
import sys
from pathlib import Path

import velmar

from .common import CommandError
from .files import gather
from .progress import Progress
from .reading import batches, counted, read_columns, report_batch
from .storing import kept_only_if_done

COLUMNS = ("file", "tier", "is_interval", "tmin", "tmax", "label")


def table(arguments, reporter, program):
    to_stdout = arguments.output == "-"
    if to_stdout and arguments.json:
        raise CommandError("--json and -o - would both write to stdout; name an output file")
    output = Path(arguments.output)
    rows_type = ParquetRows if output.suffix.lower() == ".parquet" else CsvRows
    rows_type.check_available()
    files = [source.path for source in gather(arguments, program)]
    progress = Progress("read", len(files), arguments.progress)
    failed = rows = 0
    try:
        with destination(None if to_stdout else output) as target, rows_type(target) as writer:
            for paths in batches(files):
                batch = writer.read(paths, not arguments.lenient)
                writer.write(batch)
                rows += sum(batch.items)
                failed += report_batch(batch, reporter)
                progress.advance(len(paths))
    except OSError as error:
        raise CommandError(f"cannot write {output}: {error.strerror or error}") from error
    progress.close()
    where = "stdout" if to_stdout else output
    reporter.summary(f"{len(files)} files, {len(files) - failed} read, {failed} failed; "
                     f"{rows} rows in {where}")
    return 1 if failed else 0


@contextlib.contextmanager
def destination(output):
    """A temporary file that replaces the output once complete, or stdout."""
    if output is None:
        stream = io.TextIOWrapper(sys.stdout.buffer, encoding="utf-8", newline="",
                                  write_through=True)
        try:
            yield stream
        finally:
            stream.flush()
            stream.detach()
        return
    with kept_only_if_done(output) as temporary:
        yield temporary


class CsvRows:
    """Times as Python writes floats: the shortest text that reads back exactly."""

    def __init__(self, target):
        self.owned = isinstance(target, str)
        self.stream = open(target, "w", encoding="utf-8", newline="") if self.owned else target
        self.writer = csv.writer(self.stream)
        self.writer.writerow(COLUMNS)

    @staticmethod
    def check_available():
        pass

    @staticmethod
    def read(paths, strict):
        return read_columns(paths, strict)

    def write(self, batch):
        tmins, tmaxs, labels, tiers, is_intervals, file_ids = batch.result
        names = [str(path) for path in batch.paths]
        files = [names[file_id] for file_id in file_ids.tolist()]
        kinds = ["true" if flag else "false" for flag in is_intervals.tolist()]
        self.writer.writerows(zip(files, tiers, kinds, tmins.tolist(), tmaxs.tolist(), labels))

    def __enter__(self):
        return self

    def __exit__(self, *error):
        if self.owned:
            self.stream.close()


class ParquetRows:
    def __init__(self, target):
        import pyarrow as pa
        import pyarrow.parquet as pq

        self.pa = pa
        self.schema = pa.schema([("file", pa.string()), ("tier", pa.string()),
                                 ("is_interval", pa.bool_()), ("tmin", pa.float64()),
                                 ("tmax", pa.float64()), ("label", pa.string())])
        self.writer = pq.ParquetWriter(target, self.schema)

    @staticmethod
    def check_available():
        try:
            import pyarrow.parquet  # noqa: F401
        except ImportError as error:
            raise CommandError("writing Parquet needs pyarrow (pip install pyarrow); "
                               "name a .csv output to write CSV instead") from error

    def read(self, paths, strict):
        """The batch as one Arrow table, its rows never Python objects."""
        result = self.pa.table(velmar.textgrids2arrow([str(path) for path in paths], strict,
                                                      "auto"))
        # Both names are dictionary indices: a file's is its position in paths,
        # and a tier's index is equal only where the name is.
        files = result.column("file").combine_chunks().indices.to_numpy()
        tiers = result.column("tier").combine_chunks().indices.to_numpy()
        return counted(paths, result, files, tiers, strict)

    def write(self, batch):
        # Plain strings, as the files have always held, not dictionaries.
        self.writer.write_table(batch.result.cast(self.schema))

    def __enter__(self):
        return self

    def __exit__(self, *error):
        self.writer.close()
