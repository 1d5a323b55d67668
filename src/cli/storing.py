"""Outputs that replace their targets only once complete, so a failure leaves
each target as it was."""

import contextlib
import os
import tempfile
from pathlib import Path


class Staged:
    """A temporary file beside its target, hidden (a dot, the target's name)."""

    def __init__(self, target, mode_from=None):
        self.target, self.mode_from = Path(target), mode_from
        descriptor, self.path = tempfile.mkstemp(
            dir=self.target.parent, prefix=f".{self.target.name}.", suffix=".tmp")
        os.close(descriptor)

    def commit(self):
        os.chmod(self.path, file_mode(self.mode_from))
        os.replace(self.path, self.target)

    def discard(self):
        if os.path.exists(self.path):
            os.unlink(self.path)


@contextlib.contextmanager
def kept_only_if_done(target, mode_from=None):
    """The temporary file's path; it replaces the target when the block ends
    without an error."""
    staged = Staged(target, mode_from)
    try:
        yield staged.path
        staged.commit()
    finally:
        staged.discard()


def file_mode(like):
    if like is not None:
        return os.stat(like).st_mode & 0o7777
    umask = os.umask(0)
    os.umask(umask)
    return 0o666 & ~umask
