"""``python -m pyorvex``: the command line of :mod:`pyorvex.cli`."""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
