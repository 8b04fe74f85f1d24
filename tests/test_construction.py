"""Prod.__init__: the record and its values on the instance, the gazu calls, their order, failures."""
import json

import pytest

from conftest import module_entries

INIT, LOAD = "tessavor.prod.Prod.__init__", "tessavor.prod.Prod.load_json"
KEYS = ["host_url", "event_url", "login_id", "password"]
RECORD = {"host_url": "http://t/api", "event_url": "http://t/events", "login_id": "ann@t",
          "password": {"pin": [1, 2]}, "extra": None}


class Gazu:
    """Logs its attribute reads and calls; `missing` names are absent, `raises` maps names to exceptions."""

    def __init__(self, log=None, missing=(), raises=None):
        self.log, self.missing, self.raises = [] if log is None else log, missing, raises or {}

    def __getattr__(self, name):
        self.log.append(("attr", name))
        if name in self.missing:
            raise AttributeError(f"no {name}")

        def function(*args, **kwargs):
            self.log.append(("call", name, args, kwargs))
            if name in self.raises:
                raise self.raises[name]
            return "ignored result"
        return function

    def calls(self):
        return [entry[1:] for entry in self.log if entry[0] == "call"]


def credentials(tmp_path, document=RECORD):
    (tmp_path / "cred.json").write_text(json.dumps(document))
    return str(tmp_path / "cred.json")


@pytest.mark.parametrize("construct", [lambda P, path: P(path), lambda P, path: P(crenditial=path)])
def test_keeps_the_record_and_logs_in(prod, Prod, monkeypatch, tmp_path, construct):
    monkeypatch.setattr(prod, "gazu", Gazu())
    instance = construct(Prod, credentials(tmp_path))
    record = instance.crenditial
    assert list(vars(instance)) == ["crenditial", *KEYS] and record == RECORD
    assert all(vars(instance)[key] is record[key] for key in KEYS)
    calls = prod.gazu.calls()
    assert calls == [("set_host", (RECORD["host_url"],), {}), ("set_event_host", (RECORD["event_url"],), {}),
                     ("log_in", (RECORD["login_id"], RECORD["password"]), {})]
    assert all(arg is record[key] for arg, key in zip([a for c in calls for a in c[1]], KEYS))
    assert Prod.__init__(instance, credentials(tmp_path)) is None


def test_evaluation_order_within_statements(prod, Prod, monkeypatch):
    log = []

    class Record:  # a mapping that is not a dict
        def __getitem__(self, key):
            log.append(("item", key))
            return RECORD[key]

    class Watched(Prod):
        def load_json(self, *args, **kwargs):
            log.append(("load_json", args, kwargs))
            return Record()

        def __getattribute__(self, name):
            if name == "crenditial":
                log.append("read crenditial")
            return super().__getattribute__(name)

        def __setattr__(self, name, value):
            log.append(("set", name))
            super().__setattr__(name, value)

    monkeypatch.setattr(prod, "gazu", Gazu(log))
    Watched("cred.json")
    read = ["read crenditial"]
    expected = [("load_json", ("cred.json",), {}), ("set", "crenditial")]
    for key in KEYS:
        expected += [*read, ("item", key), ("set", key)]
    expected += [("attr", "set_host"), *read, ("item", "host_url"), ("call", "set_host", ("http://t/api",), {})]
    expected += [("attr", "set_event_host"), *read, ("item", "event_url"),
                 ("call", "set_event_host", ("http://t/events",), {})]
    expected += [("attr", "log_in"), *read, ("item", "login_id"), *read, ("item", "password"),
                 ("call", "log_in", ("ann@t", {"pin": [1, 2]}), {})]
    assert log == expected and log[2:].count("read crenditial") == 8


class Defaults(dict):
    def __missing__(self, key):
        return f"<{key}>"


def test_dict_subclass_record_supplies_missing_keys(prod, Prod, monkeypatch, tmp_path):
    monkeypatch.setattr(prod, "gazu", Gazu())
    instance = type("FromDict", (Prod,), {"load_json": lambda self, path: Defaults(host_url="h")})(
        str(tmp_path / "absent.json"))  # no file is opened
    assert [vars(instance)[key] for key in KEYS] == ["h", "<event_url>", "<login_id>", "<password>"]
    assert prod.gazu.calls() == [("set_host", ("h",), {}), ("set_event_host", ("<event_url>",), {}),
                                 ("log_in", ("<login_id>", "<password>"), {})]


def refusing(attribute, fallback):
    """A __getattribute__ or __setattr__ that raises for one name and defers to `fallback` for the others."""
    def hook(self, name, *value):
        if name == attribute:
            raise AttributeError(f"refused {name}")
        return fallback(self, name, *value)
    return hook


NO_FILE, SET = "no such file", ["crenditial", *KEYS]
LOGGED_IN = ["attr set_host", "call set_host", "attr set_event_host", "call set_event_host", "attr log_in", "call log_in"]
# document in the file, class attributes of a Prod subclass, gazu (None: deleted); exception, args,
# entries, attributes set on the instance, gazu attribute reads and calls
FAILURES = [
    (NO_FILE, {}, {}, FileNotFoundError, (2, "No such file or directory"), [(INIT, 8), (LOAD, 23)], [], []),
    ({k: RECORD[k] for k in KEYS[:3]}, {}, {}, KeyError, ("password",), [(INIT, 13)], SET[:4], []),
    ([1, 2], {}, {}, TypeError, ("list indices must be integers or slices, not str",), [(INIT, 10)], SET[:1], []),
    (RECORD, {}, None, NameError, ("name 'gazu' is not defined",), [(INIT, 15)], SET, []),
    (RECORD, {}, {"missing": ["set_event_host"]}, AttributeError, ("no set_event_host",), [(INIT, 16)], SET,
     LOGGED_IN[:3]),
    (RECORD, {}, {"raises": {"log_in": ConnectionError("denied")}}, ConnectionError, ("denied",), [(INIT, 17)], SET,
     LOGGED_IN),
    (RECORD, {"load_json": None}, {}, TypeError, ("'NoneType' object is not callable",), [(INIT, 8)], [], []),
    (RECORD, {"__getattribute__": refusing("load_json", object.__getattribute__)}, {}, AttributeError,
     ("refused load_json",), [(INIT, 8)], [], []),
    (RECORD, {"__setattr__": refusing("crenditial", object.__setattr__)}, {}, AttributeError,
     ("refused crenditial",), [(INIT, 8)], [], []),
    (RECORD, {"__setattr__": refusing("event_url", object.__setattr__)}, {}, AttributeError,
     ("refused event_url",), [(INIT, 11)], SET[:2], []),
]


@pytest.mark.parametrize("document, body, gazu, exc, args, entries, attributes, trail", FAILURES)
def test_failures_stop_construction(prod, Prod, monkeypatch, tmp_path, document, body, gazu, exc, args, entries,
                                    attributes, trail):
    if gazu is None:
        monkeypatch.delattr(prod, "gazu")
    else:
        monkeypatch.setattr(prod, "gazu", Gazu(**gazu))
    cls = type("Sub", (Prod,), body)
    instance = cls.__new__(cls)
    with pytest.raises(exc) as info:
        instance.__init__(str(tmp_path / "absent.json") if document is NO_FILE else credentials(tmp_path, document))
    assert type(info.value) is exc and info.value.args == args
    assert module_entries(info.value) == entries
    assert list(vars(instance)) == attributes
    assert [f"{kind} {name}" for kind, name, *_ in getattr(prod, "gazu", Gazu()).log] == trail
