"""The Windows build as Windows and pip see it: PE headers, exports, imports, the wheel.

Run by `make check-windows`, which names the files in the environment:
TESSAVOR_PYD (the built .pyd), TESSAVOR_PYD_REBUILT (the same sources built again in another
folder), TESSAVOR_PYTHON_DLL (the official python310.dll) and TESSAVOR_WHEEL.
"""
import base64
import csv
import hashlib
import io
import os
import zipfile

import pefile
import pytest

PYD, REBUILT, PYTHON_DLL, WHEEL = (os.environ[name] for name in (
    "TESSAVOR_PYD", "TESSAVOR_PYD_REBUILT", "TESSAVOR_PYTHON_DLL", "TESSAVOR_WHEEL"))
WHEEL_PYD = "tessavor/prod.cp310-win_amd64.pyd"


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


def test_imports_only_python_kernel32_and_the_ucrt(pyd):
    def allowed(dll):
        return (dll in ("python310.dll", "kernel32.dll", "ucrtbase.dll")
                or dll.startswith("api-ms-win-crt-"))
    assert [dll for dll in imports(pyd) if not allowed(dll)] == []


def test_every_python_import_is_exported_by_python310_dll(pyd):
    exported = {s.name.decode() for s in load(PYTHON_DLL).DIRECTORY_ENTRY_EXPORT.symbols if s.name}
    wanted = imports(pyd)["python310.dll"]
    assert wanted and sorted(set(wanted) - exported) == []


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
        assert (fields["Root-Is-Purelib"], fields["Tag"]) == ("false", "cp310-cp310-win_amd64")
        record = list(csv.reader(io.StringIO(wheel.read(f"{dist_info}/RECORD").decode())))
        assert sorted(row[0] for row in record) == sorted(names)
        for path, digest, size in record:
            if path == f"{dist_info}/RECORD":
                assert (digest, size) == ("", "")
                continue
            data = wheel.read(path)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            assert (digest, int(size)) == (f"sha256={expected}", len(data)), path
