"""Allocation failures, injected one at a time: MemoryError or the right answer, nothing else."""
import json

import pytest

from conftest import run_python

SWEEP = """
import json, _testcapi
import tessavor.prod
Prod = tessavor.prod.Prod
p = Prod.__new__(Prod)

class Parts(list):  # not an exact list: each item's test calls iter() on it
    pass

NAMES = ['sh010_anim', 'sh020_comp', 'sh030_anim', 'x', 'ANIM'] * 3

def list_call():
    items, parts = list(NAMES), ['anim', 'comp']
    return lambda: p.Filter(items, parts)

def generator_call():
    items, parts = (s for s in NAMES), Parts(['anim', 'comp'])
    return lambda: p.Filter(items, parts)

SCENARIOS = {
    'list': (list_call, list_call()()),
    'generator': (generator_call, generator_call()()),
    'extra_keyword': (lambda: lambda: p.get_shots(extra=1),
                      "get_shots() takes exactly 2 positional arguments (1 given)"),
    'multiple_values': (lambda: lambda: p.Filter([], [], string=[]),
                        "Filter() got multiple values for keyword argument 'string'"),
}

def sweep(make, expected):
    set_nomemory, remove = _testcapi.set_nomemory, _testcapi.remove_mem_hooks
    attempts = memory_errors = clean_run = 0
    bad = []
    while clean_run <= 20:
        call, outcome = make(), None  # the last outcome's traceback must not die in the window
        set_nomemory(attempts, attempts + 1)
        try:
            outcome = call()
        except BaseException as exc:
            outcome = exc
        finally:
            remove()
        attempts += 1
        if type(outcome) is MemoryError:
            memory_errors += 1
            clean_run = 0
            continue
        clean_run += 1
        if isinstance(expected, str):  # a binding failure: the TypeError is the answer
            correct = type(outcome) is TypeError and str(outcome) == expected
        else:
            correct = type(outcome) is list and outcome == expected
        if not correct:
            bad.append((attempts - 1, repr(outcome)))
    return {'attempts': attempts, 'memory_errors': memory_errors, 'bad': bad}

print(json.dumps({name: sweep(*s) for name, s in SCENARIOS.items()}))
"""


@pytest.fixture(scope="module")
def sweeps():
    proc = run_python(SWEEP)
    assert proc.stderr == ""
    results = json.loads(proc.stdout.strip().splitlines()[-1])
    print({name: r["attempts"] for name, r in results.items()})
    return results


@pytest.mark.parametrize("scenario", ["list", "generator", "extra_keyword", "multiple_values"])
def test_each_failed_allocation_gives_memory_error_or_the_answer(sweeps, scenario):
    result = sweeps[scenario]
    assert result["bad"] == []
    assert result["attempts"] > 10
    assert result["memory_errors"] >= 1
