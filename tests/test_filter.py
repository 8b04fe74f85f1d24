"""Prod.Filter: selection, walks over its arguments, failures and their entries."""
import builtins
import sys

import pytest

from conftest import module_entries
from matcher_support import model

FILTER = [("tessavor.prod.Prod.Filter", 95)]
ITEM_TEST = [("tessavor.prod.Prod.Filter", 96), ("genexpr", 96)]


class Listish(list):
    def __iter__(self):
        return iter(["zz_a", "yy_b"])


class NoContains:
    def __contains__(self, part):
        raise AssertionError("containment checked")


class Raises:
    """Raises `exc` from __iter__ (where="iter"), __next__ ("next") or __contains__ ("in")."""

    def __init__(self, exc, where):
        self.exc, self.where = exc, where

    def __iter__(self):
        if self.where == "iter":
            raise self.exc
        return self

    def __next__(self):
        raise self.exc

    def __contains__(self, part):
        raise self.exc


class SubStop(StopIteration):
    pass


@pytest.mark.parametrize("string, substr, expected", [
    (["sh010_anim", "sh020_comp", "sh030_anim"], ["anim"], ["sh010_anim", "sh030_anim"]),
    (["abc", "xyz", "abx"], ["ab"], ["abc", "abx"]),
    (["abc"], ["zz", "bc"], ["abc"]),
    (["Abc", " ab"], ["ab "], []),
    ([], 5, []),
    ([1, 2.5, None], [], []),
    (["a1", "b1", "a2"], iter(["a", "b"]), ["a1", "b1"]),
    (["a1", "b1", "a2"], ["a", "b"], ["a1", "b1", "a2"]),
    ("abcab", ["a", "c"], ["a", "c", "a"]),
    (["xbz", "q", "cc"], "abc", ["xbz", "cc"]),
    (["x", "", "yz"], ["nope", ""], ["x", "", "yz"]),
    (("ab", "cd", "xb"), ("b",), ["ab", "xb"]),
    ((s for s in ["ab", "cd", "xb"]), (x for x in ["q", "b"]), ["ab"]),
    (Listish(["a1", "a2"]), ["_a"], ["zz_a"]),
    (["ka", "xyy_b"], Listish(["k"]), ["xyy_b"]),
    (["dup", "x", "dup"], ["u"], ["dup", "dup"]),
    ([[1, 2], (3,), [4, 3]], [3], [(3,), [4, 3]]),
    # no containment check without parts; StopIteration from __next__ ends a walk
    ([NoContains(), 7], [], []),
    ([NoContains(), 7], iter([]), []),
    (Raises(StopIteration(), "next"), ["a"], []),
    (["a", "b"], Raises(SubStop(), "next"), []),
])
def test_selects_items_containing_a_part(p, string, substr, expected):
    assert p.Filter(string, substr) == expected


def test_selected_items_are_the_inputs_in_a_new_list(Prod):
    items = ["".join(["ab", str(i)]) for i in range(4)]
    result = Prod.Filter(None, items, ["ab"])
    assert result == items and result is not items
    assert all(r is i for r, i in zip(result, items))
    assert Prod.Filter(None, items, ["zz"]) == [] and items == ["ab0", "ab1", "ab2", "ab3"]


def failures():
    """(string, substr, raised by user code or None, type, message, entries)."""
    stop, sub, key = StopIteration("s"), SubStop("t"), KeyError("k")
    return [
        (5, ["a"], None, TypeError, "'int' object is not iterable", FILTER),
        (Raises(key, "iter"), ["a"], key, KeyError, None, FILTER),
        (Raises(stop, "iter"), ["a"], stop, StopIteration, None, FILTER),
        (Raises(key, "next"), ["a"], key, KeyError, None, FILTER),
        (["a"], 5, None, TypeError, "'int' object is not iterable", ITEM_TEST),
        (["a"], Raises(key, "iter"), key, KeyError, None, ITEM_TEST),
        (["a"], Raises(key, "next"), key, KeyError, None, ITEM_TEST),
        ([1], ["a"], None, TypeError, "argument of type 'int' is not iterable", ITEM_TEST),
        (["a"], [1], None, TypeError, "'in <string>' requires string as left operand, not int", ITEM_TEST),
        ([Raises(key, "in")], ["a"], key, KeyError, None, ITEM_TEST),
        (["a"], Raises(stop, "iter"), stop, RuntimeError, "generator raised StopIteration", ITEM_TEST),
        ([Raises(stop, "in")], ["a"], stop, RuntimeError, "generator raised StopIteration", ITEM_TEST),
        (["b", Raises(sub, "in")], ["a"], sub, RuntimeError, "generator raised StopIteration", ITEM_TEST),
    ]


