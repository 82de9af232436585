"""The pyorvex command line: ``python -m pyorvex demo|show|plot``."""

from __future__ import annotations

import argparse
import os
import sys

EXIT_USAGE = 2
EXIT_FAILURE = 1

_QUANTITY = ["position", "velocity", "acceleration", "jerk", "snap", "crackle", "pop"]


class CommandError(Exception):
    """A failure to report in one line, without a traceback."""


def _quantity(order):
    return _QUANTITY[order] if order < len(_QUANTITY) else f"derivative {order}"


# --- show ------------------------------------------------------------------------------------------

def read_document(path):
    """The object elements of a document as rows of (tag, ID, degree, n, order, domain)."""
    from lxml import etree

    if not os.path.isfile(path):
        raise CommandError(f"no such file: {path}")
    parser = etree.XMLParser(resolve_entities=False, no_network=True, huge_tree=True)
    try:
        root = etree.parse(path, parser).getroot()
    except etree.XMLSyntaxError as exc:
        raise CommandError(f"{path} is not a pyorvex document: {exc}") from None
    if root.tag != "PyORVEXObjectList":
        raise CommandError(f"{path} is not a pyorvex document (root element <{root.tag}>)")
    rows = []
    for elem in root:
        if not isinstance(elem.tag, str):
            continue
        get = elem.get
        if elem.find("knots") is not None:
            domain = f"[{get('start', '?')}, {get('stop', '?')}]"
            rows.append((elem.tag, get("ID", ""), get("p", ""), get("n", ""), get("order", ""), domain))
        else:
            rows.append((elem.tag, get("ID", ""), "-", "-", get("order", ""), f"t = {get('t', '?')}"))
    return rows


def format_table(rows):
    header = ("tag", "ID", "degree", "n", "order", "domain")
    table = [header] + [tuple(str(c) for c in row) for row in rows]
    widths = [max(len(row[i]) for row in table) for i in range(len(header))]
    lines = ["  ".join(cell.ljust(w) for cell, w in zip(row, widths)).rstrip() for row in table]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return "\n".join(lines)


def cmd_show(args):
    rows = read_document(args.file)
    print(format_table(rows))
    print(f"{len(rows)} object(s)")
    return 0


# --- plot ------------------------------------------------------------------------------------------

def _load_trajectory(path, ident):
    from .defdatastruct import Trajectory1d

    if not os.path.isfile(path):
        raise CommandError(f"no such file: {path}")
    try:
        return Trajectory1d.loadxml(path, ident)
    except ValueError as exc:
        raise CommandError(f"cannot load trajectory {ident!r} from {path}: {exc}") from None


def cmd_plot(args):
    from .plot import plot_trajectory

    traj = _load_trajectory(args.file, args.id)
    out = args.output or f"{os.path.splitext(args.file)[0]}-{args.id}.png"
    plot_trajectory(traj, out, derivatives=args.derivatives, title=f"{args.id} ({args.file})")
    print(f"wrote {out}")
    return 0


# --- demo ------------------------------------------------------------------------------------------

def cmd_demo(args):
    from .demo import run_demo

    return run_demo(args.out)


# --- entry point -------------------------------------------------------------------------------------

def build_parser():
    parser = argparse.ArgumentParser(
        prog="pyorvex", description="B-spline trajectories for motion planning: demo and document tools."
    )
    sub = parser.add_subparsers(dest="command", metavar="COMMAND")
    sub.required = True

    demo = sub.add_parser(
        "demo",
        help="build, edit, save and plot a point-to-point motion profile",
        description="Builds a smooth point-to-point move, refines and thins it, adds a correction, "
        "bends it through a constraint point, saves it with the point into a document, loads "
        "both back, prints a report and writes a plot.",
    )
    demo.add_argument("--out", default="pyorvex-demo", metavar="DIR", help="output directory (default: %(default)s)")
    demo.set_defaults(func=cmd_demo)

    show = sub.add_parser("show", help="list the objects of a document",
                          description="Lists the objects of a pyorvex XML document as a table.")
    show.add_argument("file", metavar="FILE", help="the document")
    show.set_defaults(func=cmd_show)

    plot = sub.add_parser(
        "plot",
        help="plot a saved trajectory and its derivatives",
        description="Plots a trajectory of a document and its first K derivatives on a shared "
        "time axis, with the knots marked (needs the [plot] extra: pip install 'pyorvex[plot]').",
    )
    plot.add_argument("file", metavar="FILE", help="the document")
    plot.add_argument("id", metavar="ID", help="the trajectory's ID")
    plot.add_argument("--derivatives", "-k", type=int, default=2, metavar="K",
                      help="number of derivatives to plot (default: %(default)s)")
    plot.add_argument("-o", "--output", metavar="OUT.png", help="image file to write")
    plot.set_defaults(func=cmd_plot)
    return parser


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        return args.func(args)
    except CommandError as exc:
        print(f"pyorvex: error: {exc}", file=sys.stderr)
        return EXIT_FAILURE


if __name__ == "__main__":  # pragma: no cover
    sys.exit(main())
