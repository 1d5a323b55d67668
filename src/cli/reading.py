"""Files read many at once, on every core, with the reason for each that fails."""

from dataclasses import dataclass, field

import numpy as np

import velmar

from .common import reason_of

# Files per batch call: every core reads one batch while memory stays bounded,
# and the progress line moves often enough.
BATCH = 500
EMPTY_ENTRY = (0.0, 0.0, [])


@dataclass
class Batch:
    paths: list
    result: object  # the batch call's own result
    failures: dict = field(default_factory=dict)  # position: reason
    tiers: list = field(default_factory=list)  # per file
    items: list = field(default_factory=list)  # per file


def batches(paths, size=BATCH):
    for start in range(0, len(paths), size):
        yield paths[start:start + size]


def read_error(path, strict, file_type="auto"):
    """Why the single-file reader refuses the file, or None."""
    try:
        velmar.textgrid2data(str(path), strict, file_type)
    except OSError as error:
        return reason_of(error)
    return None


def failures_among(paths, suspects, strict, file_type="auto"):
    """A batch gives an empty entry for a failed file, so only such files are
    read once more, alone, to learn why."""
    reasons = {position: read_error(paths[position], strict, file_type) for position in suspects}
    return {position: reason for position, reason in reasons.items() if reason is not None}


def read_documents(paths, strict, file_type="auto"):
    """The structured form of each file, with exact tier and item counts."""
    entries = velmar.textgrids2data([str(path) for path in paths], strict, file_type)
    suspects = [position for position, entry in enumerate(entries) if entry == EMPTY_ENTRY]
    return Batch(paths, entries, failures_among(paths, suspects, strict, file_type),
                 [len(entry[2]) for entry in entries],
                 [sum(len(tier[2]) for tier in entry[2]) for entry in entries])


def read_columns(paths, strict):
    """One set of columns for all files; a file's tiers are those that gave rows."""
    columns = velmar.textgrids2vectors([str(path) for path in paths], strict, "auto")
    return counted(paths, columns, columns[5], np.array(columns[3], dtype=object), strict)


def counted(paths, result, file_ids, tier_keys, strict):
    """The batch of rows `result`, with each file's tiers and rows counted and
    the files without rows asked why; tier_keys are equal where the tier names
    are (the names, or their indices in a dictionary of distinct names)."""
    items = np.bincount(file_ids, minlength=len(paths))
    # Rows run tier by tier, so a tier starts where the file or the name changes.
    starts = np.ones(len(file_ids), dtype=bool)
    starts[1:] = (file_ids[1:] != file_ids[:-1]) | (tier_keys[1:] != tier_keys[:-1])
    tiers = np.bincount(file_ids[starts], minlength=len(paths))
    suspects = np.flatnonzero(items == 0).tolist()
    return Batch(paths, result, failures_among(paths, suspects, strict),
                 tiers.tolist(), items.tolist())


def report_batch(batch, reporter, **extra):
    """Each file's result; returns how many failed."""
    for position, path in enumerate(batch.paths):
        reason = batch.failures.get(position)
        if reason is None:
            reporter.success(path, batch.tiers[position], batch.items[position], **extra)
        else:
            reporter.failure(path, reason, **extra)
    return len(batch.failures)
