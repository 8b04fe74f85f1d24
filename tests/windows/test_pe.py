"""The Windows build as Windows and pip see it: PE headers, exports, imports, the wheel.

Run by `make check-windows PYTHON=3.1X`, which names the files in the environment:
TESSAVOR_WINDOWS_PYTHON (the version, e.g. 3.12), TESSAVOR_PYD (the built .pyd),
TESSAVOR_PYD_REBUILT (the same sources built again in another folder), TESSAVOR_PYTHON_DLL (the
official python3XX.dll, in the runtime folder of windows/runtime.py) and TESSAVOR_WHEEL.
"""
import base64
import csv
import hashlib
import io
import os
import re
import subprocess
import zipfile

import pefile
import pytest

VERSION, PYD, REBUILT, PYTHON_DLL, WHEEL = (os.environ[name] for name in (
    "TESSAVOR_WINDOWS_PYTHON", "TESSAVOR_PYD", "TESSAVOR_PYD_REBUILT", "TESSAVOR_PYTHON_DLL",
    "TESSAVOR_WHEEL"))
PYTAG = "cp" + VERSION.replace(".", "")
DLL_NAME = f"python{VERSION.replace('.', '')}.dll"
WHEEL_PYD = f"tessavor/prod.{PYTAG}-win_amd64.pyd"
WINDOWS_DIR = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "windows")
VERSION_DIR = os.path.join(WINDOWS_DIR, VERSION)


def load(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"],
                                           pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    return pe


@pytest.fixture(scope="module")
def pyd():
    return load(PYD)


def imports(pe):
    return {entry.dll.decode().lower(): [imp.name.decode() for imp in entry.imports]
            for entry in pe.DIRECTORY_ENTRY_IMPORT}


def test_headers(pyd):
    flags = pefile.DLL_CHARACTERISTICS
    header = pyd.OPTIONAL_HEADER
    assert pyd.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]
    assert header.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS
    assert pyd.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_DLL"]
    wanted = ["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE", "IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA",
              "IMAGE_DLLCHARACTERISTICS_NX_COMPAT"]
    assert [name for name in wanted if not header.DllCharacteristics & flags[name]] == []
    # As an MSVC-built extension: a GUI-subsystem DLL for Windows Vista (6.0) and later.
    assert (header.Subsystem, header.MajorSubsystemVersion, header.MinorSubsystemVersion,
            header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion) == \
        (pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"], 6, 0, 6, 0)


def test_only_pyinit_prod_is_exported(pyd):
    assert [s.name for s in pyd.DIRECTORY_ENTRY_EXPORT.symbols] == [b"PyInit_prod"]


def test_files_are_those_of_the_version():
    assert os.path.basename(PYD) == os.path.basename(REBUILT) == f"prod.{PYTAG}-win_amd64.pyd"
    assert os.path.basename(PYTHON_DLL) == DLL_NAME
    assert os.path.basename(WHEEL).endswith(f"-{PYTAG}-{PYTAG}-win_amd64.whl")


def test_imports_only_python_kernel32_and_the_ucrt(pyd):
    def allowed(dll):
        return (dll in (DLL_NAME, "kernel32.dll", "ucrtbase.dll")
                or dll.startswith("api-ms-win-crt-"))
    assert [dll for dll in imports(pyd) if not allowed(dll)] == []


def test_every_python_import_is_exported_by_the_official_dll(pyd):
    exported = {s.name.decode() for s in load(PYTHON_DLL).DIRECTORY_ENTRY_EXPORT.symbols if s.name}
    wanted = imports(pyd)[DLL_NAME]
    assert wanted and sorted(set(wanted) - exported) == []


def test_def_file_lists_exactly_the_python_imports(pyd):
    # The import library is made from the .def, so a symbol missing there fails the link;
    # this keeps the list from holding symbols the module no longer uses.
    with open(os.path.join(VERSION_DIR, DLL_NAME.replace(".dll", ".def"))) as f:
        lines = [line.split(";")[0].strip() for line in f]
    assert f"LIBRARY {DLL_NAME}" in lines
    listed = lines[lines.index("EXPORTS") + 1:]
    assert sorted(line.split()[0] for line in listed if line) == sorted(imports(pyd)[DLL_NAME])


def test_two_builds_are_byte_identical():
    with open(PYD, "rb") as first, open(REBUILT, "rb") as second:
        assert first.read() == second.read()


def test_wheel_holds_the_pyd_with_a_true_record():
    with zipfile.ZipFile(WHEEL) as wheel, open(PYD, "rb") as f:
        names = wheel.namelist()
        assert wheel.read(WHEEL_PYD) == f.read()
        dist_info = next(n.split("/")[0] for n in names if n.endswith(".dist-info/WHEEL"))
        fields = dict(line.split(": ", 1) for line in
                      wheel.read(f"{dist_info}/WHEEL").decode().splitlines())
        assert (fields["Root-Is-Purelib"], fields["Tag"]) == ("false", f"{PYTAG}-{PYTAG}-win_amd64")
        record = list(csv.reader(io.StringIO(wheel.read(f"{dist_info}/RECORD").decode())))
        assert sorted(row[0] for row in record) == sorted(names)
        for path, digest, size in record:
            if path == f"{dist_info}/RECORD":
                assert (digest, size) == ("", "")
                continue
            data = wheel.read(path)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            assert (digest, int(size)) == (f"sha256={expected}", len(data)), path


LAYOUT_LINE = re.compile(r"^((?:sizeof|offsetof)\([^()]*\)|PyLong_SHIFT) (\d+)$")
ASSERTED = re.compile(r"((?:sizeof|offsetof)\([^()]*\)|PyLong_SHIFT) == (\d+)\b")


def test_layout_checks_hold_the_interpreters_own_numbers():
    """abi_check.cpp and c_types.cpp assert each size and offset that layout_probe.py reads from the official
    interpreter under wine, with the same value, and asserts nothing that the probe does not read."""
    asserted = {}
    for path in (os.path.join(VERSION_DIR, "abi_check.cpp"), os.path.join(WINDOWS_DIR, "c_types.cpp")):
        with open(path) as f:
            for expression, value in ASSERTED.findall(f.read()):
                assert asserted.setdefault(expression, int(value)) == int(value), expression
    run = subprocess.run(
        [os.path.join(WINDOWS_DIR, "wine_python.sh"), os.path.dirname(PYTHON_DLL),
         os.path.join(WINDOWS_DIR, "layout_probe.py")],
        capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
    probed = {m[1]: int(m[2]) for m in map(LAYOUT_LINE.match, run.stdout.splitlines()) if m}
    assert probed, run.stdout
    assert asserted == probed
