"""The scripts that make a machine ready for the tests hold where machines are unlucky: a mirror
that serves a broken index, and two test runs that start at once."""

import hashlib
import os
import subprocess

import pytest

from conftest import ROOT

APT_INSTALL = ROOT / "scripts" / "apt-install.sh"
BUILD_IMAGE = ROOT / "scripts" / "vm" / "build-image.sh"
DUMMY = "setup-test-dummy"


def write_suite(repo, suite, packages, wrong_size=False):
    """A suite of a local apt repository whose Release lists its index, with a wrong size when
    asked (what a mirror in the middle of a sync serves)."""
    index = repo / "dists" / suite / "main" / "binary-amd64" / "Packages"
    index.parent.mkdir(parents=True)
    index.write_bytes(packages)
    size = len(packages) + (1 if wrong_size else 0)
    (repo / "dists" / suite / "Release").write_text(
        f"Suite: {suite}\nCodename: {suite}\nDate: Tue, 01 Dec 2026 00:00:00 UTC\n"
        "Architectures: amd64\nComponents: main\nSHA256:\n"
        f" {hashlib.sha256(packages).hexdigest()} {size} main/binary-amd64/Packages\n")


def dummy_package(repo):
    """An empty package in the repository's pool; returns its index entry."""
    tree = repo / "tree"
    (tree / "DEBIAN").mkdir(parents=True)
    control = (f"Package: {DUMMY}\nVersion: 1.0\nArchitecture: all\nMaintainer: tests <t@t>\n"
               "Description: stand-in package of the set-up tests\n")
    (tree / "DEBIAN" / "control").write_text(control)
    deb = repo / "pool" / f"{DUMMY}_1.0_all.deb"
    deb.parent.mkdir(parents=True)
    subprocess.run(["dpkg-deb", "--root-owner-group", "--build", str(tree), str(deb)], check=True,
                   stdout=subprocess.DEVNULL)
    data = deb.read_bytes()
    return (f"{control}Filename: pool/{deb.name}\nSize: {len(data)}\n"
            f"SHA256: {hashlib.sha256(data).hexdigest()}\n").encode()


def apt_sandbox(tmp_path, sources_name, sources_text):
    """apt settings that keep everything in tmp_path, with a dpkg that only notes what it was
    asked to install; returns the environment that uses them."""
    for folder in ("parts", "conf", "lists/partial", "cache/archives/partial", "state"):
        (tmp_path / folder).mkdir(parents=True)
    (tmp_path / "parts" / sources_name).write_text(sources_text)
    (tmp_path / "state" / "status").write_text("")
    dpkg = tmp_path / "dpkg"
    dpkg.write_text('#!/bin/sh\ncase "$*" in\n  *--print-foreign-architectures*) ;;\n'
                    '  *--print-architecture*) echo amd64 ;;\n'
                    f'  *.deb*) echo "$*" >>"{tmp_path}/installed" ;;\nesac\n')
    dpkg.chmod(0o755)
    config = tmp_path / "apt.conf"
    config.write_text(f'''Dir::Etc::SourceList "{tmp_path}/none.list";
Dir::Etc::SourceParts "{tmp_path}/parts/";
Dir::Etc::Parts "{tmp_path}/conf/";
Dir::Etc::Preferences "{tmp_path}/none.pref";
Dir::Etc::PreferencesParts "{tmp_path}/conf/";
Dir::State::Lists "{tmp_path}/lists/";
Dir::State::status "{tmp_path}/state/status";
Dir::Cache "{tmp_path}/cache/";
Dir::Bin::dpkg "{dpkg}";
APT::Architecture "amd64";
APT::Architectures {{ "amd64"; }};
APT::Sandbox::User "root";
Debug::NoLocking "true";
''')
    return dict(os.environ, APT_CONFIG=str(config), APT_RETRY_SECONDS="0")


@pytest.mark.parametrize("sources_name, sources, exit_code, said", [
    ("local.list",
     "deb [trusted=yes] file:{repo} good main\ndeb [trusted=yes] file:{repo} bad main\n",
     0, "apt-install.sh: installing without bad (file:{repo}), whose index failed to download 3 "
        "times"),
    ("local.sources", "Types: deb\nURIs: file:{repo}\nSuites: good bad\nComponents: main\n"
                      "Trusted: yes\n",
     0, "apt-install.sh: installing without bad (file:{repo}), whose index failed to download 3 "
        "times"),
    ("local.list", "deb [trusted=yes] file:{repo} bad main\n",
     1, f"apt-install.sh: cannot install {DUMMY}: no package index could be downloaded "
        "(E: Failed to fetch file:{repo}/dists/bad/"),
])
def test_packages_come_from_the_suites_whose_index_holds(tmp_path, sources_name, sources,
                                                         exit_code, said):
    if os.geteuid() != 0:
        pytest.skip("apt-get needs root")
    repo = tmp_path / "repo"
    entry = dummy_package(repo)
    write_suite(repo, "good", entry)
    write_suite(repo, "bad", entry, wrong_size=True)
    env = apt_sandbox(tmp_path / "apt", sources_name, sources.format(repo=repo))
    run = subprocess.run([str(APT_INSTALL), DUMMY], env=env, stdin=subprocess.DEVNULL,
                         capture_output=True, text=True, timeout=120)
    lines = (run.stdout + run.stderr).splitlines()
    assert run.returncode == exit_code
    assert len(lines) == 1 and lines[0].startswith(said.format(repo=repo)), lines
    installed = tmp_path / "apt" / "installed"
    if exit_code == 0:
        assert f"{DUMMY}_1.0_all.deb" in installed.read_text()
    else:
        assert not installed.exists()


def test_two_image_builds_at_once_make_one_image(tmp_path):
    """The second build waits for the first one's image instead of removing its work folder."""
    step = tmp_path / "step.sh"
    step.write_text(f'#!/bin/sh\necho "$1" >>"{tmp_path}/steps"\nsleep 2\n'
                    'for name in disk.img vmlinuz initrd.img; do echo "$name" >"$1/$name"; done\n')
    step.chmod(0o755)
    cache = tmp_path / "cache"
    env = dict(os.environ, SETUP_VM_CACHE=str(cache), SETUP_VM_BUILD_STEP=str(step))
    builds = [subprocess.Popen([str(BUILD_IMAGE)], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
              for _ in range(2)]
    outputs = [build.communicate(timeout=60)[0] for build in builds]
    assert [build.returncode for build in builds] == [0, 0], outputs
    assert len((tmp_path / "steps").read_text().splitlines()) == 1
    assert any("another build of this image runs; waiting for it" in out for out in outputs)
    [image] = [path for path in cache.iterdir() if path.is_dir()]
    assert sorted(path.name for path in image.iterdir()) == ["disk.img", "initrd.img", "ready",
                                                             "vmlinuz"]
    assert (image / "disk.img").read_text() == "disk.img\n"
