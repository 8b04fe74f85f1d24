"""The matcher's plan, read back: which way it takes, which depths get full rows and where runs
start. None of it changes an answer (every matcher case runs under every plan), so these pin the
choices themselves, at the points where a rule's bound decides them."""
import os
import random
import string
import tracemalloc

import pytest

from conftest import run_python
from matcher_support import PLANS, probe

pytestmark = pytest.mark.skipif(probe is None, reason="the matcher probe is built with the test build only")

LETTERS = string.ascii_lowercase


def random_parts(seed, count, length, alphabet):
    rng = random.Random(seed)
    return ["".join(rng.choice(alphabet) for _ in range(length)) for _ in range(count)]


@pytest.mark.parametrize("parts, text_length, way", [
    # One part length: a window per code point of text, against the automaton's three steps.
    (["abc", "xyz"], 10**9, "windows"),
    # Seven lengths: window hashing pays per length, the automaton once its rows are filled.
    (["abc", "de", "fghi", "jklmn", "opqrst", "uvwxyzA", "BCDEFGHI"], 10**7, "automaton"),
    (["abc", "de", "fghi", "jklmn", "opqrst", "uvwxyzA", "BCDEFGHI"], 10**4, "windows"),
    # Only the automaton serves parts past eight code points, or with one from 256 up.
    (["abcdefghi", "ab"], 0, "automaton"),
    (["ab\u0100", "ab"], 0, "automaton"),
    (["abcdefgh", "ab\xff"], 0, "windows"),
    # An empty part is in every str.
    (["", "abc"], 0, "always"),
    (("abc", ""), 10**9, "always"),
])
def test_the_way_follows_the_parts_and_the_text(parts, text_length, way):
    assert probe.plan(parts, text_length)["way"] == way
    assert probe.plan(parts, text_length, {"way": "automaton"})["way"] == ("always" if "" in parts else "automaton")


def test_a_forced_way_that_cannot_serve_is_refused():
    for parts in (["abcdefghi"], ["ab\u0100"], {"\U0001f600"}):
        with pytest.raises(ValueError, match="does not serve"):
            probe.plan(parts, 0, {"way": "windows"})
        with pytest.raises(ValueError, match="does not serve"):
            probe.filter(["x"], parts, {"way": "windows"})
    with pytest.raises(TypeError, match="exact str"):
        probe.filter(["x"], ["ab", b"cd"], {"way": "automaton"})
    for shape in ({"ab": 1}, "ab", iter(["ab"])):
        with pytest.raises(TypeError, match="exact list, tuple, set or frozenset"):
            probe.filter(["x"] * 8, shape)
    with pytest.raises(ValueError, match="no such choice"):
        probe.plan(["ab"], 0, {"rows": "most"})
    with pytest.raises(ValueError, match="unknown keys"):
        probe.plan(["ab"], 0, {"rows": "all", "depth": 3})


def test_rows_by_branching():
    # A hundred parts of twelve letters: the rows stay few (under 2**17 entries), so every depth
    # gets them. Twenty thousand: the trie stops branching (three parts a state or more) below
    # depth 2, and only the root and the two depths under it have rows.
    few = probe.plan(random_parts(1, 100, 12, LETTERS), 10**6)
    many = probe.plan(random_parts(1, 20000, 12, LETTERS), 10**6)
    assert (few["rows"], few["row_depths"], many["row_depths"]) == ("auto", 12, 3)
    # Rows as narrow as a state's record (four code points and class 0) are given at every depth,
    # however many states; five code points are past that.
    assert probe.plan(random_parts(2, 20000, 12, "abcd"), 10**6)["row_depths"] == 12
    assert probe.plan(random_parts(2, 20000, 12, "abcde"), 10**6)["row_depths"] == 7


def test_the_row_budget_is_12_bytes_a_code_point_and_8_mib():
    for parts in (["ab"], random_parts(4, 5000, 12, LETTERS)):
        total = sum(map(len, parts))
        assert probe.plan(parts, 0, {"way": "automaton"})["row_budget"] == (12 * total + (8 << 20)) // 4  # 4-byte entries


