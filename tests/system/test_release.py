"""The release: reproducible, small, versioned artifacts with their checksums."""

import hashlib
import os
import re
import subprocess
import sys
import time

from conftest import BUILD, ROOT, TOOLS, z_path

sys.path.insert(0, str(ROOT / "scripts"))
from code_size import code_size  # noqa: E402

CODE_LIMIT = 256 * 1024
ARTIFACTS = ["setup.exe", "setup-pack.exe", "kit/QMB.cab", "kit/QMB64.cab", "kit/Runvex.cab",
             "kit/runvex64.cab", "kit/QTMStandaloneSvc.cab", "kit/uninst.exe",
             "kit/StopHWIX.exe", "kit/ksmbios_data.htm", "kit/!Readme.txt"]


def release(tmp_path, name):
    env = dict(os.environ, RELEASE_BUILD_DIR=str(tmp_path / f"build-{name}"),
               RELEASE_DIST_DIR=str(tmp_path / f"dist-{name}"))
    subprocess.run([str(ROOT / "scripts" / "release.sh")], env=env, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    return tmp_path / f"dist-{name}"


def test_two_release_builds_are_byte_identical_and_summed(tmp_path):
    first = release(tmp_path, "a")
    time.sleep(2)
    second = release(tmp_path, "b")
    sums = (first / "SHA256SUMS").read_text()
    assert sums == (second / "SHA256SUMS").read_text()
    listed = dict(reversed(line.split("  ", 1)) for line in sums.splitlines())
    assert sorted(listed) == sorted(ARTIFACTS)
    for name, digest in listed.items():
        assert hashlib.sha256((first / name).read_bytes()).hexdigest() == digest, name
        assert (first / name).read_bytes() == (second / name).read_bytes(), name


def test_setup_code_stays_small():
    total, resources, code = code_size(BUILD / "setup.exe")
    assert resources > 0
    assert code <= CODE_LIMIT, f"setup.exe code is {code} bytes, over {CODE_LIMIT}"


def test_version_resources_come_from_the_project_version(prefix32):
    version = re.search(r"project\(setup VERSION (\d+\.\d+\.\d+)",
                        (ROOT / "CMakeLists.txt").read_text()).group(1)
    for exe, description in (("setup.exe", "BIOS task package setup"),
                             ("setup-pack.exe", "BIOS task package builder")):
        out = prefix32.wine(str(TOOLS / "probe.exe"), "version", z_path(BUILD / exe)).stdout
        fields = dict(line.split("=", 1) for line in out.decode().splitlines())
        assert fields == {"FileVersion": version, "ProductVersion": version,
                          "ProductName": "BIOS task package", "FileDescription": description,
                          "OriginalFilename": exe}
