"""Check, convert, tabulate and describe Praat TextGrid files from the command line.

    velmar check PATH... [--lenient]
    velmar convert --to long|short PATH... [-o DIR | --in-place] [--lenient]
    velmar table PATH... -o OUT.csv|OUT.parquet|- [--lenient]
    velmar info PATH...

(or python -m velmar ...). A PATH is a TextGrid file or a directory, searched
for *.TextGrid files; - reads paths from stdin, one a line. Exit status: 0 when
every file went through, 1 when some file failed, 2 when the command could not
run at all.
"""

import argparse
import sys
from importlib import metadata

import velmar

from .common import CommandError, Reporter
from .convert import convert
from .files import gather
from .info import info
from .progress import Progress
from .reading import batches, read_documents, report_batch
from .table import COLUMNS, table


def check(arguments, reporter, program):
    paths = [source.path for source in gather(arguments, program)]
    progress = Progress("checked", len(paths), arguments.progress)
    failed = 0
    for batch in batches(paths):
        failed += report_batch(read_documents(batch, not arguments.lenient), reporter)
        progress.advance(len(batch))
    progress.close()
    reporter.summary(f"{len(paths)} files, {len(paths) - failed} passed, {failed} failed")
    return 1 if failed else 0


def version():
    try:
        return f"velmar {metadata.version('velmar')}"
    except metadata.PackageNotFoundError:
        return "velmar (not installed from a package: version unknown)"


def shared_options():
    options = argparse.ArgumentParser(add_help=False)
    options.add_argument("paths", nargs="*", metavar="PATH",
                         help="TextGrid files and directories to search; - reads paths from "
                              "stdin, one a line")
    options.add_argument("--files-from", metavar="FILE",
                         help="also take the paths listed in FILE, one a line (- for stdin)")
    options.add_argument("--lenient", action="store_true",
                         help="read without validating the data (bounds, sizes, overlaps)")
    options.add_argument("--hidden", action="store_true",
                         help="also search names that start with a dot (such as ._x.TextGrid)")
    options.add_argument("--json", action="store_true",
                         help="print one JSON object per file on stdout: path, ok, reason, "
                              "tiers, items (and what the command adds); the summary goes "
                              "to stderr")
    options.add_argument("-q", "--quiet", action="store_true",
                         help="print only failures and warnings: no summary, no progress")
    options.add_argument("--no-progress", dest="progress", action="store_false",
                         help="no progress line (it shows only on a terminal anyway)")
    options.add_argument("-j", "--jobs", type=int, metavar="N",
                         help="read and write with N threads (1: this thread alone); by "
                              "default VELMAR_NUM_THREADS, else every core the process may use")
    return options


def parser(program):
    main_parser = argparse.ArgumentParser(
        prog=program, description="Check, convert, tabulate and describe Praat TextGrid files.",
        epilog="Exit status: 0 all files went through, 1 some failed, 2 the command could "
               "not run (nothing is written then).")
    main_parser.add_argument("--version", action="version", version=version())
    commands = main_parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    shared = [shared_options()]

    checking = commands.add_parser("check", parents=shared,
                                   help="read every file strictly and report failures")
    checking.set_defaults(run=check)

    converting = commands.add_parser(
        "convert", parents=shared, help="rewrite files in the long or short layout",
        description="Rewrites files in the given layout, beside each source as "
                    "<stem>.<layout>.TextGrid unless -o or --in-place says otherwise. "
                    "A file is written only if it reads back with exactly its data. Files "
                    "that an earlier conversion wrote beside their source are not converted "
                    "again.")
    converting.add_argument("--to", required=True, choices=("long", "short"),
                            help="the layout to write")
    converting.add_argument("-o", "--output", metavar="DIR",
                            help="write into DIR (under their paths inside directories named)")
    converting.add_argument("--in-place", action="store_true", help="replace the files themselves")
    converting.set_defaults(run=convert)

    tabulating = commands.add_parser(
        "table", parents=shared, help="every row of every file to CSV or Parquet",
        description="Writes one row per interval or point: " + ", ".join(COLUMNS) + ". "
                    "Read the CSV back with pandas.read_csv(OUT, keep_default_na=False) to "
                    "keep empty labels as they are. With --json, tiers counts the tiers "
                    "that gave rows.")
    tabulating.add_argument("-o", "--output", required=True, metavar="OUT",
                            help="OUT ending in .parquet gives Parquet (needs pyarrow), - CSV on "
                                 "stdout, anything else a CSV file")
    tabulating.set_defaults(run=table)

    describing = commands.add_parser(
        "info", parents=shared, help="layout, encoding, bounds and tiers of each file")
    describing.set_defaults(run=info)
    return main_parser


def use_threads(jobs):
    """Sets the module's threads before any file is read; a number it cannot
    take is the user's mistake, told before anything is written."""
    if jobs is None:
        return
    try:
        if jobs < 1:  # checked here too: 0 is no "default" on the command line
            raise ValueError(f"at least 1 thread, not {jobs}")
        velmar.set_num_threads(jobs)
    except ValueError as error:
        raise CommandError(f"--jobs {jobs}: {error}") from error


def main(argv=None, program="velmar"):
    arguments = parser(program).parse_args(argv)
    table_on_stdout = arguments.command == "table" and arguments.output == "-"
    reporter = Reporter(arguments, stdout_taken=table_on_stdout)
    arguments.progress = arguments.progress and not arguments.quiet
    try:
        use_threads(arguments.jobs)
        return arguments.run(arguments, reporter, program)
    except CommandError as error:
        print(f"{program} {arguments.command}: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        return 130