def test_rows_take_the_memory_they_fill_not_their_budget():
    # Fifty parts of ten letters fill about 500 rows of 27 entries: some 60 KiB, where the budget
    # is 8 MiB and more. The build's peak stays near what it fills, under every automaton plan.
    parts = random_parts(5, 50, 10, LETTERS)
    items = random_parts(6, 100, 30, LETTERS)
    for plan in PLANS[1:]:
        tracemalloc.start()
        try:
            probe.filter(items, parts, plan)
            peak = tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
        assert peak < 1 << 20, (plan, peak)


def test_rows_forced():
    parts = random_parts(3, 20000, 12, LETTERS)
    root = probe.plan(parts, 0, {"rows": "root"})
    assert (root["row_depths"], root["row_entries"]) == (1, len(LETTERS) + 1)
    every = probe.plan(parts, 0, {"rows": "all"})
    assert every["row_depths"] > probe.plan(parts, 0)["row_depths"]
    # Every depth of a small list, and of one long part.
    assert probe.plan(random_parts(3, 20, 12, LETTERS), 0, {"rows": "all"})["row_depths"] == 12
    assert probe.plan(["ab" * 20], 0, {"rows": "all"})["row_depths"] == 40


@pytest.mark.parametrize("parts, states", [
    (["ab" * 20], 41),  # one chain: the root and a state for each code point
    (["abc", "abd"], 5),  # the beginning they share is one path
    (["abc", "abd", "x"], 6),
    # A state where a part ends has no children: a scan that reaches it has matched.
    (["abc", "abd", "x", "ab"], 4),
])
def test_the_trie_has_a_state_for_each_beginning_of_a_part(parts, states):
    for plan in PLANS[1:]:
        assert probe.plan(parts, 0, plan)["states"] == states, plan


@pytest.mark.parametrize("parts, runs, run_states", [
    # One part of forty code points is one chain from the root, its states at depths 1 to 40. A
    # state starts a run with eight one-byte edges or more after it, so at depth 32 at most; and
    # from the depth where 4096 times the parts are fewer than the strings of that many of the
    # parts' code points: 2**13 for two code points (depths 13 to 32), 4**7 for four (7 to 32).
    (["ab" * 20], "auto", 20),
    (["abc" * 10 + "d" * 10], "auto", 26),
    # Never above depth 6, however many code points.
    ([LETTERS + LETTERS[:14]], "auto", 27),
    # One code point repeats in text as in parts: no runs.
    (["a" * 40], "auto", 0),
    # Forced: from the chain's first state, or none.
    (["ab" * 20], "early", 32),
    (["a" * 40], "early", 32),
    (["ab" * 20], "none", 0),
    # U+0000 and U+00FF are bytes like any other: runs go across them (depths 1 to 34 of 42).
    (["ab" * 10 + "\x00\xff" + "ab" * 10], "early", 34),
    # A wide code point is no byte to compare: runs stop eight edges before it (depths 1 to 12),
    # and start again at its own state (21 to 33).
    (["ab" * 10 + "\u0100" + "ab" * 10], "early", 12 + 13),
])
def test_where_runs_start(parts, runs, run_states):
    plan = probe.plan(parts, 0, {"runs": runs})
    assert (plan["runs"], plan["run_states"]) == (runs, run_states)


def test_a_chain_past_a_state_that_accepts_is_left_alone():
    # "ab" accepts through its failure link ("b" is a part), so what the long parts hold past it is
    # never reached: the build stops at depth 2, whether they go on alike to their end or part
    # ways there, and the rows are the root's, "a"'s and those set aside for the chain.
    tail = "b" + "cdefgh" * 7
    every = {"way": "automaton", "rows": "all"}
    alike = probe.plan(["b", "a" + tail], 0, every)
    parting = probe.plan(["b", "a" + tail + "c", "a" + tail + "d"], 0, every)
    assert alike["row_depths"] == parting["row_depths"] == 3
    width = 1 + len(set("abcdefgh"))  # a class per code point, and class 0
    assert alike["row_entries"] == parting["row_entries"] == (2 + 32) * width


