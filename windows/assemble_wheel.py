"""Assembles the cp3XX-win_amd64 wheel of CPython VERSION from a meson cross build.

meson-python tags a wheel for the interpreter that runs the build, which is
never the Windows one here, so this writes the wheel itself: the files of
meson's install plan (all but the development files), the metadata that
meson-python would write from pyproject.toml, a WHEEL file for a platform
wheel and a RECORD with hashes. Entries are sorted and dated 1980-01-01, so
the same build gives the same wheel, byte for byte.

    python assemble_wheel.py VERSION BUILD_DIR OUTPUT_DIR

VERSION (e.g. 3.12) gives the wheel's tag, cp312-cp312-win_amd64; the build
must be one for that version, whose extension module carries the same tag.

Prints the path of the wheel it wrote.
"""
import base64
import hashlib
import json
import os
import subprocess
import sys
import zipfile

import pyproject_metadata

if sys.version_info >= (3, 11):
    import tomllib
else:  # meson-python brings tomli where the standard library has no TOML reader
    import tomli as tomllib

ZIP_DATE = (1980, 1, 1, 0, 0, 0)
PROJECT_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def installed_files(build_dir):
    """(wheel path, file on disk) for each runtime file meson would install."""
    plan = json.loads(subprocess.run(
        [sys.executable, "-m", "mesonbuild.mesonmain", "introspect", build_dir, "--install-plan"],
        check=True, capture_output=True, text=True).stdout)
    files = []
    for section in plan.values():
        for source, entry in section.items():
            if entry.get("tag") == "devel":
                continue
            destination = entry["destination"]
            if destination.startswith("{prefix}/"):
                destination = destination[len("{prefix}/"):]
            files.append((destination, source))
    return sorted(files)


def record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def main(version, build_dir, output_dir):
    python_tag = "cp" + version.replace(".", "")
    tag = f"{python_tag}-{python_tag}-win_amd64"
    with open(os.path.join(PROJECT_DIR, "pyproject.toml"), "rb") as f:
        metadata = pyproject_metadata.StandardMetadata.from_pyproject(tomllib.load(f), PROJECT_DIR)
    name = metadata.canonical_name.replace("-", "_")
    dist_info = f"{name}-{metadata.version}.dist-info"
    wheel_text = ("Wheel-Version: 1.0\n"
                  "Generator: tessavor windows/assemble_wheel.py\n"
                  "Root-Is-Purelib: false\n"
                  f"Tag: {tag}\n")

    entries = []
    extensions = [path for path, _ in installed_files(build_dir) if path.endswith(".pyd")]
    if extensions != [f"tessavor/prod.{python_tag}-win_amd64.pyd"]:
        sys.exit(f"assemble_wheel: a build for {version} installs tessavor/prod.{python_tag}"
                 f"-win_amd64.pyd alone, this one installs {extensions}")
    for path, source in installed_files(build_dir):
        with open(source, "rb") as f:
            entries.append((path, f.read()))
    entries.append((f"{dist_info}/METADATA", bytes(metadata.as_rfc822())))
    entries.append((f"{dist_info}/WHEEL", wheel_text.encode()))
    record = "".join(record_line(path, data) + "\n" for path, data in entries)
    entries.append((f"{dist_info}/RECORD", (record + f"{dist_info}/RECORD,,\n").encode()))

    os.makedirs(output_dir, exist_ok=True)
    wheel_path = os.path.join(output_dir, f"{name}-{metadata.version}-{tag}.whl")
    with zipfile.ZipFile(wheel_path, "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in entries:
            info = zipfile.ZipInfo(path, ZIP_DATE)
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    print(wheel_path)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
