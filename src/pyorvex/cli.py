"""The pyorvex command line: ``pyorvex demo|show|plot`` (or ``python -m pyorvex ...``)."""

from __future__ import annotations

import argparse
import os
import re
import sys
from typing import TYPE_CHECKING, List, Optional, Sequence, Tuple

from . import __version__

if TYPE_CHECKING:
    from .defdatastruct import Trajectory1d

EXIT_OK = 0
EXIT_FAILURE = 1  # a failure reported in one line on stderr; argparse uses 2 for usage errors

DEFAULT_EXTENSION = ".pyorvex"
TRAJECTORY_TAG = "Trajectory1d"

Row = Tuple[str, str, str, str, str, str]


class CommandError(Exception):
    """A failure to report in one line, without a traceback."""


def document_path(name: str) -> str:
    """The file a document name stands for: as in savexml and loadxml, a name without an
    extension gets ".pyorvex" appended."""
    return name if os.path.splitext(name)[1] else name + DEFAULT_EXTENSION


# --- show ----------------------------------------------------------------------------------------

def read_document(name: str) -> Tuple[str, List[Row]]:
    """The file a document name stands for, and its objects as rows of
    (tag, ID, degree, n, order, domain)."""
    from lxml import etree

    path = document_path(name)
    if os.path.isdir(path):
        raise CommandError(f"{path} is a directory, not a document")
    if not os.path.isfile(path):
        hint = ""
        if path != name and os.path.isfile(name):
            hint = f" (a name without an extension stands for NAME{DEFAULT_EXTENSION}; give the file an extension)"
        raise CommandError(f"no such file: {path}{hint}")
    parser = etree.XMLParser(resolve_entities=False, no_network=True, huge_tree=True)
    try:
        root = etree.parse(path, parser).getroot()
    except etree.XMLSyntaxError as exc:
        raise CommandError(f"{path} is not a pyorvex document: it is not well-formed XML ({exc})") from None
    except OSError as exc:
        raise CommandError(f"cannot read {path}: {exc.strerror or exc}") from None
    if root.tag != "PyORVEXObjectList":
        raise CommandError(f"{path} is not a pyorvex document: its root element is <{root.tag}>, "
                           "not <PyORVEXObjectList>")
    rows: List[Row] = []
    for elem in root:
        if not isinstance(elem.tag, str):  # comments and processing instructions
            continue
        get = elem.get
        if elem.find("knots") is not None:
            domain = f"[{get('start', '?')}, {get('stop', '?')}]"
            rows.append((elem.tag, get("ID", ""), get("p", "?"), get("n", "?"), get("order", "?"), domain))
        elif get("t") is not None:
            rows.append((elem.tag, get("ID", ""), "-", "-", get("order", "?"), f"t = {get('t')}"))
        else:
            rows.append((elem.tag, get("ID", ""), "-", "-", get("order", "-"), "-"))
    return path, rows


def _printable(text: str) -> str:
    """Text with line breaks, tabs and other unprintable characters escaped, as repr shows them."""
    return "".join(c if c.isprintable() else repr(c)[1:-1] for c in text)


def format_table(rows: Sequence[Sequence[str]]) -> str:
    """Rows under the header (tag, ID, degree, n, order, domain), in aligned columns."""
    header = ("tag", "ID", "degree", "n", "order", "domain")
    table = [header, *(tuple(map(_printable, row)) for row in rows)]
    widths = [max(len(row[i]) for row in table) for i in range(len(header))]
    lines = ["  ".join(cell.ljust(w) for cell, w in zip(row, widths)).rstrip() for row in table]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return "\n".join(lines)


def cmd_show(args: argparse.Namespace) -> int:
    path, rows = read_document(args.file)
    print(format_table(rows))
    print(f"{len(rows)} object{'' if len(rows) == 1 else 's'} in {path}")
    return EXIT_OK


# --- plot ----------------------------------------------------------------------------------------

def load_trajectory(name: str, ident: str) -> Trajectory1d:
    """The trajectory saved under `ident` in a document, with errors a user can act on."""
    from lxml import etree

    from .defdatastruct import CorruptedFileError, Trajectory1d

    path, rows = read_document(name)
    if not any(tag == TRAJECTORY_TAG and row_id == ident for tag, row_id, *_ in rows):
        found = [row_id for tag, row_id, *_ in rows if tag == TRAJECTORY_TAG]
        others = sorted({tag for tag, row_id, *_ in rows if row_id == ident})
        what = f" (an object of type {', '.join(others)} has that ID)" if others else ""
        listing = ", ".join(repr(i) for i in found) if found else "none"
        raise CommandError(f"no trajectory with ID {ident!r} in {path}{what}; trajectories: {listing}")
    try:
        return Trajectory1d.loadxml(path, ident)
    except (ValueError, TypeError, IndexError, AttributeError, OverflowError, MemoryError,
            CorruptedFileError, etree.LxmlError) as exc:
        raise CommandError(f"cannot load trajectory {ident!r} from {path}: {exc}") from None


