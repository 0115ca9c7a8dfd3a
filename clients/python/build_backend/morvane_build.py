"""A build backend for the morvane package that needs only the standard
library, so that pip builds and installs it without fetching a build tool
from a package index (pip's isolated build has none of the system's
packages). It builds what pip asks of a pure-Python project: a wheel, an
editable wheel and a source archive, with their metadata from
pyproject.toml."""
import base64
import hashlib
import io
import os
import tarfile
import tomllib
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGE = "morvane"
# Archive members carry a fixed time stamp: the same sources give the same
# archive.
STAMP = (1980, 1, 1, 0, 0, 0)


def _project():
    with open(os.path.join(ROOT, "pyproject.toml"), "rb") as f:
        return tomllib.load(f)["project"]


def _metadata(p):
    lines = ["Metadata-Version: 2.1", f"Name: {p['name']}", f"Version: {p['version']}",
             f"Summary: {p.get('description', '')}"]
    if "requires-python" in p:
        lines.append(f"Requires-Python: {p['requires-python']}")
    lines += [f"Requires-Dist: {d}" for d in p.get("dependencies", [])]
    for extra, deps in p.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {d}; extra == "{extra}"' for d in deps]
    readme = p.get("readme")
    text = ""
    if readme:
        lines.append("Description-Content-Type: text/markdown")
        with open(os.path.join(ROOT, readme), encoding="utf-8") as f:
            text = f.read()
    return "\n".join(lines) + "\n\n" + text


def _entry_points(p):
    scripts = p.get("scripts", {})
    if not scripts:
        return None
    return "[console_scripts]\n" + "".join(f"{k} = {v}\n" for k, v in scripts.items())


def _dist_info(p):
    return f"{p['name']}-{p['version']}.dist-info"


def _package_files():
    for folder, dirs, files in os.walk(os.path.join(ROOT, PACKAGE)):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for name in sorted(files):
            if name.endswith(".py"):
                path = os.path.join(folder, name)
                yield os.path.relpath(path, ROOT).replace(os.sep, "/"), path


def _write_wheel(directory, members):
    """members: (archive name, bytes). Adds the dist-info files and RECORD."""
    p = _project()
    info = _dist_info(p)
    members = list(members)
    members.append((f"{info}/METADATA", _metadata(p).encode()))
    members.append((f"{info}/WHEEL", b"Wheel-Version: 1.0\nGenerator: morvane_build\n"
                                     b"Root-Is-Purelib: true\nTag: py3-none-any\n"))
    entry_points = _entry_points(p)
    if entry_points:
        members.append((f"{info}/entry_points.txt", entry_points.encode()))
    record = io.StringIO()
    for name, data in members:
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        record.write(f"{name},sha256={digest},{len(data)}\n")
    record.write(f"{info}/RECORD,,\n")
    members.append((f"{info}/RECORD", record.getvalue().encode()))
    filename = f"{p['name']}-{p['version']}-py3-none-any.whl"
    with zipfile.ZipFile(os.path.join(directory, filename), "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in members:
            entry = zipfile.ZipInfo(name, STAMP)
            entry.external_attr = 0o644 << 16
            z.writestr(entry, data, zipfile.ZIP_DEFLATED)
    return filename


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    def read(path):
        with open(path, "rb") as f:
            return f.read()
    return _write_wheel(wheel_directory, ((name, read(path)) for name, path in _package_files()))


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    # The sources stay where they are: a .pth file puts their folder on
    # the path.
    return _write_wheel(wheel_directory, [(f"_{PACKAGE}_editable.pth", (ROOT + "\n").encode())])


def build_sdist(sdist_directory, config_settings=None):
    p = _project()
    base = f"{p['name']}-{p['version']}"
    names = ["pyproject.toml", "README.md", "build_backend/morvane_build.py"]
    names += [name for name, _ in _package_files()]
    filename = f"{base}.tar.gz"
    path = os.path.join(sdist_directory, filename)
    with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as t:
        for name in names:
            entry = t.gettarinfo(os.path.join(ROOT, name), f"{base}/{name}")
            entry.mtime, entry.uid, entry.gid, entry.uname, entry.gname = 315532800, 0, 0, "", ""
            with open(os.path.join(ROOT, name), "rb") as f:
                t.addfile(entry, f)
        pkg_info = _metadata(p).encode()
        entry = tarfile.TarInfo(f"{base}/PKG-INFO")
        entry.size, entry.mtime, entry.mode = len(pkg_info), 315532800, 0o644
        t.addfile(entry, io.BytesIO(pkg_info))
    return filename
