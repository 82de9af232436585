"""XML documents for the persistence tests: writing them by hand and reading them back."""

import os

import numpy as np
from lxml import etree


def same_bits(a, b):
    """Bit-for-bit equality of two float64 arrays."""
    a = np.ascontiguousarray(a, dtype=np.float64)
    b = np.ascontiguousarray(b, dtype=np.float64)
    return a.shape == b.shape and np.array_equal(a.view(np.int64), b.view(np.int64))


def read_tree(path):
    return etree.parse(str(path))


def elements(path):
    """The object elements of a document, in order."""
    return list(read_tree(path).getroot())


def file_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def entries(directory):
    return sorted(os.listdir(directory))


def write_document(path, body, comment="hand made"):
    """A document with the given object elements (XML text)."""
    text = (
        "<?xml version='1.0' encoding='utf-8'?>\n"
        f"<!--{comment}-->\n<PyORVEXObjectList>\n{body}\n</PyORVEXObjectList>\n"
    )
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def trajectory_element(
    ID="a",
    p="0",
    n="0",
    owner="True",
    order="0",
    cpts="1.0",
    knots="0.0 1.0",
    tag="Trajectory1d",
    extra="",
):
    """XML text of a trajectory element; None leaves an attribute or child out."""
    attrs = [("ID", ID), ("p", p), ("n", n), ("owner", owner), ("order", order)]
    el = etree.Element(tag, {k: v for k, v in attrs if v is not None})
    if cpts is not None:
        etree.SubElement(el, "cpts").text = cpts
    if knots is not None:
        etree.SubElement(el, "knots").text = knots
    return etree.tostring(el, encoding="unicode") + extra
