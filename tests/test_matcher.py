"""Filter's matcher on inputs made to hurt it: parts that collide wherever a hash or a packed number
could, that share long beginnings, that are prefixes of one another, made of one letter, or that
send the automaton along failure links. Answers are those of the general path whatever the process's
secret key."""
import json
import os
import random

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

from conftest import run_python
from matcher_support import (PLANS_AT_SIZE, SHAPES, WIDE, check, failure_chains, long_runs, packed_collisions, packed_overlaps,
                             thue_morse, thue_morse_blocks)


@settings(max_examples=120, deadline=None)
@given(st.sampled_from(SHAPES), st.integers(0, 2**32))
@example(packed_collisions, 1)
@example(packed_overlaps, 4)
@example(thue_morse_blocks, 2)
@example(failure_chains, 3)
@example(long_runs, 1)
@example(long_runs, 2)
def test_crafted_shapes_agree_with_the_general_path(Prod, shape, seed):
    items, parts = shape(random.Random(seed))
    check(Prod, items, parts)


@pytest.mark.parametrize("length", [1, 2, 5, 8, 9])
def test_a_part_at_every_place_of_a_long_item(Prod, length):
    """One part at each place of a one-byte item of 27 code points, the rest of the item of letters
    no part starts with: whatever the place, it is found, and so the windows read a step at a time
    miss none of theirs. Items that end with all of the part but its last code point (of four
    lengths, one for each place in a step) match neither it nor the part that ends in U+0000 there
    instead: no window reads past the item."""
    part = "xyzwvutsr"[:length]
    decoys = [letter * length for letter in "jklmno"] + [part[:-1] + "\x00"]
    items = ["a" * at + part + "b" * (27 - length - at) for at in range(28 - length)]
    ends = ["a" * 13 + part[:-1] + "b" * 14] + ["a" * (24 + extra - length) + part[:-1] for extra in range(4)]
    assert check(Prod, items + ends, [part] + decoys) == items


def test_crafted_lists_at_size(Prod):
    """The shapes at the sizes that stalled window hashing: thousands of parts of one packed number
    against long wide items; parts of Thue-Morse blocks past eight code points; ten thousand parts of
    one long beginning; a thousand prefixes of one word. Some items hold a part."""
    target = 0x101000
    pairs = [chr(target - 256 * c1) + chr(c1) for c1 in range(1, 0x1011) if c1 != 0x1000]
    items = ["\u1000" * 200] * 40 + ["\u1000" * 50 + pairs[2000] + "\u1000"] + ["\u1000" * 199 + pairs[-1][0]]
    assert check(Prod, items, pairs, plans=PLANS_AT_SIZE) == items[40:41]

    block = thue_morse(11, "ab")
    other = block.translate({ord("a"): "b", ord("b"): "a"})
    parts = [a + b + c for a in (block, other) for b in (block, other) for c in (block, other)]
    items = [block + other, other + other, block[1:] + other + block[:-1]] * 4 + ["x" + parts[1] + "x"]
    assert check(Prod, items, parts, plans=PLANS_AT_SIZE) == items[-1:]

    rng = random.Random(19)
    prefix = "".join(rng.choice("abcdefgh") for _ in range(200))
    parts = [prefix + "".join(rng.choice("abcdefgh") for _ in range(8)) for _ in range(10_000)]
    items = [prefix[:-1] + "x" + rng.choice(parts)[200:] for _ in range(30)] + [prefix + parts[7][200:], prefix]
    assert check(Prod, items, parts, plans=PLANS_AT_SIZE) == items[30:31]

    word = "".join(rng.choice("ab") for _ in range(2500))
    parts = [word[:k] for k in range(1000, 2000)]
    items = [word[1:]] * 10 + [word[:999], word[:999] + "a" + word[:1000]]
    assert check(Prod, items, parts, plans=PLANS_AT_SIZE) == items[-1:]


# Parts that window hashing serves (one-byte, at most eight code points) and parts that only the
# automaton serves; answers printed per call as the indices of the items kept.
KEYED = """
import json, sys
from tessavor.prod import Prod
with open(sys.argv[1] if len(sys.argv) > 1 else PATH, encoding="utf-8") as f:
    cases = json.load(f)
print(json.dumps([[i for i, s in enumerate(items) if s in Prod.Filter(None, items, parts)] for items, parts in cases]))
"""


def keyed_cases():
    rng = random.Random(41)
    cases = []
    for alphabet, lengths in (("ab", (3, 8)), ("abcdefgh", (2, 5)), ("ab\u0101", (2, 12))):
        parts = ["".join(rng.choice(alphabet) for _ in range(rng.randrange(*lengths))) for _ in range(3000)]
        items = ["".join(rng.choice(alphabet + "xyz") for _ in range(rng.randrange(0, 12))) for _ in range(400)]
        cases.append((items, parts))
    cases.append(packed_collisions(rng))
    cases.append(thue_morse_blocks(rng))
    return cases


def test_answers_do_not_depend_on_the_process_key(tmp_path):
    # The key comes from the interpreter's hash secret: PYTHONHASHSEED fixes it, or draws it.
    cases = keyed_cases()
    expected = [[i for i, s in enumerate(items) if any(p in s for p in parts)] for items, parts in cases]
    assert all(0 < len(kept) < len(items) for kept, (items, _) in zip(expected, cases))
    path = tmp_path / "cases.json"
    path.write_text(json.dumps(cases), encoding="utf-8")
    for seed in ("0", "1", "2", "4294967295", "random"):
        env = dict(os.environ, PYTHONHASHSEED=seed)
        proc = run_python(f"PATH = {str(path)!r}\n" + KEYED, env=env)
        assert json.loads(proc.stdout) == expected, seed


