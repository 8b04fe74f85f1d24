"""The installed package as pip and a user see it: its version and its metadata."""
import importlib.metadata
import pathlib
import re

import tessavor

ROOT = pathlib.Path(__file__).resolve().parent.parent


def test_one_version_everywhere():
    # A release changes pyproject.toml, meson.build and tessavor/__init__.py together.
    pyproject = re.search(r'^version = "([^"]+)"$', (ROOT / "pyproject.toml").read_text(), re.M)
    meson = re.search(r"^\s*version: '([^']+)',$", (ROOT / "meson.build").read_text(), re.M)
    versions = {tessavor.__version__, importlib.metadata.version("tessavor-prod"),
                pyproject.group(1), meson.group(1)}
    assert len(versions) == 1 and re.fullmatch(r"\d+\.\d+\.\d+", tessavor.__version__), versions


def test_metadata_names_its_licence_authors_and_pythons():
    meta = importlib.metadata.metadata("tessavor-prod")
    licence = (ROOT / "LICENSE").read_text()
    assert meta["License"] is not None and meta["License"].split() == licence.split()
    assert "License :: Other/Proprietary License" in meta.get_all("Classifier")
    assert meta["Author"] and set(meta["Requires-Python"].split(",")) == {">=3.10", "<3.14"}
    pythons = {c.rsplit(" ", 1)[-1] for c in meta.get_all("Classifier")
               if re.fullmatch(r"Programming Language :: Python :: 3\.\d+", c)}
    assert pythons == {"3.10", "3.11", "3.12", "3.13"}
