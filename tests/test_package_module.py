"""The module frame of pyorvex.defdatastruct: what the import publishes, the initialisation
guards, and the binding of the kernel functions of pyorvex.curvekit."""

import ctypes
import gc
import importlib
import importlib.util
import inspect
import json
import re
import subprocess
import sys
import textwrap
import types
from pathlib import Path

import pytest

import pyorvex.curvekit as curvekit
import pyorvex.defdatastruct as dds

ROOT = Path(__file__).resolve().parents[1]

# The sixteen kernel functions, in the order they are bound.
KERNEL_FUNCTIONS = [
    "distintknots",
    "averagcpts",
    "splpev",
    "splcev",
    "dsplpev",
    "dsplcev",
    "splkins",
    "splkref",
    "splkrem",
    "splksrem",
    "splkrem_notol",
    "degelevc",
    "asplcpts",
    "dsplcpts2",
    "knotuniondim",
    "splcsum",
]

MAKE_POINT_SIGNATURE = "__pyx_t_7pyorvex_13defdatastruct_c_point1d (double, double, unsigned int)"

_api = ctypes.pythonapi
_api.PyCapsule_GetName.restype = ctypes.c_char_p
_api.PyCapsule_GetName.argtypes = [ctypes.py_object]
_api.PyCapsule_GetPointer.restype = ctypes.c_void_p
_api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
_api.PyCapsule_IsValid.restype = ctypes.c_int
_api.PyCapsule_IsValid.argtypes = [ctypes.py_object, ctypes.c_char_p]


def capsule_name(capsule):
    name = _api.PyCapsule_GetName(capsule)
    return None if name is None else name.decode()


def header_signatures():
    """name -> signature text, from the one header that exporter and importer share."""
    text = (ROOT / "src" / "curvekit" / "kernel_abi.h").read_text()
    block = text[text.index("#define PYORVEX_KERNEL_FUNCTIONS(X)") :]
    block = block[: block.index("\n\n")].replace("\\\n", " ")
    found = {}
    for name, pieces in re.findall(r'X\((\w+),\s*((?:"[^"]*"\s*)+)\)', block):
        found[name] = "".join(re.findall(r'"([^"]*)"', pieces))
    return found


def run_python(code):
    """Runs code in a fresh interpreter; its last stdout line is JSON and is returned."""
    proc = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=300
    )
    assert proc.returncode == 0, proc.stdout + proc.stderr
    return json.loads(proc.stdout.strip().splitlines()[-1])


# --- what the module publishes -------------------------------------------------------------------


def test_module_namespace():
    names = dir(dds)
    for visible in [
        "np",
        "__all__",
        "PyORVEXObject",
        "Point1d",
        "Trajectory1d",
        "ConvergenceError",
        "CorruptedFileError",
        "__pyx_capi__",
        "__pyx_unpickle_PyORVEXObject",
        "__test__",
        "__builtins__",
    ]:
        assert visible in names
    for hidden in ["os", "etree", "re", "pyorvex", "lxml", "package"]:
        assert hidden not in names
    assert dds.np is importlib.import_module("numpy")
    assert dds.__test__ == {} and type(dds.__test__) is dict
    assert dds.__builtins__ is importlib.import_module("builtins")
    assert dds.__doc__ == (
        "In this module there are the data structures necessary for the working of the library."
    )


def test_all_lists_the_public_names_in_order():
    assert dds.__all__ == [
        "ConvergenceError",
        "CorruptedFileError",
        "PyORVEXObject",
        "Trajectory1d",
        "Point1d",
    ]
    assert type(dds.__all__) is list
    namespace = {}
    exec("from pyorvex.defdatastruct import *", namespace)
    assert set(namespace) - {"__builtins__"} == set(dds.__all__)


def test_unpickle_function_is_published():
    fn = dds.__pyx_unpickle_PyORVEXObject
    assert callable(fn)
    assert fn.__name__ == "__pyx_unpickle_PyORVEXObject"


def test_module_attributes_come_from_the_spec():
    module_spec = dds.__spec__
    assert dds.__name__ == module_spec.name == "pyorvex.defdatastruct"
    assert dds.__loader__ is module_spec.loader
    assert dds.__file__ == module_spec.origin
    assert dds.__package__ == module_spec.parent == "pyorvex"
    assert not hasattr(dds, "__path__")


