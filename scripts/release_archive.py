"""Writes the release archive: every file of the release folder and the administrators' guide
under one top folder, with a SHA256SUMS of its own. The same inputs give the same bytes: entries
in sorted order, each with the commit's time and fixed permissions."""

import hashlib
import sys
import time
import zipfile
from pathlib import Path


def archive_files(dist, guide):
    """(name inside the archive, file) for every file the archive holds but its SHA256SUMS."""
    files = [(str(path.relative_to(dist)), path) for path in dist.rglob("*")
             if path.is_file() and path.name != "SHA256SUMS" and path.suffix != ".zip"]
    files += [(f"docs/admin/{path.name}", path) for path in guide.glob("*.md")]
    return sorted(files)


def write_archive(dist, guide, version, epoch):
    top = f"bios-task-package-{version}"
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip times start in 1980
    files = archive_files(dist, guide)
    sums = "".join(f"{hashlib.sha256(path.read_bytes()).hexdigest()}  {name}\n"
                   for name, path in files)
    out = dist / f"{top}.zip"
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in [(n, p.read_bytes()) for n, p in files] + [("SHA256SUMS", sums.encode())]:
            entry = zipfile.ZipInfo(f"{top}/{name}", date_time=stamp)
            entry.external_attr = 0o644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data)
    return out


if __name__ == "__main__":
    dist, guide, version, epoch = Path(sys.argv[1]), Path(sys.argv[2]), sys.argv[3], int(sys.argv[4])
    print(write_archive(dist, guide, version, epoch))
