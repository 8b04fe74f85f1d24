"""What the tests of Filter and its matcher share: the model Filter is held to, the plans the
matcher is forced under, the check that every plan gives the model's answers, the code points at
the matcher's boundaries, and the crafted shapes of parts that the tests, the fuzzer's seeds and
the benchmarks draw from.

The plans are forced through `_tessavor_probe`, an extension the test build makes from the same
matcher sources (never part of a wheel). A suite run on an installed wheel (on Windows, inside a
DCC) goes without it; `make test` sets TESSAVOR_PROBE=required, so that a test build without it
fails rather than skips the forced plans.
"""
import os

try:
    import _tessavor_probe as probe
except ImportError:
    if os.environ.get("TESSAVOR_PROBE") == "required":
        raise
    probe = None


def model(string, substr):
    """Filter in Python. The inner `for _ in (0,)` moves iter(substr) into the generator, where the
    module's item test calls it: a StopIteration from it then becomes RuntimeError there too."""
    return [s for s in string if any(x in s for _ in (0,) for x in substr)]


class Parts(tuple):
    """The same parts, walked through the general path."""


# Every plan a matcher case runs under: each way, and for the automaton each policy for its rows
# (which depths are dense) and its runs (where one-byte text is compared along a chain).
PLANS = [
    {"way": "windows"},
    {"way": "automaton"},
    {"way": "automaton", "rows": "all", "runs": "early"},
    {"way": "automaton", "rows": "root", "runs": "early"},
    {"way": "automaton", "rows": "all", "runs": "none"},
    {"way": "automaton", "rows": "root", "runs": "none"},
]

# For the cases at size: each way, each policy for the rows and each for the runs, once.
PLANS_AT_SIZE = [PLANS[0], PLANS[1], PLANS[2], PLANS[5]]

# Window hashing serves parts of at most this many code points, all below 256.
WINDOW_LONGEST = 8


def windows_serve(parts):
    return all(len(p) <= WINDOW_LONGEST and all(ord(c) < 256 for c in p) for p in parts)


def forced(items, parts, plan):
    """The matcher's answer under `plan`, or None where its way cannot serve the parts."""
    if plan.get("way") == "windows" and not windows_serve(parts):
        return None
    return probe.filter(list(items), parts, plan)


def check_plans(items, parts, expected, plans=PLANS):
    """Every plan gives `expected`, the same objects in the same order."""
    if probe is None:
        return
    for plan in plans:
        got = forced(items, parts, plan)
        if got is not None:
            assert got == expected and all(a is b for a, b in zip(got, expected)), plan


def check(Prod, items, parts, shapes=(list, tuple, frozenset), plans=PLANS):
    """Filter on the matcher's path, in each shape of `parts`, and the matcher under every plan,
    all give the model's answer (the general path's, through a tuple subclass). Returns it."""
    assert len(items) >= 8 and len(items) * len(parts) >= 64  # the matcher's path
    expected = Prod.Filter(None, items, Parts(parts))
    assert expected == model(items, parts)
    for shape in shapes:
        got = Prod.Filter(None, items, shape(parts))
        assert got == expected and all(a is b for a, b in zip(got, expected)), shape
    check_plans(items, parts, expected, plans)
    return expected


# Every boundary the matcher has: its table for code points below 256 and the sorted one above, the
# three widths of str, lone surrogates (and a pair of them, which is no astral character), astral ones.
BOUNDARY = ("ab\x00\x7f\x80\xfe\xff\u0100\u0101\u0102\u07ff\ud7ff\ud800\udbff\udc00\udfff"
            "\ue000\uffff\U00010000\U0001f600\U0010ffff")

# Thousands of distinct wide code points: wide rows, and parts that only the automaton serves.
WIDE = [chr(0x4E00 + i) for i in range(3000)]


def thue_morse(order, letters):
    word = [0]
    for _ in range(order):
        word += [1 - bit for bit in word]
    return "".join(letters[bit] for bit in word)


