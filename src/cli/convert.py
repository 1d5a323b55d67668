"""convert: each file in the other layout, kept only if it reads back exactly."""

import os
from pathlib import Path

import velmar

from .common import CommandError, reason_of
from .files import gather
from .progress import Progress
from .reading import batches, read_documents
from .storing import Staged

LAYOUT_TAGS = (".short", ".long")


def convert(arguments, reporter, program):
    if arguments.in_place and arguments.output:
        raise CommandError("convert takes either -o DIR or --in-place, not both")
    sources = gather(arguments, program)
    beside = not (arguments.in_place or arguments.output)
    earlier = earlier_outputs(sources) if beside else set()
    sources = [source for source in sources if source.path not in earlier]
    targets = {source.path: target_of(source, arguments) for source in sources}
    check_targets(targets, arguments.in_place)
    if arguments.output:
        try:
            Path(arguments.output).mkdir(parents=True, exist_ok=True)
        except OSError as error:
            raise CommandError(f"cannot create {arguments.output}: {error.strerror}") from error

    progress = Progress("converted", len(sources), arguments.progress)
    failed = 0
    for paths in batches([source.path for source in sources]):
        failed += convert_batch(paths, targets, arguments, reporter)
        progress.advance(len(paths))
    progress.close()
    skipped = f"; {len(earlier)} earlier outputs left as they are" if earlier else ""
    reporter.summary(f"{len(sources)} files, {len(sources) - failed} converted, "
                     f"{failed} failed{skipped}")
    return 1 if failed else 0


def beside_target(path, layout):
    stem = path.stem
    for tag in LAYOUT_TAGS:  # converting back gives x.long, not x.short.long
        stem = stem.removesuffix(tag)
    return path.with_name(f"{stem}.{layout}.TextGrid")


def earlier_outputs(sources):
    """Files found in a directory that a conversion beside a plain-named file
    (x.TextGrid) wrote there (x.long.TextGrid, x.short.TextGrid): not sources."""
    plain = [source.path for source in sources
             if Path(source.path.stem).suffix.lower() not in LAYOUT_TAGS]
    outputs = {beside_target(path, layout) for path in plain for layout in ("long", "short")}
    return {source.path for source in sources if source.searched and source.path in outputs}


def target_of(source, arguments):
    if arguments.in_place:
        return source.path
    if arguments.output:
        return Path(arguments.output) / source.name
    return beside_target(source.path, arguments.to)


def check_targets(targets, in_place):
    real = RealPaths()
    writers = {}
    for source, target in targets.items():
        real_target = real(target)
        if not in_place and real_target == real(source):
            raise CommandError(f"{source} would be replaced; use --in-place for that")
        other = writers.setdefault(real_target, source)
        if other != source:
            raise CommandError(f"{other} and {source} would both be written to {target}; "
                               "name fewer files or use --in-place")


class RealPaths:
    """Paths with every symlink resolved; each directory is resolved once, not
    once per file in it (thousands of files share a few directories)."""

    def __init__(self):
        self.directories = {}

    def __call__(self, path):
        if os.path.islink(path):
            return os.path.realpath(path)
        directory, name = os.path.split(os.path.abspath(path))
        if directory not in self.directories:
            self.directories[directory] = os.path.realpath(directory)
        return os.path.join(self.directories[directory], name)


def convert_batch(paths, targets, arguments, reporter):
    """Reads the batch on every core, writes each readable file beside its
    target, reads the copies back on every core and keeps those that hold
    exactly the data read; returns how many failed."""
    strict = not arguments.lenient
    read = read_documents(paths, strict)
    reasons = dict(read.failures)
    staged = {}
    try:
        for position in range(len(paths)):
            if position not in reasons:
                stage(position, paths, targets, arguments.in_place, staged, reasons)
        documents = {position: document_of(read.result[position]) for position in staged}
        reasons.update(write_documents(documents, staged, arguments.to))
        written = [position for position in staged if position not in reasons]
        copies = velmar.textgrids2data([staged[position].path for position in written], strict,
                                       arguments.to)
        for position, copy in zip(written, copies):
            reason = keep_if_exact(read.result[position], copy, staged[position])
            if reason is not None:
                reasons[position] = reason
    finally:
        for temporary in staged.values():
            temporary.discard()
    for position, path in enumerate(paths):
        target = str(targets[path])
        if position in reasons:
            reporter.failure(path, reasons[position], output=target)
        else:
            reporter.success(path, read.tiers[position], read.items[position], output=target)
    return len(reasons)


def document_of(entry):
    tmin, tmax, tiers = entry
    return tiers, tmin, tmax  # the (data, tmin, tmax) a batch write takes


def stage(position, paths, targets, in_place, staged, reasons):
    target = targets[paths[position]]
    try:
        target.parent.mkdir(parents=True, exist_ok=True)
        staged[position] = Staged(target, paths[position] if in_place else None)
    except OSError as error:
        reasons[position] = f"cannot write {target}: {error.strerror}"


def write_documents(documents, staged, layout):
    """Each document into its staged file, the whole batch in one call on every
    core; returns {position: reason} for those that cannot be written (a
    written document is always validated, even after a lenient read)."""
    positions = list(documents)
    messages = velmar.data2textgrids([documents[position] for position in positions],
                                     [staged[position].path for position in positions], layout)
    return {position: f"cannot be written: {reason_of(message)}"
            for position, message in zip(positions, messages) if message is not None}


def keep_if_exact(original, copy, staged):
    loss = data_loss(original, copy)
    if loss:
        return f"cannot be converted exactly: {loss}"
    try:
        staged.commit()
    except OSError as error:
        return f"cannot write {staged.target}: {error.strerror}"
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
