"""The fuzzer's seeds and findings (tests/fuzz_corpus), each run once through tools/fuzz.py's checks
against the build under test; and those checks catching a module that answers wrong."""
import codecs
import json
import locale
import os
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "tests", "fuzz_corpus")
sys.path.insert(0, os.path.join(ROOT, "tools"))

import fuzz  # noqa: E402


def corpus(name):
    with open(os.path.join(CORPUS, name), "rb") as f:
        return f.read()


@pytest.fixture
def echo_gazu(prod, monkeypatch):
    monkeypatch.setattr(prod, "gazu", fuzz.ECHO_GAZU)


@pytest.mark.parametrize("name", sorted(os.listdir(CORPUS)))
def test_input_agrees_with_python(echo_gazu, name):
    fuzz.test_one_input(corpus(name))


class WrongProbe:
    """The matcher's answers, but made up in Python: copies of the items, or a refusal of parts
    that window hashing serves."""

    def __init__(self, copies):
        self.copies = copies

    def filter(self, items, parts, plan):
        if not self.copies and plan and plan["way"] == "windows":
            raise ValueError("the plan's way does not serve these parts")
        return [item[:1] + item[1:] if self.copies else item for item in fuzz.model(items, parts)]


class WrongProd:
    """Methods with Prod's parameters that answer wrong: Filter loses its last match, get_shots
    hands gazu its self, load_json reads the file in an encoding other than the locale's (Latin-1
    where the locale's is UTF-8, as on Linux; UTF-8 where it is a code page, as on Windows)."""

    def Filter(self, string, substr):
        return fuzz.model(string, substr)[:-1]

    def get_shots(self, project_name):
        return [self]

    def load_json(self, json_file):
        utf8 = codecs.lookup(locale.getpreferredencoding(False)).name == "utf-8"
        with open(json_file, encoding="latin-1" if utf8 else "utf-8") as f:
            return json.load(f)


@pytest.mark.parametrize("name, attribute, wrong, message", [
    ("filter-names", "Prod", WrongProd, "Filter"),
    ("filter-names", "probe", WrongProbe(copies=True), "under plan"),
    ("filter-names", "probe", WrongProbe(copies=False), "refused"),
    ("binding-get-shots-by-name", "Prod", WrongProd, "project_name bound to value 0, not 1"),
    ("json-bad-bytes", "Prod", WrongProd, "load_json of"),
])
def test_a_wrong_answer_is_caught(echo_gazu, monkeypatch, name, attribute, wrong, message):
    monkeypatch.setattr(fuzz, attribute, wrong)
    with pytest.raises(AssertionError, match=message):
        fuzz.test_one_input(corpus(name))