# Each shape from a seed (a random.Random): (items, parts), with items that hold some parts, items
# that hold all of a part but its last code point, and items of the shape that hold none.
def packed_collisions(rng):
    """Two code points c0 + 256 * c1 equal to one number: the packed window of a byte per code point
    of all these parts."""
    target = rng.randrange(0x10000, 0x110000)
    highs = rng.sample(range(max(1, target // 256 - 0x300), target // 256 + 1), 40)
    parts = [chr(target - 256 * c1) + chr(c1) for c1 in highs]
    filler = chr(target // 257) * 5
    items = [filler + p[::-1] + filler for p in parts[:10]] + [filler] * 4
    items += [filler + parts[i][0] + filler + parts[i][1] for i in range(5)] + [rng.choice(parts) + "x"]
    return items, parts


def packed_overlaps(rng):
    """Short one-byte parts, which window hashing serves, against wide items whose windows pack to a
    part's number: "\u6261\x00" packs as "ab"."""
    parts = ["".join(chr(rng.randrange(1, 256)) for _ in range(rng.randrange(2, 4))) for _ in range(200)]
    wide = [chr(ord(p[0]) + 256 * ord(p[1]) + (65536 * ord(p[2]) if len(p) > 2 else 0)) + "\x00" * (len(p) - 1)
            for p in parts if len(p) == 2 or ord(p[2]) < 16]
    items = ["\u0100" + w + "\u0100" for w in wide] + ["\u0100" + w[0] for w in wide[:5]]
    items += ["\u0100" + p + "\u0101" for p in parts[:3]] + ["\U00010000" + parts[-1]]
    return items, parts


def thue_morse_blocks(rng):
    """Concatenations of a Thue-Morse word and its complement: every two of the same number of blocks
    share their polynomial hash modulo 2**64 for every odd base, once blocks are long enough."""
    letters = rng.sample("ab\xe9\u0101\U0001f600", 2)
    block = thue_morse(rng.randrange(3, 7), letters)
    other = block.translate({ord(letters[0]): letters[1], ord(letters[1]): letters[0]})
    count = rng.randrange(3, 6)
    parts = ["".join((block, other)[(n >> i) & 1] for i in range(count)) for n in range(2 ** count)]
    parts = rng.sample(parts, len(parts) // 2)
    items = ["".join(rng.choice((block, other)) for _ in range(count + rng.randrange(0, 3))) for _ in range(12)]
    items += [p[:-1] for p in parts] + [p[1:] for p in parts]
    return items, parts


def shared_prefix(rng):
    prefix = "".join(rng.choice("abc\u0101") for _ in range(rng.randrange(10, 80)))
    parts = [prefix + "".join(rng.choice("abcd") for _ in range(rng.randrange(1, 6))) for _ in range(30)]
    items = [prefix[:-1] + "d" + rng.choice(parts)[len(prefix):] for _ in range(6)]
    items += [prefix + "x" * 3, prefix * 2, rng.choice(parts) + "y", "z" + prefix[: rng.randrange(len(prefix))]]
    return items, parts


def nested_prefixes(rng):
    word = "".join(rng.choice("ab\U0001f600") for _ in range(200))
    lengths = sorted(rng.sample(range(20, 200), 12))
    parts = [word[:k] for k in lengths]
    items = [word[:lengths[0] - 1], word[1:], word[:lengths[0] - 1] + "c" + word[lengths[0]:]]
    items += [word[rng.randrange(1, 5):rng.randrange(100, 200)] for _ in range(6)] + [word[:rng.choice(lengths)]]
    return items, parts


def one_letter(rng):
    letter = rng.choice("a\xff\u0100\U00010000")
    parts = [letter * rng.randrange(5, 30) for _ in range(20)]
    shortest = min(map(len, parts))
    items = [(letter * (shortest - 1) + "b") * rng.randrange(1, 6) for _ in range(6)]
    items += [letter * (shortest - 1), letter * shortest, "b" + letter * rng.randrange(30)]
    return items, parts


def failure_chains(rng):
    """Parts a^k b and a^k c against runs of a: the automaton at depth k keeps falling back along its
    failure links, and a part that is a suffix of the text only shows through them."""
    parts = [f"{'a' * k}{rng.choice('bc')}" for k in rng.sample(range(1, 40), 12)]
    parts += ["ab" * rng.randrange(2, 6) + "c", "ba" * 3]
    items = ["a" * rng.randrange(40, 90) for _ in range(5)] + ["x" + "a" * 50 + "b", "ab" * 8, "ba" * 3 + "y"]
    items += ["a" * 40 + rng.choice(parts)]
    return items, parts


def long_runs(rng):
    """Parts that go on alike for dozens of code points, where a scan of one-byte text stops stepping
    and compares the text with the parts: a part inside a longer one (which accepts midway, through
    a failure link), a wide code point midway (where the comparison must stop, and which no byte
    stands for), and items that end, part ways or match anywhere along, alone or beside another."""
    alphabet = rng.choice(["ab", "abcd", "\xe9\xff"])
    words = ["".join(rng.choice(alphabet) for _ in range(rng.randrange(36, 120))) for _ in range(3)]
    inner = words[0][rng.randrange(17, len(words[0]) - 8):][:rng.randrange(3, 9)]
    cut = rng.randrange(17, len(words[1]) - 17)
    wide = words[1][:cut] + "\u0100" + words[1][cut + 1:]  # U+0100: the first past the one-byte ones
    parts = [words[0] + "z", inner, wide, words[2], words[2][:rng.randrange(34, len(words[2]) + 1)] + "y"]
    parts += ["q" * k + "x" for k in range(1, 5)]
    items = [words[0][:k] for k in sorted(rng.sample(range(1, len(words[0]) + 1), 5))]
    items += [w[:k] + "x" + w[k + 1:] for w in words for k in [rng.randrange(16, len(w))]]
    items += ["x" + words[1][:cut] + "\u0100", words[1], wide.replace("\u0100", "\x00"), "qx" + words[2][1:],
              words[2][:-1] + "x"]
    items += [rng.choice(parts)[1:] for _ in range(4)] + [w + "\u0100" for w in words]
    return items, parts


SHAPES = [packed_collisions, packed_overlaps, thue_morse_blocks, shared_prefix, nested_prefixes, one_letter,
          failure_chains, long_runs]