@pytest.mark.parametrize(
    "name, base",
    [
        ("PyORVEXObject", object),
        ("Point1d", "PyORVEXObject"),
        ("Trajectory1d", "PyORVEXObject"),
    ],
)
def test_types(name, base):
    tp = getattr(dds, name)
    base = getattr(dds, base) if isinstance(base, str) else base
    assert isinstance(tp, type)
    assert tp.__bases__ == (base,)
    assert tp.__module__ == "pyorvex.defdatastruct"
    assert tp.__name__ == tp.__qualname__ == name
    # Subclassable from Python; not part of cyclic garbage collection.
    assert issubclass(type("Sub", (tp,), {}), tp)
    py_tpflags_have_gc = 1 << 14
    assert not tp.__flags__ & py_tpflags_have_gc


def test_instances_are_not_gc_tracked():
    assert not gc.is_tracked(dds.Trajectory1d())
    assert not gc.is_tracked(dds.PyORVEXObject())


@pytest.mark.parametrize(
    "name, doc",
    [
        ("ConvergenceError", "\n    An error when a macro-instruction loop fails.\n    \n    "),
        ("CorruptedFileError", "\n    An error when an uploaded file is corrupted.\n    "),
    ],
)
def test_exceptions(name, doc):
    exc = getattr(dds, name)
    assert isinstance(exc, type)
    assert exc.__bases__ == (Exception,)
    assert not issubclass(exc, ValueError)
    assert exc.__doc__ == doc
    assert exc.__module__ == "pyorvex.defdatastruct"
    assert exc.__name__ == exc.__qualname__ == name
    with pytest.raises(exc, match="^boom$"):
        raise exc("boom")


def test_make_point_is_exported(vtable_probe):
    capi = dds.__pyx_capi__
    assert type(capi) is dict and list(capi) == ["make_point", "persistence"]
    helpers = b"pyorvex.defdatastruct.persistence_api"
    assert _api.PyCapsule_IsValid(capi["persistence"], helpers) == 1
    capsule = capi["make_point"]
    assert type(capsule).__name__ == "PyCapsule"
    assert capsule_name(capsule) == MAKE_POINT_SIGNATURE
    assert _api.PyCapsule_IsValid(capsule, MAKE_POINT_SIGNATURE.encode()) == 1
    # The probe binds it by exactly that name and gets the point record back by value.
    assert vtable_probe.make_point(1.25, -3.5, 7) == (1.25, -3.5, 7)
    assert vtable_probe.make_point(float("inf"), 0.0, 2**32 - 1) == (float("inf"), 0.0, 2**32 - 1)


@pytest.mark.parametrize("name", ["PyORVEXObject", "Point1d", "Trajectory1d"])
def test_method_table_capsules(name, vtable_probe):
    tp = getattr(dds, name)
    capsule = tp.__dict__["__pyx_vtable__"]
    assert type(capsule).__name__ == "PyCapsule"
    assert capsule_name(capsule) is None
    assert _api.PyCapsule_IsValid(capsule, None) == 1
    assert _api.PyCapsule_GetPointer(capsule, None) == vtable_probe.table_of(tp)


@pytest.mark.parametrize(
    "make",
    [
        lambda: dds.PyORVEXObject(),
        lambda: dds.Trajectory1d(),
        lambda: type("Sub", (dds.Trajectory1d,), {})(),
        lambda: type("Sub", (dds.PyORVEXObject,), {})(),
    ],
)
def test_instances_carry_their_types_table(make, vtable_probe):
    obj = make()
    builtin = next(c for c in type(obj).__mro__ if c.__module__ == "pyorvex.defdatastruct")
    assert vtable_probe.vtab_of(obj) == vtable_probe.table_of(builtin)


def test_derived_table_starts_with_the_base_entries(vtable_probe):
    base = vtable_probe.base_entries(dds.PyORVEXObject)
    traj = vtable_probe.base_entries(dds.Trajectory1d)
    assert traj[4] == base[4]  # savexml is the base's
    assert traj[1] != base[1]  # _getAttrib is the trajectory's own


def test_pickling_hookup_of_trajectory():
    d = dds.Trajectory1d.__dict__
    for name in ["__reduce_cython__", "__setstate_cython__", "__getstate__", "__setstate__"]:
        assert name in d


