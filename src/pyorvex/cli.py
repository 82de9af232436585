"""The pyorvex command line: ``pyorvex demo|show|plot|limits`` (or ``python -m pyorvex ...``)."""

from __future__ import annotations

import argparse
import os
import re
import sys
from typing import TYPE_CHECKING, Callable, List, Optional, Sequence, Tuple

from . import __version__

if TYPE_CHECKING:
    from lxml import etree

    from .defdatastruct import Trajectory1d
    from .multiaxis import TrajectoryNd

EXIT_OK = 0
EXIT_FAILURE = 1  # a failure reported in one line on stderr; argparse uses 2 for usage errors
EXIT_LIMIT_EXCEEDED = 3  # `limits`: the report is printed, and a limit given does not hold

DEFAULT_EXTENSION = ".pyorvex"
TRAJECTORY_TAG = "Trajectory1d"
MOTION_TAG = "TrajectoryNd"

Row = Tuple[str, str, str, str, str, str, str]


class CommandError(Exception):
    """A failure to report in one line, without a traceback."""


def document_path(name: str) -> str:
    """The file a document name stands for: as in savexml and loadxml, a name without an
    extension gets ".pyorvex" appended."""
    return name if os.path.splitext(name)[1] else name + DEFAULT_EXTENSION


# --- show ----------------------------------------------------------------------------------------


def _check_document_file(name: str, path: str) -> None:
    """Refuses, before anything opens it, a document path that is not a regular file. A name
    without an extension that is itself something else (`.`, a directory, a FIFO) is named as
    that rather than as a missing NAME.pyorvex."""
    if os.path.isfile(path):
        return
    shown = path if os.path.exists(path) else name if os.path.exists(name) else None
    if shown is None:
        raise CommandError(f"no such file: {path}")
    if os.path.isdir(shown):
        raise CommandError(f"{shown} is a directory, not a document")
    if not os.path.isfile(shown):
        raise CommandError(f"{shown} is not a regular file")
    raise CommandError(
        f"no such file: {path} (a name without an extension stands for "
        f"NAME{DEFAULT_EXTENSION}; give the file an extension)"
    )


def parse_document(name: str) -> Tuple[str, etree._Element]:
    """The file a document name stands for, and the root element of the document in it."""
    from lxml import etree

    path = document_path(name)
    _check_document_file(name, path)
    parser = etree.XMLParser(resolve_entities=False, no_network=True, huge_tree=True)
    try:
        root = etree.parse(path, parser).getroot()
    except etree.XMLSyntaxError as exc:
        raise CommandError(
            f"{path} is not a pyorvex document: it is not well-formed XML ({exc})"
        ) from None
    except OSError as exc:
        raise CommandError(f"cannot read {path}: {exc.strerror or exc}") from None
    if root.tag != "PyORVEXObjectList":
        raise CommandError(
            f"{path} is not a pyorvex document: its root element is <{root.tag}>, "
            "not <PyORVEXObjectList>"
        )
    return path, root


def object_elements(root: etree._Element) -> List[etree._Element]:
    """The object elements of a document, without its comments and processing instructions."""
    return [elem for elem in root if isinstance(elem.tag, str)]


def is_trajectory_element(elem: etree._Element) -> bool:
    """Whether an element stands for a trajectory: one of the tag Trajectory1d, or one of any tag
    that holds knots and control points (a subclass of Trajectory1d is saved under its own name)."""
    return elem.tag == TRAJECTORY_TAG or (
        elem.find("knots") is not None and elem.find("cpts") is not None
    )


def _number_text(piece: str) -> str:
    try:
        return repr(float(piece))
    except ValueError:
        return "?"


def knots_domain(elem: etree._Element) -> str:
    """[first knot, last knot] as the element's knots text gives them: the start and stop
    attributes are not read back by the loader, and a hand-edited file may have left them stale."""
    text = (elem.findtext("knots") or "").strip()
    if not text:
        return "[?, ?]"
    return f"[{_number_text(text.split(None, 1)[0])}, {_number_text(text.rsplit(None, 1)[-1])}]"


def read_document(name: str) -> Tuple[str, List[Row]]:
    """The file a document name stands for, and its objects as rows of
    (tag, ID, degree, n, dof, order, domain): a trajectory of one axis has dof 1, a point none."""
    path, root = parse_document(name)
    rows: List[Row] = []
    for elem in object_elements(root):
        get = elem.get
        ident = get("ID", "")
        if elem.find("knots") is not None:
            dof = get("dof", "?") if elem.tag == MOTION_TAG else "1"
            domain = knots_domain(elem)
            rows.append(
                (elem.tag, ident, get("p", "?"), get("n", "?"), dof, get("order", "?"), domain)
            )
        elif get("t") is not None:
            rows.append((elem.tag, ident, "-", "-", "-", get("order", "?"), f"t = {get('t')}"))
        else:
            rows.append((elem.tag, ident, "-", "-", "-", get("order", "-"), "-"))
    return path, rows


