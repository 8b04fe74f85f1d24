"""load_json and Prod() on hostile input: odd bytes and numbers, deep and huge documents, odd paths.

Whatever json.load(open(x)) does with an input, load_json does too: the same value, or the same
exception with the same message. No file descriptor stays open, no file is written.
"""
import codecs
import contextlib
import errno
import hashlib
import json
import locale
import os
import pathlib

import pytest

from conftest import module_entries

DATA = pathlib.Path(__file__).parent / "data"
INIT, LOAD = "tessavor.prod.Prod.__init__", "tessavor.prod.Prod.load_json"
NON_ASCII = "crédits ☃ ü.json"
JSON_ERROR, BAD_TEXT = json.JSONDecodeError, UnicodeDecodeError
WINDOWS = os.name == "nt"

# open() without an encoding decodes with the locale's: UTF-8 on Linux, the ANSI code page on
# Windows (cp1252 in the West), where both files decode, to text that json then parses or not.
TEXT = {
    "utf-8": {"utf16": (BAD_TEXT, [23, 24]), "invalid_utf8": (BAD_TEXT, [23, 24])},
    "cp1252": {"utf16": (JSON_ERROR, [23, 24]), "invalid_utf8": (dict, [])},
}.get(codecs.lookup(locale.getpreferredencoding(False)).name, {})


@pytest.fixture(scope="module")
def made(tmp_path_factory):
    """The inputs too big to check in, made once."""
    folder = tmp_path_factory.mktemp("made")
    (folder / "deep_array.json").write_text("[" * 10_000 + "]" * 10_000)
    (folder / "deep_object.json").write_text('{"a": ' * 10_000 + "0" + "}" * 10_000)
    record = json.loads((DATA / "credentials.json").read_text())
    (folder / "big.json").write_text(json.dumps(dict(record, extra="x" * 50_000_000)))
    (folder / NON_ASCII).write_text(json.dumps(record))
    return folder


def data(name):
    return lambda made: str(DATA / name)


def closed_fd(made):
    fd = os.open(DATA / "credentials.json", os.O_RDONLY)
    os.close(fd)
    return fd


# id: (the argument, made afresh for each call), what json makes of it, load_json's entry lines
SOURCES = {
    "empty": (data("empty.json"), JSON_ERROR, [23, 24]),
    "utf8_bom": (data("bom.json"), JSON_ERROR, [23, 24]),  # text mode: the BOM stays in the text
    "utf16": (data("utf16.json"), *TEXT.get("utf16", (None, None))),
    "invalid_utf8": (data("invalid_utf8.json"), *TEXT.get("invalid_utf8", (None, None))),
    "crlf": (data("crlf.json"), JSON_ERROR, [23, 24]),  # universal newlines: the error's position
    "nan_inf_4300_digits": (data("odd_numbers.json"), dict, []),
    "5000_digits": (data("int_5000.json"), ValueError, [23, 24]),
    "duplicate_keys": (data("duplicate_keys.json"), dict, []),
    "deep_array": (lambda made: str(made / "deep_array.json"), RecursionError, [23, 24]),
    "deep_object": (lambda made: made / "deep_object.json", RecursionError, [23, 24]),
    "50_mb": (lambda made: str(made / "big.json"), dict, []),
    "directory": (str, PermissionError if WINDOWS else IsADirectoryError, [23]),
    "dev_null": (lambda made: os.devnull, JSON_ERROR, [23, 24]),
    "none": (lambda made: None, TypeError, [23]),
    "nul_in_name": (lambda made: str(made / "a\0b.json"), ValueError, [23]),
    "name_too_long": (lambda made: str(made / ("n" * 300)), FileNotFoundError if WINDOWS else OSError, [23]),
    "non_ascii_name": (lambda made: str(made / NON_ASCII), dict, []),
    "bytes_name": (lambda made: os.fsencode(made / NON_ASCII), dict, []),
    "path_object": (lambda made: DATA / "credentials.json", dict, []),
    "fd": (lambda made: os.open(DATA / "credentials.json", os.O_RDONLY), dict, []),
    "fd_of_empty": (lambda made: os.open(DATA / "empty.json", os.O_RDONLY), JSON_ERROR, [23, 24]),
    "closed_fd": (closed_fd, OSError, [23]),
    "negative_fd": (lambda made: -1, ValueError, [23]),
}


