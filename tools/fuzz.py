"""Coverage-guided fuzzing of tessavor.prod with atheris: `make fuzz` runs it.

An input's first byte picks one of three targets, each checked against plain Python:

- filter: `Prod.Filter(None, items, parts)` and, for exact strs, the matcher alone under the
  matcher's own plan and under each plan of PLANS (tests/matcher_support.py), through the test
  build's `_tessavor_probe`, against the model there: the same items, the very objects, in order.
  A plan's way refuses the parts (ValueError) exactly where window hashing cannot serve them
  and no part is empty (an empty part is in every str, whatever the plan).
- binding: a method of Prod called with positional values and keyword names (interned, built at
  run time, a str subclass; with _testcapi also raw vectorcalls, whose names may be unhashed or no
  str at all) against a plain Python function with the same parameters: the same values bound,
  or TypeError from both, with the module's message and traceback entry.
- load_json: `Prod.load_json` of a file holding the input against `json.load(open(path))`: the
  same value, or the same exception type and message, with the module's two traceback entries
  (the `with` line and the body's).

A mismatch raises AssertionError; atheris then writes the input as a crash file and stops.

Run alone, from the repository root, in .venv-fuzz (the module built by clang with
-fsanitize=fuzzer-no-link,address,undefined; `make .venv-fuzz/.installed` makes it):

    LD_PRELOAD=$(.venv-fuzz/bin/python -c 'import atheris; print(atheris.path())')/asan_with_fuzzer.so \\
        PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0 \\
        .venv-fuzz/bin/python tools/fuzz.py build/fuzz/corpus tests/fuzz_corpus -dict=tools/fuzz.dict \\
        -max_total_time=60

Any libFuzzer flag may follow; a crash file given instead of folders is run once. Without
atheris (any venv with the module, e.g. for coverage):

    python tools/fuzz.py --replay FILE_OR_FOLDER ...   each input once; fails at the first mismatch
    python tools/fuzz.py --plan N --replay ...         filter inputs under PLANS[N] alone (-1: none)
    python tools/fuzz.py --show FILE                   what an input decodes to, to write its test
"""
import atexit
import functools
import json
import os
import re
import shutil
import sys
import tempfile
import types

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests"))

import tessavor.prod  # noqa: E402

from conftest import module_entries  # noqa: E402
from matcher_support import PLANS, model, probe, windows_serve  # noqa: E402
from test_fuzz import METHODS, binding_error  # noqa: E402

try:
    import _testcapi
except ImportError:
    _testcapi = None

Prod = tessavor.prod.Prod

# ---------------------------------------------------------------------------------------------
# filter

# What the bytes 0x00 to 0xfc of parts and items stand for: one of these alphabets, byte b for
# its code point b modulo its length. The first holds U+0000 to U+00BF, then the ends of Latin-1,
# the first code points past it, each width of str and its ends, surrogates (lone, and a pair
# that is no astral character); the small ones make parts meet in items, share beginnings and
# overlap far more often: one-byte text, mixed widths, and names' letters.
WIDE = ("\xc0\xdf\xe9\xfe\xff\u0100\u0101\u0102\u017f\u0391\u03b1\u07ff\u0800\u20ac\u4e00\u4e01"
        "\ud7ff\ud800\udbff\udc00\udfff\ue000\ufeff\ufffd\ufffe\uffff"
        "\U00010000\U00010001\U0001f600\U0001f601\U0010fffe\U0010ffff")
WIDE += "".join(chr(0x3041 + i) for i in range(0xfd - 0xc0 - len(WIDE)))
ALPHABETS = ["".join(map(chr, range(0xc0))) + WIDE, "ab\x00\xff", "ab\xff\u0100\u0101\ud800\U0001f600\x00",
             "abcdefghijklmnopqrstuvwxyz0123456789_"]
CHARS = [str.maketrans({chr(b): alphabet[b % len(alphabet)] for b in range(0xfd)}) for alphabet in ALPHABETS]
END_OF_PART, END_OF_PARTS, PART_TEXT = 0xff, 0xfe, 0xfd
PIECES = re.compile(re.escape(bytes([PART_TEXT])) + b"(.)", re.S)  # a segment's own bytes, part numbers