def test_call_slot_docstring():
    assert dds.Trajectory1d.__dict__["__call__"].__doc__.startswith(
        "Evaluates the trajectory or its dervative."
    )


@pytest.mark.parametrize("owner", ["PyORVEXObject", "Trajectory1d", "Point1d"])
def test_loadxml_is_static(owner):
    assert isinstance(inspect.getattr_static(getattr(dds, owner), "loadxml"), staticmethod)


# --- importing again --------------------------------------------------------------------------------


def test_import_again_gives_the_same_module():
    assert importlib.import_module("pyorvex.defdatastruct") is dds
    assert importlib.reload(dds) is dds
    assert sys.modules["pyorvex.defdatastruct"] is dds
    assert dds.Trajectory1d().p == 0


def test_module_from_a_fresh_spec_is_the_same_module():
    module_spec = importlib.util.find_spec("pyorvex.defdatastruct")
    saved_spec = dds.__spec__
    try:
        module = importlib.util.module_from_spec(module_spec)  # (it sets __spec__ again)
        assert module is dds
        module_spec.loader.exec_module(module)  # executing the executed module again is a no-op
    finally:
        dds.__spec__ = saved_spec
    assert dds.Trajectory1d is type(dds.Trajectory1d())


def test_exec_into_another_module_object_is_refused():
    init = ctypes.PyDLL(dds.__file__).PyInit_defdatastruct
    init.restype = ctypes.c_void_p
    module_def = init()
    exec_def = _api.PyModule_ExecDef
    exec_def.argtypes = [ctypes.py_object, ctypes.c_void_p]
    exec_def.restype = ctypes.c_int
    other = types.ModuleType("pyorvex.defdatastruct")
    with pytest.raises(RuntimeError) as err:
        exec_def(other, module_def)
    assert str(err.value) == (
        "Module 'defdatastruct' has already been imported. Re-initialisation is not supported."
    )
    assert "Trajectory1d" not in vars(other)
    assert exec_def(dds, module_def) == 0  # the executed module itself: nothing happens


def test_a_second_interpreter_is_refused():
    result = run_python(r"""
        import json, os
        import pyorvex.defdatastruct
        try:
            import _interpreters as interpreters
        except ImportError:
            try:
                import _xxsubinterpreters as interpreters
            except ImportError:
                interpreters = None
        if interpreters is None:
            print(json.dumps(None))
        else:
            r, w = os.pipe()
            interp = interpreters.create()
            # The extension alone: importing the package would import NumPy first, which
            # refuses a second interpreter by itself.
            interpreters.run_string(interp, f'''
        import importlib.util, os
        module_spec = importlib.util.spec_from_file_location("pyorvex.defdatastruct",
                                                      {pyorvex.defdatastruct.__file__!r})
        try:
            importlib.util.module_from_spec(module_spec)
            msg = "created"
        except ImportError as e:
            msg = "ImportError: " + str(e)
        os.write({w}, msg.encode())
        ''')
            interpreters.destroy(interp)
            os.close(w)
            print(json.dumps(os.read(r, 4096).decode()))
    """)
    if result is None:
        pytest.skip("no subinterpreter support in this interpreter")
    assert result == (
        "ImportError: Interpreter change detected - this module can only be loaded "
        "into one interpreter per process."
    )


# --- binding the kernel -----------------------------------------------------------------------------


def test_curvekit_exports_the_sixteen_functions():
    signatures = header_signatures()
    assert list(signatures) == KERNEL_FUNCTIONS
    capi = curvekit.__pyx_capi__
    assert sorted(capi) == sorted(KERNEL_FUNCTIONS)
    for name in KERNEL_FUNCTIONS:
        assert capsule_name(capi[name]) == signatures[name]
        assert _api.PyCapsule_GetPointer(capi[name], signatures[name].encode())


