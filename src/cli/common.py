"""What every command shares: its errors, its files' results and its summary."""

import json
import math
import sys


class CommandError(Exception):
    """The command cannot run at all (exit status 2); nothing has been written."""


def reason_of(error):
    """The reader's reason, without the module's "Failed to ... because: " prefix."""
    text = str(error)
    _, separator, reason = text.partition(" because: ")
    return reason if separator else text


def json_number(value):
    # JSON has no infinity or NaN; a string keeps them readable by machines.
    return value if math.isfinite(value) else repr(value)


class Reporter:
    """Writes a command's results to stdout and its failures to stderr: with
    --json one object per file on stdout (failures too, with their reason),
    otherwise a line `PATH: reason` per failure on stderr; then a summary."""

    def __init__(self, arguments, stdout_taken=False):
        self.json = arguments.json
        self.quiet = arguments.quiet
        # The summary is a result, unless stdout carries data for machines.
        self.summary_stream = sys.stderr if self.json or stdout_taken else sys.stdout

    def success(self, path, tiers, items, **extra):
        if self.json:
            self._object(path, True, None, tiers, items, extra)

    def failure(self, path, reason, **extra):
        if self.json:
            self._object(path, False, reason, None, None, extra)
        else:
            print(f"{path}: {reason}", file=sys.stderr)

    def summary(self, text):
        if not self.quiet:
            print(text, file=self.summary_stream)

    @staticmethod
    def _object(path, ok, reason, tiers, items, extra):
        record = {"path": str(path), "ok": ok, "reason": reason, "tiers": tiers, "items": items}
        record.update(extra)
        print(json.dumps(record, ensure_ascii=False), flush=True)


def warn(program, text):
    print(f"{program}: warning: {text}", file=sys.stderr)
