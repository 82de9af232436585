"""Pickling of PyORVEXObject and of Python subclasses of it."""

import copy
import pickle

import pytest
from support.trajectories import trajectory

import pyorvex.defdatastruct as dds
from pyorvex.defdatastruct import PyORVEXObject, Trajectory1d

CHECKSUM = 222419149
unpickle = dds.__pyx_unpickle_PyORVEXObject


class WithDict(PyORVEXObject):
    pass


class WithSlots(PyORVEXObject):
    __slots__ = ("x",)


def test_operations_are_registered_under_reduce_and_setstate():
    names = vars(PyORVEXObject)
    assert "__reduce__" in names and "__setstate__" in names
    assert "__reduce_cython__" not in names and "__setstate_cython__" not in names
    assert unpickle.__module__ == "pyorvex.defdatastruct"
    assert unpickle.__name__ == "__pyx_unpickle_PyORVEXObject"


@pytest.mark.parametrize("obj", [PyORVEXObject(), WithSlots()])
def test_object_without_dict_reduces_to_the_pair_form(obj):
    assert obj.__reduce__() == (unpickle, (type(obj), CHECKSUM, ()))


def test_object_with_dict_reduces_to_the_triple_form():
    obj = WithDict()
    obj.a, obj.b = 1, [2]
    fn, args, state = obj.__reduce__()
    assert (fn, args) == (unpickle, (WithDict, CHECKSUM, None))
    assert state == ({"a": 1, "b": [2]},) and state[0] is obj.__dict__


def test_reduce_uses_the_module_function_found_at_call_time(monkeypatch):
    def other(*args):
        return None

    monkeypatch.setattr(dds, "__pyx_unpickle_PyORVEXObject", other)
    assert PyORVEXObject().__reduce__()[0] is other
    monkeypatch.delattr(dds, "__pyx_unpickle_PyORVEXObject")
    with pytest.raises(NameError, match="__pyx_unpickle_PyORVEXObject"):
        PyORVEXObject().__reduce__()


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_round_trips(protocol):
    plain = pickle.loads(pickle.dumps(PyORVEXObject(), protocol))
    assert type(plain) is PyORVEXObject
    obj = WithDict()
    obj.values = {"k": (1.5, None)}
    back = pickle.loads(pickle.dumps(obj, protocol))
    assert type(back) is WithDict and back.__dict__ == obj.__dict__
    assert type(pickle.loads(pickle.dumps(WithSlots(), protocol))) is WithSlots


def test_copies():
    obj = WithDict()
    obj.items = [1, 2]
    shallow, deep = copy.copy(obj), copy.deepcopy(obj)
    assert shallow.items is obj.items
    assert deep.items == obj.items and deep.items is not obj.items
    assert type(copy.copy(PyORVEXObject())) is PyORVEXObject


def test_trajectory_does_not_pickle_in_the_base_form():
    t = trajectory([0.0] * 4, [0.0] * 2, 1)
    assert t.__reduce_ex__(2)[0] is not unpickle
    back = pickle.loads(pickle.dumps(t))
    assert type(back) is Trajectory1d and back == t


def test_setstate():
    obj = WithDict()
    obj.kept = 1
    assert obj.__setstate__(()) is None and obj.__dict__ == {"kept": 1}
    obj.__setstate__(({"new": 2}, "ignored"))
    assert obj.__dict__ == {"kept": 1, "new": 2}
    plain = PyORVEXObject()
    plain.__setstate__(({"new": 2},))  # no instance dict: nothing to update
    with pytest.raises(AttributeError):
        plain.new


@pytest.mark.parametrize(
    "state, error, message",
    [
        (None, TypeError, "object of type 'NoneType' has no len()"),
        ([{"a": 1}], TypeError, "Expected tuple, got list"),
        ({"a": 1}, TypeError, "Expected tuple, got dict"),
        ((5,), TypeError, None),  # dict.update(5)
    ],
)
def test_setstate_errors(state, error, message):
    with pytest.raises(error) as err:
        WithDict().__setstate__(state)
    if message is not None:
        assert str(err.value) == message


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        (
            (PyORVEXObject, 0, None),
            {},
            pickle.PickleError,
            "Incompatible checksums (0 vs 0xd41d8cd = ())",
        ),
        (
            (PyORVEXObject, 2**40, ()),
            {},
            pickle.PickleError,
            "Incompatible checksums (1099511627776 vs 0xd41d8cd = ())",
        ),
        (
            (PyORVEXObject, -5.9, ()),
            {},
            pickle.PickleError,
            "Incompatible checksums (-5 vs 0xd41d8cd = ())",
        ),
        ((int, 0, [1]), {}, pickle.PickleError, "Incompatible checksums (0 vs 0xd41d8cd = ())"),
        ((PyORVEXObject, "222419149", None), {}, TypeError, "an integer is required"),
        ((int, "x", [1]), {}, TypeError, "an integer is required"),
        ((PyORVEXObject, 2**70, None), {}, OverflowError, None),
        ((int, CHECKSUM, None), {}, TypeError, None),
        ((Trajectory1d, CHECKSUM, None), {}, TypeError, None),
        (
            (int, CHECKSUM, [1]),
            {},
            TypeError,
            "pyorvex.defdatastruct.PyORVEXObject.__new__(int): int is not a subtype of "
            "pyorvex.defdatastruct.PyORVEXObject",
        ),
        ((PyORVEXObject, CHECKSUM, [1]), {}, TypeError, "Expected tuple, got list"),
        (
            (WithDict, CHECKSUM),
            {},
            TypeError,
            "__pyx_unpickle_PyORVEXObject() takes exactly 3 positional arguments (2 given)",
        ),
        (
            (WithDict, CHECKSUM, None),
            {"x": 1},
            TypeError,
            "__pyx_unpickle_PyORVEXObject() got an unexpected keyword argument 'x'",
        ),
        (
            (WithDict, CHECKSUM, None),
            {"__pyx_type": int},
            TypeError,
            "__pyx_unpickle_PyORVEXObject() got multiple values for keyword argument '__pyx_type'",
        ),
    ],
)
def test_unpickle_errors(args, kwargs, error, message):
    with pytest.raises(error) as err:
        unpickle(*args, **kwargs)
    if message is not None:
        assert str(err.value) == message


def test_unpickle_by_keyword_and_with_states():
    obj = unpickle(__pyx_state=({"a": 1},), __pyx_checksum=CHECKSUM, __pyx_type=WithDict)
    assert type(obj) is WithDict and obj.a == 1
    assert unpickle(WithDict, CHECKSUM, None).__dict__ == {}
    assert unpickle(WithDict, float(CHECKSUM), ()).__dict__ == {}
    assert type(unpickle(PyORVEXObject, CHECKSUM, ({"a": 1},))) is PyORVEXObject

    class WithInit(PyORVEXObject):
        def __init__(self):
            raise AssertionError("__init__ must not run")

    assert type(unpickle(WithInit, CHECKSUM, ())) is WithInit
