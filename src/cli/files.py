"""The files a command works on: named, listed (stdin or --files-from), or
found in the directories named."""

import os
import sys
from dataclasses import dataclass
from pathlib import Path

from .common import CommandError, warn


@dataclass(frozen=True)
class Source:
    path: Path
    name: Path  # below the directory it was found in, or the file's own name
    searched: bool  # found in a directory rather than named


def gather(arguments, program):
    named = list(named_paths(arguments))
    if not named:
        raise CommandError("no PATH given (name files or directories, or - for stdin)")
    found = []
    for text in named:
        root = Path(text)
        if not root.exists():
            raise CommandError(f"{root}: no such file or directory")
        if not root.is_dir():
            found.append(Source(root, Path(root.name), False))
            continue
        inside = search(root, arguments.hidden, program)
        if not inside:
            raise CommandError(f"no *.TextGrid files in {root}")
        found.extend(Source(path, path.relative_to(root), True) for path in inside)
    return found


def named_paths(arguments):
    """PATH arguments in order; - stands for the lines of stdin, as does
    --files-from -."""
    for text in arguments.paths:
        yield from listed_paths(sys.stdin) if text == "-" else (text,)
    if arguments.files_from == "-":
        yield from listed_paths(sys.stdin)
    elif arguments.files_from:
        try:
            with open(arguments.files_from, encoding="utf-8") as listing:
                yield from listed_paths(listing)
        except OSError as error:
            raise CommandError(f"cannot read {arguments.files_from}: {error.strerror}") from error


def listed_paths(stream):
    for line in stream:
        line = line.rstrip("\r\n")
        if line:
            yield line


def search(root, hidden, program):
    """*.TextGrid files below root, sorted; names starting with a dot (such as
    the ._x.TextGrid files macOS leaves) only with --hidden."""
    def unreadable(error):
        warn(program, f"cannot read directory {error.filename}: {error.strerror}")

    found = []
    for directory, subdirectories, files in os.walk(root, onerror=unreadable):
        if not hidden:
            subdirectories[:] = [name for name in subdirectories if not name.startswith(".")]
            files = [name for name in files if not name.startswith(".")]
        found.extend(Path(directory) / name for name in files
                     if name.lower().endswith(".textgrid"))
    return sorted(path for path in found if path.is_file())