# Runs in a fresh interpreter: makes fake pyorvex.curvekit modules whose capsules are copies of
# the real ones, and tries the import with each.
FAKE_KERNEL = r"""
import ctypes, json, sys, traceback, types
assert "pyorvex.defdatastruct" not in sys.modules
import pyorvex.curvekit as real

api = ctypes.pythonapi
api.PyCapsule_GetName.restype = ctypes.c_char_p
api.PyCapsule_GetName.argtypes = [ctypes.py_object]
api.PyCapsule_GetPointer.restype = ctypes.c_void_p
api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
api.PyCapsule_New.restype = ctypes.py_object
api.PyCapsule_New.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
names_alive = []  # a capsule keeps a pointer to its name

def fake(drop=(), rename=None, replace=None, capi=True):
    table = {}
    for name, cap in real.__pyx_capi__.items():
        if name in drop:
            continue
        sig = api.PyCapsule_GetName(cap)
        new_name = (rename or {}).get(name, sig.decode()).encode()
        names_alive.append(new_name)
        table[name] = api.PyCapsule_New(api.PyCapsule_GetPointer(cap, sig), new_name, None)
    table.update(replace or {})
    module = types.ModuleType("pyorvex.curvekit")
    if capi:
        module.__pyx_capi__ = table
    return module

def attempt(module):
    sys.modules["pyorvex.curvekit"] = module
    try:
        import pyorvex.defdatastruct
    except BaseException as e:
        frames = [f.name for f in traceback.extract_tb(e.__traceback__)]
        return [type(e).__name__, str(e), "init pyorvex.defdatastruct" in frames,
                "pyorvex.defdatastruct" in sys.modules]
    finally:
        sys.modules["pyorvex.curvekit"] = real
    return None
"""


def test_missing_kernel_function():
    signatures = header_signatures()
    result = run_python(
        FAKE_KERNEL
        + r"""
names = %r
out = {name: attempt(fake(drop=[name])) for name in names}
out["first of two"] = attempt(fake(drop=[names[10], names[3]]))
out["no table"] = attempt(fake(capi=False))
out["lxml imported"] = "lxml.etree" in sys.modules
import pyorvex.defdatastruct as dds
out["later import"] = [dds.Trajectory1d().p, sorted(dds.__pyx_capi__)]
print(json.dumps(out))
"""
        % KERNEL_FUNCTIONS
    )
    for name in KERNEL_FUNCTIONS:
        assert result[name] == [
            "ImportError",
            f"pyorvex.curvekit does not export expected C function {name}",
            True,
            False,
        ]
    assert result["first of two"][:2] == [
        "ImportError",
        f"pyorvex.curvekit does not export expected C function {KERNEL_FUNCTIONS[3]}",
    ]
    kind, message, _, _ = result["no table"]
    assert kind == "AttributeError" and "__pyx_capi__" in message
    # The kernel is bound before lxml is imported, so a failed binding never got that far.
    assert result["lxml imported"] is False
    assert result["later import"] == [0, ["make_point", "persistence"]]
    assert len(signatures) == 16


def test_kernel_function_with_another_signature():
    signatures = header_signatures()
    result = run_python(
        FAKE_KERNEL
        + r"""
names = %r
out = {name: attempt(fake(rename={name: "void (void)"})) for name in names}
out["not a capsule"] = attempt(fake(replace={names[2]: 42}))
out["wrong before missing"] = attempt(fake(drop=[names[9]], rename={names[4]: "int (int)"}))
out["missing before wrong"] = attempt(fake(drop=[names[4]], rename={names[9]: "int (int)"}))
import pyorvex.defdatastruct as dds
out["later import"] = dds.Trajectory1d().n
print(json.dumps(out))
"""
        % KERNEL_FUNCTIONS
    )
    for name in KERNEL_FUNCTIONS:
        assert result[name] == [
            "TypeError",
            f"C function pyorvex.curvekit.{name} has wrong signature "
            f"(expected {signatures[name]}, got void (void))",
            True,
            False,
        ]
    kind, message, _, _ = result["not a capsule"]
    assert kind == "TypeError"
    assert message.startswith(
        f"C function pyorvex.curvekit.{KERNEL_FUNCTIONS[2]} has wrong "
        f"signature (expected {signatures[KERNEL_FUNCTIONS[2]]}, got "
    )
    assert result["wrong before missing"][:2] == [
        "TypeError",
        f"C function pyorvex.curvekit.{KERNEL_FUNCTIONS[4]} has wrong signature "
        f"(expected {signatures[KERNEL_FUNCTIONS[4]]}, got int (int))",
    ]
    assert result["missing before wrong"][:2] == [
        "ImportError",
        f"pyorvex.curvekit does not export expected C function {KERNEL_FUNCTIONS[4]}",
    ]
    assert result["later import"] == 0