def test_chains_set_aside_rows_that_closing_rows_give_up(Prod):
    """Thousands of parts that part ways after three code points and go on alone: the chains they
    start while rows are open get rows set aside, which the next depth, where rows close, gives up.
    Items hold whole parts, parts but their last code point, and a part's tail after a prefix."""
    rng = random.Random(23)
    alphabet = "abcdefghijklmnopqrstuvwxyz0123456789"
    parts = ["".join(rng.choice(alphabet) for _ in range(rng.randrange(30, 50))) for _ in range(5000)]
    items = [f"x{p}y" for p in parts[:20]] + [p[:-1] for p in parts[20:40]] + [p[:3] + p[4:] for p in parts[40:60]]
    assert check(Prod, items, parts, plans=PLANS_AT_SIZE) == items[:20]


def test_pieces_of_one_text_at_size(Prod):
    """Thousands of parts cut from one long text, as names are cut from a few words: a part's
    beginning often goes on as the tail of others, so chains link deep into other chains, where
    rows are closed and chains are linked ahead of their depth. Items are pieces of the same text
    that hold some parts, some with a code point changed."""
    rng = random.Random(29)
    text = "".join(rng.choice("abcdefghijklmnopqrstuvwxyz0123456789") for _ in range(20_000))

    def piece(shortest, longest):
        at = rng.randrange(len(text) - longest)
        return text[at:at + rng.randrange(shortest, longest)]

    parts = [piece(20, 40) for _ in range(4000)]
    items = [piece(10, 60) for _ in range(1500)]
    items += [s[:k] + "!" + s[k + 1:] for s in items[:500] for k in [rng.randrange(len(s))]]
    kept = check(Prod, items, parts, plans=PLANS_AT_SIZE)
    assert len(items) / 4 < len(kept) < len(items) * 3 / 4


def test_many_letters_at_size(Prod):
    """Parts over 200 letters, wide and narrow: rows close below the root, and states without a row
    have from one child to dozens, whose classes share bits of the summary a state keeps of them, so
    that classes it rules out, classes it lets through to a search that finds nothing, and classes
    it finds all occur. Items hold parts, parts turned round, or parts with a letter changed."""
    rng = random.Random(31)
    letters = [chr(c) for c in range(0x61, 0x7b)] + [chr(0x3041 + i) for i in range(174)]
    parts = ["".join(rng.choices(letters[:rng.choice((26, 200))], k=rng.randrange(3, 9))) for _ in range(6000)]
    items = []
    for part in rng.sample(parts, 600):
        cut = rng.randrange(1, len(part))
        items += [rng.choice(letters) + part + rng.choice(letters), part[cut:] + part[:cut],
                  part[:cut] + rng.choice(letters) + part[cut + 1:]]
    kept = check(Prod, items, parts, plans=PLANS_AT_SIZE)
    assert len(items) / 3 < len(kept) < len(items) * 2 / 3


def test_a_state_without_a_row_finds_no_child_past_its_own(Prod):
    """A thousand one-character parts of wide code points make rows too wide to give below the root;
    "a" then has nine children, searched by halving, and the state numbered right after them ("bd")
    is on a class above theirs. "adz" must not step into it and find "bdz"."""
    fillers = WIDE[:1000]
    parts = [f"a{c}z" for c in "cfghijklm"] + ["bdz", "bey"] + fillers
    items = ["adz", "xadzx", "bdy", "aez", "acz", "bdz", "beyond", "ad" * 5, "ab", "bd"]
    assert check(Prod, items, parts) == ["acz", "bdz", "beyond"]


@pytest.mark.parametrize("length", [9, 17, 40])
def test_a_run_stops_where_the_item_ends(Prod, length):
    """Items that end where a part goes on with U+0000, the code point stored after every str's last
    one: a scan comparing an item with a part's chain must stop at the item's end, wherever the
    comparison started."""
    word = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGH"[:length]
    items = [word] * 8 + ["x" + word, word[3:]]
    assert check(Prod, items, [word + "\x00"] * 8) == []
    assert check(Prod, items, [word + "\x00" + word] * 4 + ["zz" + word[-3:]] * 4) == []


def test_a_run_compares_the_text_with_the_code_points_ahead_of_its_state(Prod):
    """Items that go along a part, then repeat one or two of its code points or leave them out: a
    run that compared the text with the part's code points from anywhere but just past its state
    would find the rest of the part there."""
    part = "abcdefghijklmnopqrstuvwxyz0123456789ABCD"
    items = [part[:k] + part[k + skip:] + tail for k in range(3, len(part) - 2) for skip in (-2, -1, 1, 2)
             for tail in ("", part[-1])]
    assert check(Prod, items, [part] * 8) == []


def test_a_search_past_the_last_child_finds_none(Prod):
    """A sparse state with ten children, searched by halving, for a class above all of theirs that
    shares a bit of its summary with one of them: the record just past its last child is the first
    child of the next state of its depth (which branches too), on that very class, and must not be
    taken for its own."""
    letters = [chr(0x4E00 + i) for i in range(40)]  # classes 1 to 40, in this order
    a, b, end = letters[0], letters[12], letters[39]
    parts = ["".join(letters)] + [a + letters[c] + end for c in range(2, 11)] + [b + letters[c] + end for c in (31, 33)]
    items = [a + letters[31] + end, "x" + a + letters[31] + end + "x", a + letters[31]] * 3 + [b + letters[31] + end]
    assert check(Prod, items, parts) == items[-1:]