def default_plot_path(name: str, ident: str) -> str:
    """DOC-ID.png beside the document; characters of the ID that do not belong in a file name
    become underscores, so an ID cannot point the image elsewhere."""
    safe = re.sub(r"[^A-Za-z0-9._-]", "_", ident).lstrip(".") or "_"
    return f"{os.path.splitext(document_path(name))[0]}-{safe}.png"


def cmd_plot(args: argparse.Namespace) -> int:
    from .plot import MatplotlibMissing, plot_trajectory

    traj = load_trajectory(args.file, args.id)
    out = args.output or default_plot_path(args.file, args.id)
    try:
        plot_trajectory(traj, out, derivatives=args.derivatives, title=f"{args.id} ({os.path.basename(args.file)})")
    except MatplotlibMissing as exc:
        raise CommandError(str(exc)) from None
    except OSError as exc:
        raise CommandError(f"cannot write {out}: {exc.strerror or exc}") from None
    print(f"wrote {out}")
    return EXIT_OK


# --- demo ----------------------------------------------------------------------------------------

def cmd_demo(args: argparse.Namespace) -> int:
    from .demo import run_demo

    try:
        run_demo(args.out)
    except OSError as exc:
        raise CommandError(f"cannot write the demo's files to {args.out}: {exc.strerror or exc}") from None
    return EXIT_OK


# --- entry point ---------------------------------------------------------------------------------

def _count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must be non-negative, got {value}")
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="pyorvex",
        description="B-spline trajectories for motion planning: a guided demo and tools for "
        "pyorvex documents (the XML files written by savexml).",
        epilog="Run 'pyorvex COMMAND --help' for the options of a command.",
    )
    parser.add_argument("--version", action="version", version=f"pyorvex {__version__}")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", title="commands")
    sub.required = True

    demo = sub.add_parser(
        "demo",
        help="build, edit, constrain, save and plot a motion profile",
        description="Builds a minimum-jerk point-to-point move, refines and thins its knot vector, "
        "adds a local correction sized so that the move passes through a via point, saves the "
        "move and the point into a document, loads both back, prints a short report and plots "
        "the move with its velocity, acceleration and jerk (the plot needs matplotlib: "
        "pip install 'pyorvex[plot]').",
    )
    demo.add_argument("--out", default="pyorvex-demo", metavar="DIR",
                      help="directory for demo.pyorvex and demo.png (default: %(default)s)")
    demo.set_defaults(func=cmd_demo)

    show = sub.add_parser(
        "show",
        help="list the objects of a document",
        description="Lists the objects of a pyorvex document as a table: tag, ID, degree, n "
        "(highest control-point index), derivative order and domain (for a point, its time). "
        f"A FILE without an extension stands for FILE{DEFAULT_EXTENSION}.",
    )
    show.add_argument("file", metavar="FILE", help="the document")
    show.set_defaults(func=cmd_show)

    plot = sub.add_parser(
        "plot",
        help="plot a saved trajectory and its derivatives",
        description="Plots the trajectory saved under ID in a document, with its first K "
        "derivatives below it on a shared time axis and the knots marked. Needs matplotlib: "
        f"pip install 'pyorvex[plot]'. A FILE without an extension stands for FILE{DEFAULT_EXTENSION}.",
    )
    plot.add_argument("file", metavar="FILE", help="the document")
    plot.add_argument("id", metavar="ID", help="the ID the trajectory was saved under")
    plot.add_argument("-k", "--derivatives", type=_count, default=2, metavar="K",
                      help="number of derivatives to plot below the trajectory (default: %(default)s)")
    plot.add_argument("-o", "--output", metavar="OUT.png",
                      help="image to write (default: FILE-ID.png beside the document)")
    plot.set_defaults(func=cmd_plot)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run the command line with `argv` (default: ``sys.argv[1:]``); return the exit code."""
    args = build_parser().parse_args(argv)
    try:
        return int(args.func(args))
    except CommandError as exc:
        print(f"pyorvex: error: {exc}", file=sys.stderr)
        return EXIT_FAILURE


if __name__ == "__main__":  # pragma: no cover
    sys.exit(main())