def test_builtins_are_looked_up_at_import():
    result = run_python(
        FAKE_KERNEL
        + r"""
import builtins
saved = {name: getattr(builtins, name) for name in ["Ellipsis", "enumerate", "id"]}
out = {}
for name in saved:
    delattr(builtins, name)
out["enumerate"] = attempt(real)
out["before the kernel"] = attempt(fake(drop=["splpev"]))
builtins.enumerate = saved["enumerate"]
out["Ellipsis"] = attempt(real)
builtins.Ellipsis = saved["Ellipsis"]
out["id"] = attempt(real)
builtins.id = saved["id"]
import pyorvex.defdatastruct as dds
out["later import"] = dds.Trajectory1d().order
print(json.dumps(out))
"""
    )
    for name, missing in [
        ("enumerate", "enumerate"),
        ("before the kernel", "enumerate"),
        ("Ellipsis", "Ellipsis"),
        ("id", "id"),
    ]:
        assert result[name] == ["NameError", f"name '{missing}' is not defined", True, False]
    assert result["later import"] == 0


# --- NumPy at import ----------------------------------------------------------------------------


def test_numpy_types_are_checked_before_the_kernel_is_bound():
    result = run_python(
        FAKE_KERNEL
        + r"""
def fake_numpy(**not_types):
    module = types.ModuleType("numpy")
    for name in ["dtype", "flatiter", "broadcast", "ndarray", "ufunc"]:
        setattr(module, name, not_types.get(name, type(name, (), {})))
    return module

def attempt_numpy(numpy, curvekit=real):
    sys.modules["numpy"] = numpy
    try:
        return attempt(curvekit)
    finally:
        sys.modules["numpy"] = real_numpy

real_numpy = sys.modules.pop("numpy")  # the package imported it
out = {
    "flatiter and ufunc": attempt_numpy(fake_numpy(flatiter=1, ufunc=2)),
    "ufunc": attempt_numpy(fake_numpy(ufunc="u")),
    "numpy before kernel": attempt_numpy(fake_numpy(dtype=None), fake(drop=["splpev"])),
    "no ndarray": attempt_numpy(types.ModuleType("numpy")),
}
import pyorvex.defdatastruct as dds
out["later import"] = dds.np.__name__
print(json.dumps(out))
"""
    )
    assert result["flatiter and ufunc"] == [
        "TypeError",
        "numpy.flatiter is not a type object",
        True,
        False,
    ]
    assert result["ufunc"][:2] == ["TypeError", "numpy.ufunc is not a type object"]
    assert result["numpy before kernel"][:2] == ["TypeError", "numpy.dtype is not a type object"]
    assert result["no ndarray"][0] == "AttributeError"
    assert result["later import"] == "numpy"


def test_numpy_c_interface_failures():
    result = run_python(
        FAKE_KERNEL
        + r"""
import numpy
class Interrupt(BaseException):
    pass

def attempt_api(**attrs):
    module = types.ModuleType("numpy._core._multiarray_umath")
    for key, value in attrs.items():
        setattr(module, key, value)
    names = ["numpy._core._multiarray_umath", "numpy.core._multiarray_umath"]
    saved = {name: sys.modules.get(name) for name in names}
    sys.modules.update(dict.fromkeys(names, module))
    try:
        return attempt(real)
    finally:
        for name, value in saved.items():
            if value is None:
                sys.modules.pop(name, None)
            else:
                sys.modules[name] = value

def interrupt(name):
    raise Interrupt("not an Exception")

out = {
    "no _ARRAY_API": attempt_api(),
    "not a capsule": attempt_api(_ARRAY_API=5),
    "base exception": attempt_api(__getattr__=interrupt),
    "lxml imported": "lxml.etree" in sys.modules,
}
import pyorvex.defdatastruct as dds
out["later import"] = dds.Trajectory1d().get_cpts_asarray()
print(json.dumps(out))
"""
    )
    for case in ["no _ARRAY_API", "not a capsule"]:
        assert result[case] == [
            "ImportError",
            "numpy.core.multiarray failed to import",
            True,
            False,
        ]
    assert result["base exception"][:2] == ["Interrupt", "not an Exception"]
    assert result["lxml imported"] is False  # os, lxml, re come after NumPy
    assert result["later import"] is None