def _printable(text: str) -> str:
    """Text with line breaks, tabs and other unprintable characters escaped, as repr shows them."""
    return "".join(c if c.isprintable() else repr(c)[1:-1] for c in text)


def format_table(rows: Sequence[Sequence[str]]) -> str:
    """Rows under the header (tag, ID, degree, n, dof, order, domain), in aligned columns. The
    dof column is shown only for a document that holds a multi-axis motion: elsewhere every
    trajectory has one axis, and the table stays as it has always been."""
    header: Tuple[str, ...] = ("tag", "ID", "degree", "n", "dof", "order", "domain")
    if not any(row[0] == MOTION_TAG for row in rows):
        keep = [i for i in range(len(header)) if header[i] != "dof"]
        header = tuple(header[i] for i in keep)
        rows = [[row[i] for i in keep] for row in rows]
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


def load_trajectory(name: str, ident: str) -> Trajectory1d | TrajectoryNd:
    """The trajectory saved under `ident` in a document, with errors a user can act on. An element
    of the tag Trajectory1d is the one loadxml finds, then one of TrajectoryNd (a motion of several
    axes); failing both, the first element under that ID that holds knots and control points
    (saved from a subclass) is read as a Trajectory1d."""
    from lxml import etree

    from .defdatastruct import CorruptedFileError, Trajectory1d
    from .multiaxis import TrajectoryNd

    path, root = parse_document(name)
    elements = object_elements(root)
    found = [e for e in elements if e.get("ID") == ident and is_trajectory_element(e)]
    if not found:
        listing = (
            ", ".join(repr(e.get("ID", "")) for e in elements if is_trajectory_element(e)) or "none"
        )
        others = sorted({e.tag for e in elements if e.get("ID") == ident})
        what = f" (an object of type {', '.join(others)} has that ID)" if others else ""
        raise CommandError(
            f"no trajectory with ID {ident!r} in {path}{what}; trajectories: {listing}"
        )
    try:
        if any(e.tag == TRAJECTORY_TAG for e in found):
            return Trajectory1d.loadxml(path, ident)
        if any(e.tag == MOTION_TAG for e in found):
            return TrajectoryNd.loadxml(path, ident)
        return _load_as_trajectory(found[0])
    except (
        ValueError,
        TypeError,
        IndexError,
        AttributeError,
        OverflowError,
        MemoryError,
        CorruptedFileError,
        etree.LxmlError,
    ) as exc:
        raise CommandError(f"cannot load trajectory {ident!r} from {path}: {exc}") from None
    except OSError as exc:
        raise CommandError(
            f"cannot load trajectory {ident!r} from {path}: {exc.strerror or exc}"
        ) from None


def _load_as_trajectory(elem: etree._Element) -> Trajectory1d:
    """A trajectory from an element of another tag, through the loader itself (so it is checked
    and read exactly as a Trajectory1d element is): a copy of the element, retagged, is the one
    object of a scratch document."""
    import copy
    import tempfile

    from lxml import etree

    from .defdatastruct import Trajectory1d

    root = etree.Element("PyORVEXObjectList")
    twin = copy.deepcopy(elem)
    twin.tag = TRAJECTORY_TAG
    twin.set("ID", "plot")  # any ID the loader can look up, whatever the saved one holds
    twin.tail = None
    root.append(twin)
    with tempfile.TemporaryDirectory(prefix="pyorvex-") as scratch:
        doc = os.path.join(scratch, "element.pyorvex")
        etree.ElementTree(root).write(doc, xml_declaration=True, encoding="utf-8")
        return Trajectory1d.loadxml(doc, "plot")


def default_plot_path(name: str, ident: str) -> str:
    """DOC-ID.png beside the document; characters of the ID that do not belong in a file name
    become underscores, so an ID cannot point the image elsewhere."""
    safe = re.sub(r"[^A-Za-z0-9._-]", "_", ident).lstrip(".") or "_"
    return f"{os.path.splitext(document_path(name))[0]}-{safe}.png"


