# The commands a new user types: `make demo`, `make test`.
# Everything goes into .venv (and .venv-asan for the sanitizer run), made
# with CPython 3.10: the first python3.10 on PATH that runs, else the newest
# 3.10 under pyenv's versions folder.

SHELL := /bin/bash

PYENV_VERSIONS := $(shell root=$$(pyenv root 2>/dev/null || echo "$${PYENV_ROOT:-$$HOME/.pyenv}"); \
	ls -d "$$root"/versions/3.10.*/bin/python3.10 2>/dev/null | sort -V -r)
PYTHON310 ?= $(shell for p in $$(command -v python3.10 2>/dev/null) $(PYENV_VERSIONS); do \
	"$$p" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 10))' 2>/dev/null && { echo "$$p"; break; }; done)

SOURCES := meson.build pyproject.toml $(wildcard module/*.cpp module/*.hpp tracker/*.cpp tracker/*.hpp tessavor/*)
TEST_DEPS := pytest hypothesis mypy

VENV := .venv
ASAN_VENV := .venv-asan

SANITIZE_ARGS := -Csetup-args=-Db_sanitize=address,undefined -Csetup-args=-Db_lundef=false \
	-Csetup-args=-Dcpp_args=-fno-sanitize-recover=all -Csetup-args=-Dbuildtype=debugoptimized
ASAN_ENV = LD_PRELOAD="$$($(CXX) -print-file-name=libasan.so)" \
	ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:abort_on_error=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

CXX ?= g++

.PHONY: test test-asan test-valgrind demo bench clean check-python check-wheel format

test: $(VENV)/.installed
	$(VENV)/bin/pytest tests

# The main job: the quickstart against the stand-in tracker.
demo: $(VENV)/.installed
	$(VENV)/bin/python examples/demo.py

test-asan: $(ASAN_VENV)/.installed
	$(ASAN_ENV) $(ASAN_VENV)/bin/pytest -p no:cacheprovider tests

# Memcheck over the in-process tests (about 3 minutes); see valgrind/run.sh.
test-valgrind: $(VENV)/.installed
	valgrind/run.sh $(VENV)/bin/python

check-python:
	@if [ -z "$(PYTHON310)" ]; then \
		echo "error: CPython 3.10 not found: put python3.10 on PATH or install it with pyenv" >&2; \
		exit 1; \
	fi

# A venv with the build tools and the test tools; redone when pyproject changes.
%/.tools: pyproject.toml | check-python
	rm -rf $*
	$(PYTHON310) -m venv $*
	$*/bin/python -m pip install --quiet --upgrade pip
	$*/bin/python -m pip install --quiet meson-python meson ninja $(TEST_DEPS)
	# The repo root goes after site-packages, so that `devtracker` imports
	# from anywhere while `tessavor` is always the installed, built package.
	echo "$(CURDIR)" > $$($*/bin/python -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')/tessavor-dev.pth
	touch $@

$(VENV)/.installed: $(VENV)/.tools $(SOURCES)
	mkdir -p build && PATH="$(CURDIR)/$(VENV)/bin:$$PATH" flock build/.lock $(VENV)/bin/python -m pip install --quiet --no-build-isolation -Cbuild-dir=build/release .
	touch $@

$(ASAN_VENV)/.installed: $(ASAN_VENV)/.tools $(SOURCES)
	mkdir -p build && PATH="$(CURDIR)/$(ASAN_VENV)/bin:$$PATH" flock build/.lock $(ASAN_VENV)/bin/python -m pip install --quiet --no-build-isolation -Cbuild-dir=build/asan \
		$(SANITIZE_ARGS) .
	touch $@

clean:
	rm -rf build $(VENV) $(ASAN_VENV)

# A cp310 wheel built the way an end user's pip builds it (isolated build
# environment), installed into a fresh venv and imported there.
check-wheel: check-python
	rm -rf dist build/wheel-venv
	$(PYTHON310) -m pip wheel --quiet --no-deps -w dist .
	ls dist/tessavor_prod-*-cp310-cp310-*.whl
	$(PYTHON310) -m venv build/wheel-venv
	build/wheel-venv/bin/python -m pip install --quiet dist/tessavor_prod-*.whl
	cd build && wheel-venv/bin/python -c "import tessavor.prod as m; \
		assert m.Prod.Filter(None, ['a1', 'b2'], ['1']) == ['a1']; print('wheel ok:', m.__file__)"

# Formats the C++ sources with the root .clang-format (clang-format from PyPI).
format: $(VENV)/.tools
	$(VENV)/bin/python -m pip install --quiet clang-format
	$(VENV)/bin/clang-format -i module/*.cpp module/*.hpp tracker/*.cpp tracker/*.hpp

# Side-by-side benchmark (see bench/bench.py); never part of the tests.
bench: $(VENV)/.installed
	$(VENV)/bin/python bench/bench.py
