"""The fast paths give exactly the answers of the general ones.

Filter uses a multi-pattern matcher for exact lists, tuples, sets or frozensets of exact strs;
a subclass of tuple as `substr` takes the general path (a fresh iterator per
item) with the same parts. gazu's attribute chain is remembered while the
dictionaries it was read from are unchanged.
"""
import itertools
import json
import random
import sys
import tracemalloc
import types

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

from conftest import module_entries, run_python
from matcher_support import BOUNDARY, PLANS_AT_SIZE, WIDE, Parts, check, check_plans, model, probe

CHARS = st.sampled_from(BOUNDARY)

def slice_of(draw, pool):
    text = draw(st.sampled_from(pool))
    start = draw(st.integers(0, len(text)))
    return text[start:draw(st.integers(start, len(text)))]


@st.composite
def matcher_inputs(draw):
    """Items and parts on the matcher's path (8 items or more, 64 item-part pairs or more, exact strs).
    Parts are often pieces of items or of earlier parts, so that parts sit inside parts; some items
    start like a part and then go elsewhere, where only a shorter part inside it can match."""
    items = draw(st.lists(st.text(CHARS, max_size=8), min_size=8, max_size=24))
    parts = []
    for _ in range(draw(st.integers(-(-64 // len(items)), 12))):
        pool = draw(st.sampled_from([items, parts or items, None]))
        parts.append((pool and slice_of(draw, pool)) or draw(st.text(CHARS, min_size=1, max_size=4)))
    for _ in range(draw(st.integers(0, 4))):
        part = draw(st.sampled_from(parts))
        items.append(part[:draw(st.integers(0, len(part)))] + draw(st.text(CHARS, max_size=3)))
    return items, parts


NESTED = (["ab", "xab", "abx", "b", "abc", "a", "c", "bc"] * 4, ["abc", "b"])
LOW_HIGH = (["\xff", "\u0101", "a\u0102", "\xff\u0100", "b"] * 7, ["\u0100", "\u0101\u0101"])
ASTRAL = (["\ud800\udc00", "\U00010000", "\udbff", "x\U0010ffff"] * 4, ["\U00010000", "\udc00\ud800", "\U0010ffff", "\udbff"])
EMPTY = (["", "a", "\U0001f600"] * 3, ["zz", ""] * 4)


@settings(max_examples=300, deadline=None)
@given(matcher_inputs())
@example(NESTED)
@example(LOW_HIGH)
@example(ASTRAL)
@example(EMPTY)
def test_matcher_agrees_with_the_general_path(Prod, inputs):
    names, frags = inputs
    assert len(names) >= 8 and len(names) * len(frags) >= 64  # the matcher's path, not the pairwise one
    expected = model(names, frags)
    for string, substr in [(names, frags), (tuple(names), tuple(frags)), (names, Parts(frags))]:
        got = Prod.Filter(None, string, substr)
        assert got == expected and all(a is b for a, b in zip(got, expected))
    check_plans(names, frags, expected)


@st.composite
def large_inputs(draw):
    """Items and about a thousand parts drawn from a seed: parts cut from the items (so that they
    match) or drawn afresh, of one, two or forty lengths (so that each way of matching is taken); items of all three str widths, some of
    them a part's beginning followed by something else."""
    rng = random.Random(draw(st.integers(0, 2**32)))
    lengths = draw(st.sampled_from([[3], [2, 5], list(range(1, 41))]))
    hot = rng.sample(WIDE, 40) + list(BOUNDARY)
    alphabets = [hot, BOUNDARY, "ab\xe9", hot + ["\U0001f600"]]

    def text(size):
        alphabet = rng.choice(alphabets)
        return "".join(rng.choice(alphabet) for _ in range(size))

    # With many lengths, enough text that the automaton pays for its build.
    count = rng.randrange(150, 400) * (3 if len(lengths) > 2 else 1)
    items = [text(rng.randrange(0, 50)) for _ in range(count)]
    parts = []
    for _ in range(rng.randrange(600, 1200)):
        length = rng.choice(lengths)
        source = rng.choice(items)
        if len(source) >= length and rng.random() < 0.3:
            start = rng.randrange(len(source) - length + 1)
            parts.append(source[start:start + length])
        else:
            parts.append("".join(rng.choice(WIDE) for _ in range(length)))
    for _ in range(50):
        part = rng.choice(parts)
        items.append(part[:rng.randrange(len(part))] + text(3))
    return items, parts


@settings(max_examples=25, deadline=None)
@given(large_inputs())
def test_large_part_sets_agree_with_the_general_path(Prod, inputs):
    names, frags = inputs
    expected = Prod.Filter(None, names, Parts(frags))
    assert 0 < len(expected) < len(names)
    for substr in [frags, tuple(frags), set(frags), frozenset(frags)]:
        got = Prod.Filter(None, names, substr)
        assert got == expected and all(a is b for a, b in zip(got, expected))
    check_plans(names, frags, expected, PLANS_AT_SIZE)


def test_parts_far_beyond_a_full_table(Prod):
    """100,000 parts of eight code points; 10,000 of forty lengths against more text. Half of the
    parts are of wide code points that no item holds. Checked window by window."""
    rng = random.Random(11)
    alphabets = ["abcdwxyz\u0101\u0102", WIDE[:500]]
    for lengths, count, names in (([8], 100_000, 2000), (range(6, 46), 10_000, 5000)):
        items = ["".join(rng.choice("abcd\u0101") for _ in range(30)) for _ in range(names)]
        frags = ["".join(rng.choice(alphabets[i % 2]) for _ in range(rng.choice(lengths))) for i in range(count)]
        known = set(frags)
        expected = [s for s in items if any(s[i:i + n] in known for n in lengths for i in range(len(s) - n + 1))]
        assert 0 < len(expected) < len(items) / 2
        for substr in (frags, known):
            assert Prod.Filter(None, items, substr) == expected
        check_plans(items, frags, expected, PLANS_AT_SIZE)


def test_short_parts_over_one_byte_text_at_every_offset(Prod):
    """Thousands of parts no longer than eight against one-byte items of every length up to 20,
    each part placed at the start, the middle and the very end. Parts of wide code points pack
    to the same number as some one-byte windows ("\u0100a" as "\x00b"): those windows must not
    match."""
    rng = random.Random(8)
    frags = ["".join(chr(rng.randrange(1, 256)) for _ in range(rng.randrange(3, 9))) for _ in range(3000)]
    frags += ["\u0100a", "\u0101\u0100\u0102", "\u0200"]
    items = []
    for length in range(21):
        for _ in range(6):
            items.append("".join(chr(rng.randrange(1, 256)) for _ in range(length)))
        for frag in frags[:40]:
            if len(frag) <= length:
                at = rng.choice([0, (length - len(frag)) // 2, length - len(frag)])
                base = items[-1]
                items.append(base[:at] + frag + base[at + len(frag):])
    items += ["x\x00by", "\x00b", "\x01\x00\x02\x01", "\x00\x02"]
    expected = [s for s in items if any(f in s for f in frags)]
    assert 0 < len(expected) < len(items) - 100
    assert Prod.Filter(None, items, frags) == expected
    check_plans(items, frags, expected)
    assert [s for s in items[-4:] if s in expected] == []


# The matcher at its limits, where random inputs do not go. Short one-byte parts take window
# hashing; parts of thousands of distinct wide code points the automaton.
def wide_parts(count, lengths, start=0):
    return ["".join(WIDE[(start + i * 7 + j) % 3000] for j in range(lengths[i % len(lengths)]))
            for i in range(count)]


def test_tables_filled_to_a_power_of_two(Prod):
    # Window hashing sizes its slots and filter by the part count: each size, and one either side
    # of it. Then the automaton, with every code point a state of its own.
    ascii_parts = ["".join(chr(33 + (i * 7 + j * 13) % 94) for j in range(3)) for i in range(2000)]
    for count in (63, 64, 65, 1024):
        frags = ascii_parts[:count]
        items = [f"{i:03}" + frags[i * 5 % count] for i in range(40)] + ["".join(WIDE[:40]), "x" * 30]
        check(Prod, items, frags)
    for states in (2047, 2048, 2049, 4097):
        chars = iter(map(chr, range(0x4E00, 0x4E00 + states)))
        frags, left = [], states - 1
        for length in itertools.cycle(range(1, 23)):
            if not left:
                break
            frags.append("".join(next(chars) for _ in range(min(length, left))))
            left -= len(frags[-1])
        items = [frags[i % len(frags)][:-1] + "\u3001" + frags[i * 7 % len(frags)][1:] * 3
                 for i in range(400)] + frags[::9]
        check(Prod, items, frags)


def test_every_part_length_is_scanned(Prod):
    # Window hashing scans one length after another: a length that only one part has, first or
    # last in the list, is scanned as well.
    others = [f"{i:03}" for i in range(200)]
    lone = "abcde"
    items = ["x" + lone + "y"] + ["abcd" * 6] * 9
    for frags in ([lone] + others, others + [lone]):
        assert check(Prod, items, frags) == items[:1]


def test_windows_end_where_the_item_ends(Prod):
    # A part that is an item's end followed by the NUL that ends every str's storage: reading
    # one window too far would find it.
    rng = random.Random(3)
    frags = ["".join(chr(rng.randrange(1, 256)) for _ in range(8)) for _ in range(3000)] + ["abcdefg\x00"]
    items = ["abcdefg", "zabcdefg", "yzabcdefg", "abcdefgh"] * 3
    assert check(Prod, items, frags) == []


def test_window_confirmation_reaches_the_last_code_point(Prod):
    # Eight code points packed a byte apart: the last one's high bits fall off the key, so a window
    # that differs from a part only there has the part's key. Items of each str width.
    frags = wide_parts(3000, [8]) + ["aaaaaaa\u0100", "bbbbbbb\U00010100"]
    near = ["aaaaaaa\x00", "aaaaaaa\u0200", "aaaaaaa\U00010000", "bbbbbbb\x00", "bbbbbbb\u0100"]
    items = near * 3 + ["aaaaaaa\u0100", "xbbbbbbb\U00010100y"]
    assert check(Prod, items, frags) == items[-2:]


@pytest.mark.parametrize("length", [7, 8, 9])
def test_parts_at_the_packed_limit_match_items_equal_to_them(Prod, length):
    # Window hashing packs parts of up to eight one-byte code points, the automaton takes longer or
    # wider ones; an item exactly as long as a part is one window. Thousands of one-byte and two-byte
    # parts.
    rng = random.Random(length)
    for alphabet in ("".join(map(chr, range(33, 127))), WIDE[:400]):
        frags = ["".join(rng.choice(alphabet) for _ in range(length)) for _ in range(3000)]
        items = frags[:30] + [f[1:] for f in frags[30:60]] + [f[:-1] + "\u3000" for f in frags[60:90]]
        assert len(check(Prod, items, frags)) >= 30


def test_rows_of_many_columns_stay_within_the_memory_bound(Prod):
    # Parts of forty lengths and 3,000 distinct code points against a million code points of items:
    # a row for every state (about 6,000 rows of 3,000 columns, 70 MB) would scan fastest, but is
    # over the bound, whatever the plan asks of the rows.
    frags = wide_parts(300, range(1, 41))
    total = sum(map(len, frags))
    items = ["".join(WIDE[(i * 11 + j) % 3000] for j in range(100)) for i in range(10_000)]
    expected = model(items, frags)
    runs = [lambda: Prod.Filter(None, items, frags)]
    if probe is not None:
        runs += [lambda plan=plan: probe.filter(items, frags, plan) for plan in PLANS_AT_SIZE if plan["way"] != "windows"]
    for run in runs:
        tracemalloc.start()
        try:
            assert run() == expected
            peak = tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
        assert peak < 64 * total + (16 << 20), (peak, total)


class Recorded(set):
    """A set whose own iterator is what the general path must call, once per item tested."""
    calls = 0

    def __iter__(self):
        Recorded.calls += 1
        return iter(["k003", "k007"])


def test_sets_of_strs(Prod):
    # Each item holds exactly one part: losing any part while reading the set loses its item.
    keys = [f"k{i:03d}" for i in range(40)]
    items = [f"x{k}\u0101" for k in keys] + ["k", "x\U0001f600"]
    for substr in (set(keys), frozenset(keys)):
        assert Prod.Filter(None, items, substr) == items[:40]
    assert Prod.Filter(None, items, {"", "zz"}) == items
    Recorded.calls = 0
    assert Prod.Filter(None, items, Recorded(keys)) == [items[3], items[7]]
    assert Recorded.calls == len(items)
    with pytest.raises(TypeError) as info:
        Prod.Filter(None, ["q" * 9] * 10, set(keys) | {5})
    assert str(info.value) == "'in <string>' requires string as left operand, not int"
    assert module_entries(info.value) == [("tessavor.prod.Prod.Filter", 96), ("genexpr", 96)]


NAMES = [f"sq{i % 7}_sh{i:03d}" for i in range(30)]
FRAGS = ["sh00", "sh02", "zz", "x", "w", "e", "r", "t"]


@pytest.mark.parametrize("string, substr, exc, message", [
    # the first non-str item hands over to the general path at that very item
    (NAMES + [["sh001"], "sh020"], FRAGS, None, None),
    (NAMES + [5, "sh020"], FRAGS, TypeError, "argument of type 'int' is not iterable"),
    # a non-str part: the general path from the start, failing where it would
    (NAMES, FRAGS + [3], TypeError, "'in <string>' requires string as left operand, not int"),
    (NAMES + [b"sh001"], FRAGS, TypeError, "a bytes-like object is required, not 'str'"),
])
def test_mixed_inputs_leave_the_matcher(Prod, string, substr, exc, message):
    if exc is None:
        assert Prod.Filter(None, string, substr) == model(string, substr)
        return
    with pytest.raises(exc) as info:
        Prod.Filter(None, string, substr)
    assert str(info.value) == message
    assert module_entries(info.value) == [("tessavor.prod.Prod.Filter", 96), ("genexpr", 96)]


class Everything(str):
    """A str whose own __contains__ says yes to every part: only the general path asks it."""

    def __contains__(self, part):
        return True


class OwnIter(list):
    """Stored items, but what a walk sees is what its own __iter__ gives."""

    def __iter__(self):
        return iter(["sh001_a", "q9"])


def test_subclasses_of_list_and_tuple_are_walked_through_their_own_iter(Prod):
    # Enough items and parts for the matcher, had they been exact lists or tuples.
    assert Prod.Filter(None, OwnIter(NAMES), FRAGS) == ["sh001_a"]
    assert Prod.Filter(None, NAMES, type("Parts", (tuple,), {"__iter__": lambda self: iter(["sq3"])})(FRAGS)) == \
        [n for n in NAMES if "sq3" in n]


def test_str_subclass_items_answer_for_themselves(Prod):
    # The matcher takes exact strs two at a time: a subclass, or no str at all, first or second of
    # a pair, leaves it there.
    for lead in (9, 10):
        items = NAMES[:lead] + [Everything("qq"), "sh020", Everything("sh002")] + NAMES[10:20]
        got = Prod.Filter(None, items, FRAGS)
        assert got == model(items, FRAGS) and items[lead] in got
        items = NAMES[:lead] + [["sh001"], "sh020"]
        assert Prod.Filter(None, items, FRAGS) == model(items, FRAGS)


def test_parts_of_many_distinct_code_points(Prod):
    frags = ["".join(chr(0x4E00 + (i * 7 + j) % 3000) for j in range(10)) for i in range(3000)]
    names = [frags[5][2:8], "x" + frags[2999] + "y", "nothing"] * 4
    check(Prod, names, frags)


def substitute(answer):
    project = types.ModuleType("gazu.project")
    project.get_project_by_name = lambda name: (answer, name)
    gazu = types.ModuleType("gazu")
    gazu.project = project
    return gazu


def test_remembered_chain_sees_every_rebinding(prod, p, monkeypatch):
    gazu = substitute("first")
    monkeypatch.setattr(prod, "gazu", gazu)
    assert p.get_project("A") == ("first", "A")
    gazu.project.get_project_by_name = lambda name: ("second", name)
    assert p.get_project("A") == ("second", "A")
    gazu.project = substitute("third").project
    assert p.get_project("A") == ("third", "A")
    monkeypatch.setattr(prod, "gazu", substitute("fourth"))
    assert p.get_project("A") == ("fourth", "A")
    del prod.gazu.project.get_project_by_name
    with pytest.raises(AttributeError) as info:
        p.get_project("A")
    assert module_entries(info.value) == [("tessavor.prod.Prod.get_project", 91)]


def test_module_getattr_is_asked_at_every_call(prod, p, monkeypatch):
    gazu = substitute("unused")
    asked = []
    del gazu.project.get_project_by_name
    gazu.project.__getattr__ = lambda name: asked.append(name) or (lambda value: value)
    monkeypatch.setattr(prod, "gazu", gazu)
    assert [p.get_project(n) for n in "AB"] == ["A", "B"]
    assert asked == ["get_project_by_name"] * 2


class ObservedModule(types.ModuleType):
    """A module subclass: its attributes are read through its own __getattribute__, every time."""
    read = []

    def __getattribute__(self, name):
        ObservedModule.read.append(name)
        return super().__getattribute__(name)


def test_module_subclass_is_read_through_its_own_getattribute(prod, p, monkeypatch):
    gazu, project = ObservedModule("gazu"), ObservedModule("gazu.project")
    gazu.project, project.get_project_by_name = project, lambda name: name
    monkeypatch.setattr(prod, "gazu", gazu)
    ObservedModule.read = []
    assert [p.get_project(n) for n in "AB"] == ["A", "B"]
    assert ObservedModule.read == ["project", "get_project_by_name"] * 2


@pytest.mark.parametrize("which", ["gazu", "project"])
def test_a_module_turned_into_a_subclass_is_read_through_it_from_then_on(prod, p, monkeypatch, which):
    # Assigning a module's __class__ leaves its dictionary as it was: what was remembered from it
    # must not be used once the module is no longer exactly a module.
    gazu = substitute("plain")
    monkeypatch.setattr(prod, "gazu", gazu)
    assert p.get_project("A") == ("plain", "A")  # remembered
    module = gazu if which == "gazu" else gazu.project
    module.__class__ = ObservedModule
    ObservedModule.read = []
    assert p.get_project("A") == ("plain", "A")
    assert ObservedModule.read == (["project"] if which == "gazu" else ["get_project_by_name"])


# From 3.12 the remembered reads follow their dictionaries through a dictionary watcher, of
# which an interpreter has eight for everyone; _testcapi takes them the way other extensions do.
WATCHERS = """
import _testcapi, json, types
import tessavor.prod as prod

def take_watchers():
    taken = []
    try:
        while True:
            taken.append(_testcapi.add_dict_watcher(0))
    except RuntimeError:  # no more dict watcher IDs available
        return taken

def free_watchers():
    taken = take_watchers()
    for watcher in taken:
        _testcapi.clear_dict_watcher(watcher)
    return len(taken)

def substitute(answer):
    gazu, project = types.ModuleType("gazu"), types.ModuleType("gazu.project")
    project.get_project_by_name, gazu.project = (lambda name: (answer, name)), project
    return gazu

def calls():
    p, answers = prod.Prod.__new__(prod.Prod), []
    prod.gazu = substitute("first")
    answers += [p.get_project("A"), p.get_project("A")]
    prod.gazu.project.get_project_by_name = lambda name: ("second", name)
    answers.append(p.get_project("A"))
    prod.gazu = substitute("third")
    answers.append(p.get_project("A"))
    return [list(answer) for answer in answers]

expected = [["first", "A"], ["first", "A"], ["second", "A"], ["third", "A"]]
"""


@pytest.mark.skipif(sys.version_info < (3, 12), reason="dictionary watchers came with 3.12")
def test_the_module_takes_one_dictionary_watcher_however_many_calls():
    pytest.importorskip("_testcapi")
    proc = run_python(WATCHERS + """
before = free_watchers()
first, second = calls(), calls()
print(json.dumps([before - free_watchers(), first == second == expected]))
""")
    assert json.loads(proc.stdout) == [1, True]


@pytest.mark.skipif(sys.version_info < (3, 12), reason="dictionary watchers came with 3.12")
def test_with_every_dictionary_watcher_taken_calls_read_afresh():
    pytest.importorskip("_testcapi")
    proc = run_python(WATCHERS + """
import os, tempfile
fd, path = tempfile.mkstemp()
os.write(fd, b'{"host_url": "h"}')
os.close(fd)
taken = take_watchers()
# The first read is the global json: a failed watch must leave no error behind, which a C
# function called next (here json.load) would find.
real, prod.json = prod.json, types.SimpleNamespace(load=type)
opened = prod.Prod.__new__(prod.Prod).load_json(path).__name__
prod.json = real
loaded = prod.Prod.__new__(prod.Prod).load_json(path)
os.remove(path)
print(json.dumps([len(taken) > 0, opened, loaded, calls() == expected, calls() == expected]))
""")
    assert json.loads(proc.stdout) == [True, "TextIOWrapper", {"host_url": "h"}, True, True]


def net_allocation(call, times=2000):
    """Bytes left allocated by `times` calls: the least of three runs, since
    tracemalloc's own first allocations land in one of them."""

    def run():
        for _ in itertools.repeat(None, 100):
            call()
        loop = itertools.repeat(None, times)
        tracemalloc.start()
        try:
            before = tracemalloc.get_traced_memory()[0]
            for _ in loop:
                call()
            return tracemalloc.get_traced_memory()[0] - before
        finally:
            tracemalloc.stop()

    return min(run() for _ in range(3))


def test_calls_and_binding_failures_leave_no_allocation(prod, p, monkeypatch):
    record = {"name": "A"}
    gazu = substitute(None)
    gazu.project.get_project_by_name = {"A": record}.get  # a C function: allocates nothing
    monkeypatch.setattr(prod, "gazu", gazu)
    assert net_allocation(lambda: p.get_project("A")) == 0
    assert net_allocation(lambda: p.get_project(project_name="A")) == 0

    def binding_failure():
        try:
            p.get_project("A", extra=1)
        except TypeError:
            pass

    assert net_allocation(binding_failure) == 0
    kept = []
    assert net_allocation(lambda: kept.append(object())) > 0  # the measure sees a leak