def cmd_plot(args: argparse.Namespace) -> int:
    from .plot import MatplotlibMissing, UnsupportedImageFormat, plot_trajectory

    traj = load_trajectory(args.file, args.id)
    out = args.output or default_plot_path(args.file, args.id)
    try:
        written = plot_trajectory(
            traj,
            out,
            derivatives=args.derivatives,
            title=f"{args.id} ({os.path.basename(args.file)})",
        )
    except MatplotlibMissing as exc:
        raise CommandError(str(exc)) from None
    except UnsupportedImageFormat as exc:
        raise CommandError(f"cannot write {out}: {exc}") from None
    except OSError as exc:
        raise CommandError(f"cannot write {out}: {exc.strerror or exc}") from None
    except RuntimeError as exc:  # a backend that needs a missing tool, such as LaTeX for .pgf
        raise CommandError(f"cannot write {out}: {exc}") from None
    except ValueError as exc:
        raise CommandError(f"cannot plot trajectory {args.id!r}: {exc}") from None
    print(f"wrote {written}")
    return EXIT_OK


# --- limits --------------------------------------------------------------------------------------


def _limit(name: str) -> Callable[[str], float]:
    """The parser of a limit on the command line: a positive number (inf allowed); anything
    else is a wrong argument, as a word is."""
    from ._checks import positive

    def parse(text: str) -> float:
        try:
            return positive(float(text), name)
        except ValueError as exc:
            raise argparse.ArgumentTypeError(str(exc)) from None

    return parse


def cmd_limits(args: argparse.Namespace) -> int:
    from .planning.limits import limits_report

    traj = load_trajectory(args.file, args.id)
    try:
        report = limits_report(traj, args.velocity, args.acceleration, args.jerk)
    except ValueError as exc:
        raise CommandError(f"cannot check trajectory {args.id!r}: {exc}") from None
    print(report.text())
    return EXIT_OK if report.holds else EXIT_LIMIT_EXCEEDED


# --- demo ----------------------------------------------------------------------------------------


def cmd_demo(args: argparse.Namespace) -> int:
    from .demo import run_demo

    try:
        run_demo(args.out)
    except OSError as exc:
        raise CommandError(
            f"cannot write the demo's files to {args.out}: {exc.strerror or exc}"
        ) from None
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
    demo.add_argument(
        "--out",
        default="pyorvex-demo",
        metavar="DIR",
        help="directory for demo.pyorvex and demo.png (default: %(default)s)",
    )
    demo.set_defaults(func=cmd_demo)

    show = sub.add_parser(
        "show",
        help="list the objects of a document",
        description="Lists the objects of a pyorvex document as a table: tag, ID, degree, n "
        "(highest control-point index), dof (number of axes; shown when the document holds a "
        "TrajectoryNd), derivative order and domain (first and last knot; for a point, its time). "
        f"A FILE without an extension stands for FILE{DEFAULT_EXTENSION}.",
    )
    show.add_argument("file", metavar="FILE", help="the document")
    show.set_defaults(func=cmd_show)

    plot = sub.add_parser(
        "plot",
        help="plot a saved trajectory and its derivatives",
        description="Plots the trajectory saved under ID in a document, with its first K "
        "derivatives below it on a shared time axis and the knots marked (every axis of a "
        "TrajectoryNd, one labelled line each); any element under ID that holds knots and "
        "control points, whatever its tag. Needs matplotlib: "
        f"pip install 'pyorvex[plot]'. A FILE without an extension stands for FILE{DEFAULT_EXTENSION}.",
    )
    plot.add_argument("file", metavar="FILE", help="the document")
    plot.add_argument("id", metavar="ID", help="the ID the trajectory was saved under")
    plot.add_argument(
        "-k",
        "--derivatives",
        type=_count,
        default=2,
        metavar="K",
        help="number of derivatives to plot below the trajectory (default: %(default)s)",
    )
    plot.add_argument(
        "-o",
        "--output",
        metavar="OUT.png",
        help="image to write, in the format its extension names (PNG without one; "
        "default: FILE-ID.png beside the document)",
    )
    plot.set_defaults(func=cmd_plot)

    limits = sub.add_parser(
        "limits",
        help="peak velocity, acceleration and jerk of a saved trajectory, checked against limits",
        description="Prints the peaks (largest absolute value, signed) of the velocity, "
        "acceleration and jerk of the trajectory saved under ID, with the times they occur, "
        "exact: no sampling. With limits, also whether each holds and the factor k by which "
        "retiming stretches time so that all hold (the binding one with equality); the exit "
        f"status is then {EXIT_LIMIT_EXCEEDED} when a limit does not hold. "
        f"A FILE without an extension stands for FILE{DEFAULT_EXTENSION}.",
    )
    limits.add_argument("file", metavar="FILE", help="the document")
    limits.add_argument("id", metavar="ID", help="the ID the trajectory was saved under")
    for name, unit in (("velocity", "V"), ("acceleration", "A"), ("jerk", "J")):
        limits.add_argument(
            f"--{name}", type=_limit(name), metavar=unit, help=f"limit on the absolute {name}"
        )
    limits.set_defaults(func=cmd_limits)
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
