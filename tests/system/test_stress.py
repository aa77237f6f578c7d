"""Foreign code pages, long working directories and Windows versions."""

import os
import shutil

import pytest

from conftest import PeakMemory, make_target, patch_entry, wait_for_batch

JAPANESE = {"LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8"}
OK_END = ["fn_Install: Call to Runvex.exe successfull", "Is not shutdown", "fn_Cleanup"]


def as_bytes(message):
    """A debug text as the bytes the setup wrote (Wine shows non-ASCII bytes as \\x escapes)."""
    return message.encode("latin-1")


def test_code_page_932_trail_byte_backslash(native, make_workdir):
    base = make_workdir(native)
    profile = '<root><command type="flash" image="表.hdr"/></root>'.encode("utf-8")
    patch_entry(native, base / "setup.exe", 107, profile, base)
    folder = base / "表dir"
    folder.mkdir()
    shutil.move(str(base / "setup.exe"), folder / "表.exe")
    # A reboot keeps the batch on disk, so its whole text can be read.
    native.use_locale(JAPANESE)
    # The last argument is a spare: Wine may still cut a byte from the end of the command line.
    kept = native.run("表.exe -l --reboot --exit=0", folder, env=JAPANESE)
    assert kept.exit_code == 0
    w = native.win_path(folder).encode("cp932")
    assert b"\x95\x5c" in w
    assert (folder / "delzrph.bat").exists(), kept.all_messages
    batch = (folder / "delzrph.bat").read_bytes()
    assert batch.startswith(b'@echo off\r\n\r\ndel /F /Q "' + w + b'\\profile.xml"\r\n')
    assert b'\r\ndel /F /Q "' + w + "\\表.hdr".encode("cp932") + b'"\r\n' in batch
    assert batch.endswith(b'del /F /Q "' + w + b'\\delzrph.bat"\r\n')
    assert as_bytes(next(m for m in kept.messages if m.startswith("BIOS image name is: "))) == \
        "BIOS image name is: 表.hdr".encode("cp932")
    assert (folder / "表.hdr").exists()

    run = native.run("表.exe -l --exit=0", folder, env=JAPANESE)
    assert run.exit_code == 0
    assert run.messages[-3:] == OK_END
    assert "nResult = 0" in (folder / "表.log").read_text()
    assert wait_for_batch(folder)
    assert sorted(p.name for p in folder.iterdir()) == ["表.exe", "表.log"]


def long_folder(base, total_length, win_path):
    """A folder below base whose Windows path has exactly total_length characters."""
    missing = total_length - len(win_path(base)) - 1
    folder = base / ("d" * missing)
    folder.mkdir()
    assert len(win_path(folder)) == total_length
    return folder


@pytest.mark.parametrize("length,options,code,log", [
    (240, "-l", 3, True),     # the log fits, the client module's path does not
    (240, "-x -l", 2, True),
    (252, "-l", 3, False),    # not even the log fits
])
def test_working_directory_too_long_for_the_payload(native, make_workdir, length, options,
                                                    code, log):
    base = make_workdir(native)
    folder = long_folder(base, length, native.win_path)
    (folder / "profile.xml").write_text("not ours")
    # Started by its full path from elsewhere: the long folder is only the current directory.
    run = native.run(f"{native.win_path(base)}\\setup.exe {options}", folder)
    assert run.exit_code == code
    expected = ["fn_CheckOS: Operating System supported",
                "fn_CreateInstallationFiles: Working directory path too long.",
                "fn_CreateInstallationFiles: Could not create all files."]
    if "-x" not in options:
        expected += ["fn_Install: Working directory path too long.", "fn_Cleanup"]
    assert run.messages == expected
    # Nothing was written, run or deleted.
    left = sorted(p.name for p in folder.iterdir())
    assert left == sorted(["profile.xml"] + (["setup.log"] if log else []))
    assert (folder / "profile.xml").read_text() == "not ours"
    assert len(run.all_messages) == len(run.messages)


def test_longest_working_directory_that_fits(native, make_workdir):
    base = make_workdir(native)
    folder = long_folder(base, 259 - len("\\ZunaClientModule64.exe"), native.win_path)
    shutil.move(str(base / "setup.exe"), folder / "setup.exe")
    run = native.run("setup.exe", folder)
    assert run.exit_code == 0
    assert run.messages[-3:] == OK_END
    assert wait_for_batch(folder)
    assert [p.name for p in folder.iterdir()] == ["setup.exe"]


# The 64-bit setup meets the versions a 64-bit Windows had: XP x64 and Server 2003 (5.2), 7, 10.
@pytest.mark.parametrize("combination,version", [
    ("setup32-win32", "win2k"), ("setup32-win32", "winxp"), ("setup32-win32", "win7"),
    ("setup32-win32", "win10"), ("setup32-wow64", "win7"), ("setup32-wow64", "win10"),
    ("setup64-win64", "winxp64"), ("setup64-win64", "win2003"), ("setup64-win64", "win7"),
    ("setup64-win64", "win10")])
def test_whole_run_on_windows_versions(request, make_workdir, combination, version):
    prefix = make_target(request, combination)
    name = f"ver_{version}.exe"
    folder = make_workdir(prefix, exe_name=name)
    prefix.set_version(name, version)
    run = prefix.run(f"{name} -l", folder)
    assert run.exit_code == 0
    assert run.messages[0] == "fn_CheckOS: Operating System supported"
    assert run.messages[-3:] == OK_END
    assert run.child_messages(prefix.client_module)
    assert wait_for_batch(folder)
    assert sorted(p.name for p in folder.iterdir()) == [name, f"ver_{version}.log"]


def test_payload_is_mapped_not_copied_into_private_memory(native, make_workdir):
    """A large payload must not grow the setup's private memory: the executable's sections are
    page-aligned in the file, so the loader maps the payload instead of reading it in."""
    folder = make_workdir(native)
    (folder / "bios.bin").write_bytes(os.urandom(48 * 1024 * 1024))
    (folder / "profile.xml").write_bytes(b"<root/>")
    build = native.wine(str(native.pack_exe), "build", "--template", "setup.exe",
                          "--profile", "profile.xml", "--bios", "bios.bin", "--out", "big.exe",
                          cwd=folder)
    assert build.returncode == 0
    peaks = {}
    for exe in ("setup.exe", "big.exe"):
        run_dir = folder / exe.replace(".", "_")
        run_dir.mkdir()
        shutil.copy(folder / exe, run_dir / exe)
        with PeakMemory(exe, native.path) as memory:
            assert native.wine(str(run_dir / exe), "-x", cwd=run_dir).returncode == 0
        peaks[exe] = memory.peak
    assert (folder / "big_exe" / "Flash.hdr").stat().st_size == 48 * 1024 * 1024
    assert 0 < peaks["setup.exe"] and peaks["big.exe"] - peaks["setup.exe"] < 4 * 1024 * 1024