def test_the_chained_stop_iteration_is_held_by_its_own_reference(p):
    stop = SubStop("parts")
    before = sys.getrefcount(stop)
    for _ in range(3):
        try:
            p.Filter(["b", Raises(stop, "in")], ["a"])
        except RuntimeError as exc:
            assert exc.__context__ is stop
    stop.__traceback__ = None  # its frames refer to `stop` through this test's own frame
    assert sys.getrefcount(stop) == before


@pytest.mark.parametrize("row", range(len(failures())))
def test_failure_table(p, row):
    string, substr, user_exc, exc_type, message, entries = failures()[row]
    with pytest.raises(BaseException) as info:
        p.Filter(string, substr)
    exc = info.value
    assert type(exc) is exc_type
    if message is not None:
        assert str(exc) == message
    if exc_type is RuntimeError:
        assert exc.__context__ is user_exc and user_exc.__traceback__ is not None
    elif user_exc is not None:
        assert exc is user_exc
    assert module_entries(exc) == entries


class Box:
    """An item whose containment check logs, runs a side effect once, and answers `answer`."""

    def __init__(self, name, log, effect=None, answer=False):
        self.name, self.log, self.effect, self.answer = name, log, effect, answer

    def __contains__(self, part):
        self.log.append((self.name, getattr(part, "name", part)))
        effect, self.effect = self.effect, None
        effect and effect()
        return self.answer

    def __repr__(self):
        return self.name


class Part(Box):
    """A part compared with the ints of tuple items: 1 matches; the side effect runs in __eq__."""

    def __eq__(self, other):
        return self.__contains__(other) or other == 1

    __hash__ = object.__hash__


# Each scenario builds fresh (string, substr) whose walk mutates one of the two lists.
def grow_string(log):
    s = []
    s += [Box("a", log, lambda: s.append(Box("new", log, answer=True))), Box("b", log)]
    return s, ["x"]


def shrink_string(log):  # also drops the item under test: Filter must hold it
    s = []
    s += [Box("a", log, s.clear, answer=True), Box("b", log), Box("c", log)]
    return s, ["x"]


def grow_string_from_part(log):
    s = [(0,), (1,)]
    return s, [Part("p", log, lambda: s.extend([(1, 2), (3,)]))]


def shrink_string_from_part(log):
    s = [(0,), (1,), (1, 1)]
    return s, [Part("p", log, s.pop)]


def grow_substr(log):
    parts = ["x"]
    return [Box("a", log, lambda: parts.extend(["y", "z"])), Box("b", log)], parts


def shrink_substr(log):
    parts = ["x", "y", "z"]
    return [Box("a", log, parts.clear), Box("b", log)], parts


def replace_substr_from_part(log):
    parts = []
    parts += [Part("p", log, lambda: parts.__setitem__(slice(None), [Part("q", log)])), "w"]
    return [(0, 5), (0,)], parts


@pytest.mark.parametrize("scenario", [
    grow_string, shrink_string, grow_string_from_part,
    shrink_string_from_part, grow_substr, shrink_substr, replace_substr_from_part,
])
def test_lists_changed_during_the_walk(p, scenario):
    log = []
    result = p.Filter(*scenario(log))
    seen = log[:]
    log.clear()
    expected = model(*scenario(log))
    assert seen == log
    assert repr(result) == repr(expected)


def test_rebinding_any_has_no_effect(p, prod, monkeypatch):
    calls = []
    fake_any = lambda iterable: calls.append(iterable) or True  # noqa: E731
    monkeypatch.setattr(builtins, "any", fake_any)
    monkeypatch.setattr(prod, "any", fake_any, raising=False)
    assert p.Filter(["a", "b"], ["a"]) == ["a"]
    assert calls == []