def source(name):
    make, kind, lines = SOURCES[name]
    if kind is None:
        pytest.skip(f"no expectation for text decoded as {locale.getpreferredencoding(False)}")
    return make, kind, lines


def json_load(json_file):
    with open(json_file) as data_file:
        return json.load(data_file)


def outcome(function, argument):
    try:
        return function(argument), None
    except Exception as e:
        return None, e


def open_descriptors():
    if not WINDOWS:
        return len(os.listdir("/proc/self/fd"))
    count = 0  # no /proc: probe the C runtime's descriptors
    for fd in range(4096):
        try:
            os.fstat(fd)
        except OSError:
            continue
        count += 1
    return count


@contextlib.contextmanager
def untouched(*folders):
    """Open descriptors, and every file (bytes, mtime) of the folders, are the same afterwards."""
    def state():
        count = open_descriptors()
        return count, {f.name: (hashlib.sha1(f.read_bytes()).hexdigest(), f.stat().st_mtime_ns)
                       for folder in folders for f in folder.iterdir()}
    before = state()
    yield
    assert state() == before


def same_failure(got, expected, kind):
    assert type(got) is type(expected) is kind, (got, expected)
    assert str(got) == str(expected) and got.args == expected.args


class Gazu:
    def __init__(self):
        self.calls = []

    def __getattr__(self, name):
        return lambda *args: self.calls.append((name, args))


@pytest.mark.parametrize("name", SOURCES)
def test_load_json_does_what_json_load_does(p, made, name):
    make, kind, lines = source(name)
    with untouched(DATA, made):
        expected, expected_error = outcome(json_load, make(made))
        argument = make(made)
        got, error = outcome(p.load_json, argument)
    if isinstance(argument, int):  # open(fd) owns the descriptor: closed by the with statement
        with pytest.raises(OSError) as info:
            os.fstat(argument)
        assert info.value.errno == errno.EBADF
    if lines:
        same_failure(error, expected_error, kind)
        assert module_entries(error) == [(LOAD, line) for line in lines]
    else:
        assert error is None and type(got) is type(expected) is kind
        assert repr(got) == repr(expected)  # repr: NaN is unequal to itself, and 1 == 1.0 == True


@pytest.mark.parametrize("name", ["utf8_bom", "utf16", "invalid_utf8", "5000_digits", "nan_inf_4300_digits",
                                  "duplicate_keys", "50_mb", "bytes_name", "path_object", "fd"])
def test_construction(prod, Prod, monkeypatch, made, name):
    make, kind, lines = source(name)
    monkeypatch.setattr(prod, "gazu", Gazu())
    with untouched(DATA, made):
        expected, expected_error = outcome(json_load, make(made))
        instance, error = outcome(Prod, make(made))
    if lines:
        same_failure(error, expected_error, kind)
        assert module_entries(error) == [(INIT, 8)] + [(LOAD, line) for line in lines]
        assert prod.gazu.calls == []
        return
    assert error is None and repr(instance.crenditial) == repr(expected)
    record = instance.crenditial
    assert prod.gazu.calls == [("set_host", (record["host_url"],)), ("set_event_host", (record["event_url"],)),
                               ("log_in", (record["login_id"], record["password"]))]
    handed = [arg for _, args in prod.gazu.calls for arg in args]
    keys = ["host_url", "event_url", "login_id", "password"]
    assert all(arg is record[key] is vars(instance)[key] for arg, key in zip(handed, keys, strict=True))