FEW = 1 << 17  # row entries that are few enough for every depth


@pytest.mark.parametrize("rows, depth, entries, live, states, width, above, expected", [
    ("auto", 0, 10**9, 0, 1, 10**6, False, True),  # the root, always
    ("auto", 3, 1000, 30, 10, 100, False, False),  # never below a depth without rows
    ("auto", 3, 10**6 + 1, 300, 10, 100, True, False),  # never past the budget (10**6 here)
    ("all", 3, 10**6, 1, 10**5, 100, True, True),  # at the budget, whatever the branching
    ("root", 3, 100, 300, 10, 2, True, False),
    # By branching: three parts a state, or few entries, or rows of four code points and class 0.
    ("auto", 3, FEW + 1, 30, 10, 100, True, True),
    ("auto", 3, FEW + 1, 29, 10, 100, True, False),
    ("auto", 3, FEW, 1, 10, 100, True, True),
    ("auto", 3, FEW + 1, 1, 10, 5, True, True),
    ("auto", 3, FEW + 1, 1, 10, 6, True, False),
])
def test_which_depths_get_rows(rows, depth, entries, live, states, width, above, expected):
    assert probe.rows_at(rows, 10**6, depth, entries, live, states, width, above) is expected


@pytest.mark.parametrize("runs, parts, points, depth", [
    ("auto", 1, 2, 13),  # 2**12 strings are not more than 4096 parts' worth; 2**13 are
    ("auto", 2, 2, 14),
    ("auto", 1, 4, 7),
    ("auto", 1, 64, 6),  # 64**2 is 4096: depth 3, but never above 6
    ("auto", 10**6, 64, 6),
    ("auto", 2 * 10**7, 64, 7),  # 64**6 <= 4096 * 2e7 < 64**7
    ("auto", 10507, 3, 16),  # 4096 * 10507 < 3**16 <= 4097 * 10507: the odds are 4096, no more
    ("auto", 5, 1, None),  # one code point: none
    ("early", 5, 1, 0),
    ("none", 1, 64, None),
])
def test_where_runs_may_start(runs, parts, points, depth):
    assert probe.run_depth(runs, parts, points) == depth


def test_the_process_key_is_odd_and_drawn_from_the_hash_secret():
    # Window hashing's multiplier: odd, the same for the whole process, and from the interpreter's
    # hash secret, so that a fixed PYTHONHASHSEED repeats it and another seed gives another.
    keys = {}
    for seed in ("0", "1", "1"):
        proc = run_python("import _tessavor_probe as p; print(p.process_key(), p.process_key())",
                          env=dict(os.environ, PYTHONHASHSEED=seed))
        first, again = map(int, proc.stdout.split())
        assert first == again and first % 2 == 1
        keys.setdefault(seed, set()).add(first)
    assert len(keys["1"]) == 1 and keys["0"] != keys["1"]


def test_scans_go_along_runs_as_the_plan_says():
    # One-byte items that hold a part of forty code points (or all of it but its last) go along
    # its runs, under the runs the plan makes and only then; wide items step through the same
    # states, and so do items under a plan without runs.
    part = "ab" * 20
    items = ["x" + part + "y", "ab" * 19 + "a", "z" * 30, "ab" * 30] * 2
    for runs in ("early", "auto"):
        assert probe.along(items, [part, "qq"], {"way": "automaton", "runs": runs}) > len(part)
    assert probe.along(items, [part, "qq"], {"way": "automaton", "runs": "none"}) == 0
    wide = [item + "\u0100" for item in items]
    assert probe.along(wide, [part, "qq"], {"way": "automaton", "runs": "early"}) == 0
    assert probe.filter(wide, [part, "qq"], {"runs": "early"}) == [wide[0], wide[3], wide[4], wide[7]]