def text_of(segment, chars, parts):
    pieces = PIECES.split(segment)
    for k in range(1, len(pieces), 2):
        pieces[k] = parts[pieces[k][0] % len(parts)] if parts else ""
    for k in range(0, len(pieces), 2):
        pieces[k] = pieces[k].decode("latin-1").translate(chars)
    return "".join(pieces)


PARTS_TYPES = [list, tuple, set, frozenset]
Item = type("Item", (str,), {})  # a str subclass: Filter's general path, same answers


def decode_filter(data):
    """(items, parts) of a filter input.

    data[0] is a flag byte: bits 0-1 the type of parts (list, tuple, set, frozenset), bit 2 items
    in a tuple, bit 3 the first item and bit 4 the first part a str subclass, bit 5 items
    repeated up to the matcher's minimum (8 items and 64 item-part pairs), bit 6 every part
    also an item, bit 7 every part but its last code point also an item (the scan then goes
    along every part, and stops one short of each). data[1] picks the alphabet. Then the parts,
    each ended by 0xff, up to a 0xfe; then the items, each ended by 0xff. Within them, 0xfd and a
    byte k stand for the text of part k (modulo the parts before it): parts then sit inside items
    and inside later parts far more often than random bytes would put them there.
    """
    data = bytes(data) + bytes(2 - min(len(data), 2))
    flags, chars = data[0], CHARS[data[1] % len(CHARS)]
    head, _, tail = data[2:].partition(bytes([END_OF_PARTS]))
    parts = []
    for segment in head.split(bytes([END_OF_PART])):
        parts.append(text_of(segment, chars, parts))
    items = [text_of(segment, chars, parts) for segment in tail.split(bytes([END_OF_PART]))] if tail else []
    items += (parts if flags & 64 else []) + ([p[:-1] for p in parts] if flags & 128 else [])
    if flags & 8 and items:
        items[0] = Item(items[0])
    if flags & 16:
        parts[0] = Item(parts[0])
    if flags & 32 and items:
        wanted = max(8, -(-64 // len(parts)))
        items = [items[i % len(items)] for i in range(max(wanted, len(items)))]
    return (tuple if flags & 4 else list)(items), PARTS_TYPES[flags & 3](parts)


def same_items(got, expected):
    return type(got) is list and len(got) == len(expected) and all(a is b for a, b in zip(got, expected))


def windows_plan(plan):
    return plan is not None and plan.get("way") == "windows"


def check_filter(data):
    items, parts = decode_filter(data)
    expected = model(items, parts)
    if FILTER_PLANS[0] == "Filter":
        got = Prod.Filter(None, items, parts)
        assert same_items(got, expected), f"Filter(None, {items!r}, {parts!r}) gave {got!r}, not {expected!r}"
    if probe is None or any(type(s) is not str for s in [*items, *parts]):
        return  # the probe takes exact strs only; the Windows suite runs without it
    refused = not (windows_serve(parts) or "" in parts)
    for plan in FILTER_PLANS[1:]:
        try:
            got = probe.filter(list(items), parts, plan)
        except ValueError:
            assert windows_plan(plan) and refused, f"plan {plan} refused {parts!r}"
            continue
        assert not (windows_plan(plan) and refused), f"plan {plan} took {parts!r}"
        assert same_items(got, expected), f"under plan {plan}, filter({list(items)!r}, {parts!r}) gave {got!r}"


# What a filter input runs: Filter itself, then the matcher under its own plan and each forced one;
# --plan N narrows it to the matcher under PLANS[N] alone (N = -1: its own plan).
FILTER_PLANS = ["Filter", None, *PLANS]


# ---------------------------------------------------------------------------------------------
# binding

class Value(Prod):
    """A value any parameter can take, showing afterwards where the module bound it: Filter walks
    it (the walk is logged), gazu gets it by name (the substitute echoes it), open() reads the file
    it stands for (which holds its number), and as self it receives __init__'s attributes."""

    def __iter__(self):
        LOG.append(self)
        return iter([f"<{self.number}>"])

    def __fspath__(self):
        return self.path


LOG = []
VALUE_COUNT = 9  # self, four positional values, four keywords


@functools.lru_cache(maxsize=None)
def folder():
    """A temporary folder, made at first use and removed at exit: the values' files (each holding
    its number, as load_json and __init__ read it) and load_json's document."""
    path = tempfile.mkdtemp(prefix="tessavor-fuzz-")
    atexit.register(shutil.rmtree, path, ignore_errors=True)
    for number in range(VALUE_COUNT):
        with open(os.path.join(path, f"{number}.json"), "w") as f:
            json.dump(dict.fromkeys(["number", "host_url", "event_url", "login_id", "password"], number), f)
    return path


space = types.SimpleNamespace
ECHO_GAZU = space(
    set_host=lambda host: None, set_event_host=lambda host: None, log_in=lambda login, password: None,
    project=space(get_project_by_name=lambda name: {"name": name}, all_projects=lambda: []),
    shot=space(**dict.fromkeys(["all_episodes_for_project", "all_sequences_for_project", "all_shots_for_project"],
                               lambda record: [record])),
    person=space(all_persons=lambda: [], get_person_by_full_name=lambda name: ("person", name)),
    user=space(all_tasks_to_do=lambda: []))
METHOD_NAMES = sorted(METHODS)


def plain_function(params):
    """A Python function with exactly these parameters, returning the values bound to them."""
    namespace = {}
    exec(f"def bound({', '.join(params)}):\n    return ({', '.join(params)},)\n", namespace)
    return namespace["bound"]


PLAIN = {name: plain_function(params) for name, (params, _) in METHODS.items()}

# Keyword names: every parameter of every method, names of the same length in a wider kind,
# near misses, and names no parameter has.
KEYWORDS = sorted({name for params, _ in METHODS.values() for name in params}) + [
    "strin\u0101", "sel\u0100", "substr\x00", "Self", "project_nam", "x", "extra", "", "\U0001f600"]
Name = type("Name", (str,), {})


def keyword_name(text, variant, raw):
    """The name as interned text, or built at run time (not interned; unhashed when `raw`, where no
    dictionary hashes it), or a str subclass; in raw calls, variants 4 and 5 are no str at all."""
    if variant == 0:
        return sys.intern(text)
    if variant == 1 or (variant > 2 and not raw):
        return "".join(list(text))  # a new object, but for one character (CPython keeps those)
    if variant == 2:
        return Name(text)
    return "".join(list(text)) if variant == 3 else (None if variant == 4 else len(text))


def decode_binding(data):
    """(method, bound, raw, positional count, keyword names) of a binding input.

    data[0] picks the method; data[1] holds bound (bit 0, as 0 or 1), raw vectorcall (bit 1, when
    _testcapi is there) and the number of positional values including self (bits 2-4, modulo 5);
    then a pair of bytes a keyword, four at most: the name, and how it is made (keyword_name).
    """
    data = bytes(data) + bytes(2 - min(len(data), 2))
    method = METHOD_NAMES[data[0] % len(METHOD_NAMES)]
    raw = bool(data[1] & 2) and _testcapi is not None
    names = []
    for i in range(2, min(len(data) - 1, 10), 2):
        name = keyword_name(KEYWORDS[data[i] % len(KEYWORDS)], data[i + 1] % 6, raw)
        # Keywords naming one parameter twice bind the later one: not Python's rule. Compared by
        # ==, which leaves an unhashed name unhashed.
        if not any(isinstance(old, str) == isinstance(name, str) and old == name for old in names):
            names.append(name)
    return method, data[1] & 1, raw, (data[1] >> 2) % 5, names


def call(function, values, n, names, bound, raw):
    """function(*values[:n], **dict(zip(names, values[n:]))), as a bound method of values[0] when
    `bound`; (True, result) or (False, exception)."""
    if bound:
        function = types.MethodType(function, values[0]) if isinstance(function, types.FunctionType) else \
            getattr(values[0], function.__name__)
    args = values[bound:n] if n else []
    kwvalues = values[n:n + len(names)]
    try:
        if raw:
            return True, _testcapi.pyobject_vectorcall(function, tuple(args + kwvalues), tuple(names))
        return True, function(*args, **dict(zip(names, kwvalues)))
    except Exception as exc:  # noqa: BLE001 - the failure itself is compared
        return False, exc


def bound_by_module(method, values, result):
    """The values the module bound, as far as the call shows them: {parameter: value}."""
    by_number = {v.number: v for v in values}
    if method == "Filter":
        return {"string": LOG[0], "substr": LOG[1]}
    if method in ("get_episodes", "get_sequences", "get_shots"):
        return {"project_name": result[0]}
    if method == "get_project":
        return {"project_name": result["name"]}
    if method == "get_person_by_name":
        return {"person_name": result[1]}
    if method == "load_json":
        return {"json_file": by_number[result["number"]]}
    if method == "__init__":
        (self,) = [v for v in values if "host_url" in vars(v)]
        return {"self": self, "crenditial": by_number[self.host_url]}
    return {}  # the others show nothing of their values


def check_binding(data):
    method, bound, raw, n, names = decode_binding(data)
    params, line = METHODS[method]
    values = []
    for number in range(VALUE_COUNT):
        value = Value.__new__(Value)
        value.number, value.path = number, os.path.join(folder(), f"{number}.json")
        values.append(value)
    n = max(n, bound)  # a bound method has its self
    expected_ok, expected = call(PLAIN[method], values, n, names, bound, raw)
    del LOG[:]
    ok, got = call(getattr(Prod, method), values, n, names, bound, raw)
    case = f"{'p.' if bound else 'Prod.'}{method}: {n} positional, keywords {names!r}{' (raw)' if raw else ''}"
    if not expected_ok:
        assert type(expected) is TypeError, f"{case}: the plain function raised {expected!r}"
        assert not ok and type(got) is TypeError, f"{case}: {got!r}, not a TypeError"
        assert module_entries(got) == [(f"tessavor.prod.Prod.{method}", line)], f"{case}: {module_entries(got)}"
        if all(isinstance(name, str) for name in names):
            message = binding_error(method, n, [str(name) for name in names])
            assert str(got) == message, f"{case}: {got!r}, not {message!r}"
        return
    assert ok, f"{case}: raised {got!r}, where the plain function bound {expected!r}"
    want = dict(zip(params, expected))
    for param, value in bound_by_module(method, values, got).items():
        assert value is want[param], f"{case}: {param} bound to value {value.number}, not {want[param].number}"


# ---------------------------------------------------------------------------------------------
# load_json

def outcome(function, *args):
    try:
        return True, function(*args)
    except Exception as exc:  # noqa: BLE001 - the failure itself is compared
        return False, exc


def check_load_json(data):
    document = os.path.join(folder(), "document.json")
    with open(document, "wb") as f:
        f.write(data)
    with open(document) as f:
        expected_ok, expected = outcome(json.load, f)
    ok, got = outcome(Prod.load_json, None, document)
    case = f"load_json of {bytes(data)!r}"
    assert ok == expected_ok, f"{case}: {got!r}, not {expected!r}"
    if ok:
        assert type(got) is type(expected) and repr(got) == repr(expected), f"{case}: {got!r}, not {expected!r}"
    else:
        assert (type(got), str(got)) == (type(expected), str(expected)), f"{case}: {got!r}, not {expected!r}"
        entries = module_entries(got)
        assert entries == [("tessavor.prod.Prod.load_json", 23), ("tessavor.prod.Prod.load_json", 24)], \
            f"{case}: entries {entries}"


# ---------------------------------------------------------------------------------------------

TARGETS = [check_filter, check_binding, check_load_json]
DECODERS = [decode_filter, decode_binding, lambda data: bytes(data)]


def test_one_input(data):
    if data:
        TARGETS[data[0] % len(TARGETS)](data[1:])


def inputs(paths):
    for path in paths:
        if os.path.isdir(path):
            yield from (os.path.join(path, name) for name in sorted(os.listdir(path)))
        else:
            yield path


def main(argv):
    tessavor.prod.gazu = ECHO_GAZU  # the module reads gazu afresh at each call
    if argv[1:2] == ["--plan"]:
        number = int(argv[2])
        FILTER_PLANS[:] = [None, None if number < 0 else PLANS[number]]
        del argv[1:3]
    if argv[1:2] == ["--show"]:
        for path in argv[2:]:
            with open(path, "rb") as f:
                data = f.read()
            if data:
                target = data[0] % len(TARGETS)
                print(f"{path}: {TARGETS[target].__name__[6:]}", repr(DECODERS[target](data[1:])))
        return 0
    if probe is None:  # tests/matcher_support.py lets the suite on an installed wheel go without it
        sys.exit("tools/fuzz.py: no _tessavor_probe: the module must be the test build's")
    if argv[1:2] == ["--replay"]:
        count = 0
        for path in inputs(argv[2:]):
            with open(path, "rb") as f:
                test_one_input(f.read())
            count += 1
        print(f"{count} inputs replayed")
        return 0
    import atheris

    atheris.Setup(argv, test_one_input)
    atheris.Fuzz()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
