"""python -m velmar: the command line, as the `velmar` command runs it."""

import sys

from velmar.cli import main

if __name__ == "__main__":
    sys.exit(main(program="python -m velmar"))
