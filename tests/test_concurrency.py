"""Eight threads call every method on shared objects while others mutate, rebind and delete them."""
import json
import random
import sys
import threading
import time
import types

RUN_FOR, MAX_CALLS, CALLERS = 2.0, 4000, 8
PARTS = ["an", "om", "\U0001f600"]


class Record(dict):
    def __getitem__(self, key):  # lets other threads run
        time.sleep(0)
        return dict.__getitem__(self, key)


class SlowStr(str):
    def __contains__(self, part):
        time.sleep(0)
        return str.__contains__(self, part)


ITEMS = [SlowStr("sh010_anim"), "sh020_comp", SlowStr("sh030_lay"), "x\U0001f600", "lay", SlowStr("roman")]


def substitute(tag, listing):
    """A gazu whose every listing returns the very list object `listing`."""
    found, walk = (lambda name: (tag, name)), (lambda *project: (time.sleep(0), listing)[1])
    space = types.SimpleNamespace
    return space(set_host=id, set_event_host=id, log_in=lambda login, password: None,
                 user=space(all_tasks_to_do=lambda: ("tasks", tag)),
                 person=space(all_persons=lambda: ("persons", tag), get_person_by_full_name=found),
                 project=space(all_projects=walk, get_project_by_name=found),
                 shot=space(all_episodes_for_project=walk, all_sequences_for_project=walk, all_shots_for_project=walk))


def test_methods_under_concurrent_mutation(prod, Prod, tmp_path, monkeypatch):
    # Records of each substitute, half exact dicts; the names are unique to their pool.
    pools = {tag: [(Record if i % 2 else dict)(name=f"{tag}{i}") for i in range(12)] for tag in "AB"}
    name_ids = {tag: {id(r["name"]) for r in records} for tag, records in pools.items()}
    lists = {tag: records[:4] for tag, records in pools.items()}
    gazus = [substitute(tag, lists[tag]) for tag in "AB"]
    credentials = {"host_url": "h", "event_url": "e", "login_id": "l", "password": "p"}
    path = tmp_path / "credentials.json"
    path.write_text(json.dumps(credentials))
    path = str(path)
    fixed = dict(credentials)  # what the substitute json answers
    fake_json = types.SimpleNamespace(load=lambda f: (f.read(), time.sleep(0), fixed)[2])
    monkeypatch.setattr(prod, "gazu", gazus[0])
    monkeypatch.setattr(prod, "json", json)
    strings, substrs = [list(ITEMS), ITEMS[:3]], [list(PARTS), ["om"]]
    inputs = [strings[0], substrs[0]]  # swapped between the lists above
    deleted = {"gazu": 0, "json": 0}  # odd while the global is deleted
    shared = [Prod.__new__(Prod), Prod.__new__(Prod)]
    stop, errors, barrier = threading.Event(), [], threading.Barrier(CALLERS + 4)

    def check(method, result):
        if method in ("get_projects", "get_episodes", "get_sequences", "get_shots"):
            assert type(result) is list, result  # the very names of one listing's records
            assert any({id(x) for x in result} <= name_ids[tag] for tag in "AB"), result
        elif method in ("get_tasks", "get_persons"):
            assert result in [(method[4:], tag) for tag in "AB"], result
        elif method in ("get_project", "get_person_by_name"):
            assert result in [(tag, "sh") for tag in "AB"], result
        elif method == "load_json":  # the substitute's answer, or what the real json parses
            assert result is fixed or result == credentials, result
        elif method == "__init__":
            assert result is None
        else:
            assert type(result) is list, result
            assert all(any(x is item for item in ITEMS) for x in result), result
            assert all(any(part in str(x) for part in PARTS) for x in result), result

    def caller(k):
        rng, p = random.Random(k), shared[k % 2]
        calls = [
            ("__init__", lambda: p.__init__(path)), ("load_json", lambda: Prod.load_json(None, path)),
            ("get_tasks", p.get_tasks), ("get_persons", lambda: Prod.get_persons(None)),
            ("get_projects", p.get_projects), ("get_episodes", lambda: p.get_episodes("sh")),
            ("get_sequences", lambda: Prod.get_sequences(p, "sh")), ("get_shots", lambda: p.get_shots("sh")),
            ("get_person_by_name", lambda: p.get_person_by_name("sh")), ("get_project", lambda: p.get_project("sh")),
            ("Filter", lambda: p.Filter(*inputs)), ("Filter", lambda: p.Filter(inputs[0], iter(inputs[1]))),
        ]
        for _ in range(MAX_CALLS):
            if stop.is_set():
                break
            (method, call), before = rng.choice(calls), dict(deleted)
            try:
                check(method, call())
            except NameError as exc:  # allowed only if the name was deleted at some time during the call
                name = str(exc).split("'")[1]
                if name not in before or not (before[name] % 2 or deleted[name] != before[name]):
                    errors.append((method, "NameError while defined", exc))
            except Exception as exc:  # noqa: BLE001 - collected, reported below
                errors.append((method, type(exc).__name__, exc))

    def mutate_lists(rng):
        tag = rng.choice("AB")
        for target, records in [(lists[tag], pools[tag]), (rng.choice(strings), ITEMS)]:
            action = rng.randrange(4) if len(target) < 20 else 0
            if action == 0:
                target.clear()
            elif action == 1 and target:
                target.pop(rng.randrange(len(target)))
            else:
                target.append(rng.choice(records)) if action == 2 else target.extend(rng.sample(records, 3))
        rng.choice(substrs)[:] = rng.sample(PARTS, rng.randrange(len(PARTS) + 1))

    def rebind(rng, name, choices):
        setattr(prod, name, rng.choice(choices))
        if rng.random() < 0.2:
            deleted[name] += 1
            delattr(prod, name)
            time.sleep(0)
            setattr(prod, name, choices[0])
            deleted[name] += 1

    def swap_inputs(rng):  # one slice assignment: a caller sees the old pair or the new one
        inputs[:] = [rng.choice(strings), rng.choice(substrs)]

    def loop(step, *args):
        rng = random.Random(repr(args))
        while not stop.is_set():
            step(rng, *args)
            time.sleep(0)

    def guarded(body, *args):
        try:
            barrier.wait(timeout=30)
            body(*args)
        except BaseException as exc:  # noqa: BLE001 - a dying thread is a failure too
            errors.append((body.__name__, type(exc).__name__, exc))

    jobs = [(caller, k) for k in range(CALLERS)] + [(loop, mutate_lists), (loop, swap_inputs),
                                                    (loop, rebind, "gazu", gazus), (loop, rebind, "json", [json, fake_json])]
    threads = [threading.Thread(target=guarded, args=job, daemon=True) for job in jobs]
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        for thread in threads:
            thread.start()
        end = time.monotonic() + RUN_FOR
        for thread in threads[:CALLERS]:
            thread.join(timeout=max(0.0, end - time.monotonic()))
        stop.set()
        end = time.monotonic() + 60
        for thread in threads:
            thread.join(timeout=max(0.0, end - time.monotonic()))
    finally:
        stop.set()
        sys.setswitchinterval(interval)
    assert [t.name for t in threads if t.is_alive()] == []
    assert errors == []
