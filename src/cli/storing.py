"""An output that replaces its target only once it is complete."""

import os
import tempfile
from pathlib import Path


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
