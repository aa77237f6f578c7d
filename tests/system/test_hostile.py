"""Hostile input and unlucky folders: planted and leftover files, names that are not what they
seem, read-only entries, foreign code pages, and how the cleanup batch is started."""

import shutil
import time

import pytest

from cabinet import Entry, write_cabinet
from conftest import TIME_FACTOR, Holder, patch_entry, wait_for_batch
from test_driver import expected_log
from test_install import expected_batch, names

FAILED = "fn_CreateInstallationFiles: Could not create all files."
REFUSED = "fn_CreateInstallationFiles: BIOS image name is not a plain file name."
CLIENT_OK = "fn_Install: Call to Runvex.exe successfull"
CLIENT_FAILED = "fn_Install: Call to Runvex.exe failed"
WESTERN = {"LANG": "de_DE.UTF-8", "LC_ALL": "de_DE.UTF-8"}  # ANSI 1252, OEM 850


def plant(target, path, read_only=True):
    """Leaves planted.exe at `path`, as someone else would."""
    path.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy(target.tools / "planted.exe", path)
    target.own(path.parent)
    if read_only:
        path.chmod(0o444)


def planted_runs(run):
    return [m for m in run.all_messages if m.startswith("planted: ")]


def test_planted_read_only_programs_and_batch_are_replaced(unprivileged, make_workdir):
    target = unprivileged
    target.remove_service()
    folder = make_workdir(target)
    plant(target, folder / (target.client_module + ".exe"))
    batch = folder / "delzrph.bat"
    batch.write_bytes(b'@echo off\r\necho planted> "%s\\planted.txt"\r\n'
                      % target.win_path(folder).encode())
    target.own(batch)
    batch.chmod(0o444)
    run = target.run("setup.exe -l", folder)
    assert run.exit_code == 0
    assert planted_runs(run) == []
    assert run.child_messages(target.client_module)
    assert wait_for_batch(folder)
    assert names(folder) == ["setup.exe", "setup.log"]

    # A second run finds the service running: a planted read-only StopHWIX.exe is replaced too.
    plant(target, folder / "StopHWIX.exe")
    second = target.run("setup.exe", folder)
    assert second.exit_code == 0
    assert planted_runs(second) == []
    assert second.child_messages("StopHWIX") == [" stop", " start"]
    assert wait_for_batch(folder)
    assert names(folder) == ["setup.exe", "setup.log"]


INCOMPLETE = "fn_Install: Payload incomplete, nothing started."
# A program that cannot be written leaves the payload incomplete: nothing at all is started.
HELD = {"client module": None, "layer installer": "hwixqmb\\setup.exe",
        "service stopper": "StopHWIX.exe"}


@pytest.mark.parametrize("case", list(HELD))
def test_program_this_run_could_not_write_is_never_started(native, make_workdir, case):
    held = HELD[case]
    folder = make_workdir(native)
    if case == "service stopper":
        assert native.run("setup.exe", folder).exit_code == 0  # installs the service
        assert wait_for_batch(folder)
    else:
        native.remove_service()
    relative = held or native.client_module + ".exe"
    plant(native, folder / relative.replace("\\", "/"), read_only=False)
    holder = Holder(native, folder / relative.replace("\\", "/"))
    try:
        run = native.run("setup.exe", folder)
    finally:
        holder.release()
    assert planted_runs(run) == []
    assert run.exit_code == 3
    messages = [m for m in run.messages if not m.startswith("@echo off")]
    assert messages[messages.index(FAILED):] == [FAILED, INCOMPLETE, "fn_Cleanup"]
    assert not [m for m in run.all_messages if m.startswith(("StopHWIX", "ZunaClient", "layer"))]
    assert wait_for_batch(folder)


@pytest.mark.parametrize("name", ["ｐｋｇ", "表"])
def test_working_directory_without_an_exact_ansi_name(native, make_workdir, name):
    """Read through the ANSI code page, ｐｋｇ would become pkg (another folder) and 表 "?"."""
    base = make_workdir(native)
    folder = base / name
    folder.mkdir()
    shutil.move(str(base / "setup.exe"), folder / "setup.exe")
    lookalike = base / "pkg"
    for program in ("ZunaClientModule32.exe", "ZunaClientModule64.exe", "StopHWIX.exe",
                    "hwixqmb/setup.exe"):
        plant(native, lookalike / program, read_only=False)
    before = sorted(p.relative_to(lookalike) for p in lookalike.rglob("*"))
    native.own(base)
    native.use_locale(WESTERN)
    run = native.run("setup.exe -l", folder, env=WESTERN)
    assert run.exit_code == 3
    assert run.messages == [
        "fn_CheckOS: Operating System supported",
        "fn_CreateInstallationFiles: Working directory path has no exact name in the system "
        "code pages.",
        FAILED,
        "fn_Install: Working directory path has no exact name in the system code pages.",
        "fn_Cleanup"]
    assert planted_runs(run) == []
    time.sleep(TIME_FACTOR)
    assert names(folder) == ["setup.exe"]
    assert sorted(p.relative_to(lookalike) for p in lookalike.rglob("*")) == before


OWN_NAMES = ["delzrph.bat", "reboot.txt", "profile.xml", "Profile.XML.", "StopHWIX.exe",
             "ZunaClientModule32.exe", "hwixqmb", "QMB.cab", "setup.exe", "SETUP.log"]
DEVICE_NAMES = ["nul.hdr", "NUL", "con", "CONIN$", "aux.bin", "prn", "COM1", "com9.hdr",
                "LPT1", "lpt9 .bin", "nul..."]


@pytest.mark.parametrize("image", DEVICE_NAMES + OWN_NAMES)
def test_device_and_own_names_are_refused_as_image(native, make_workdir, image):
    folder = make_workdir(native)
    profile = f'<root><command type="flash" image="{image}"/></root>'.encode()
    patch_entry(native, folder / "setup.exe", 107, profile, folder.parent)
    setup = (folder / "setup.exe").read_bytes()
    run = native.run("setup.exe -x -l", folder)
    assert run.exit_code == 2
    assert run.messages[-3:] == [f"BIOS image name is: {image}", REFUSED, FAILED]
    assert (folder / "setup.exe").read_bytes() == setup
    assert (folder / "setup.log").read_bytes() == expected_log(2)
    assert (folder / "profile.xml").read_bytes() == profile
    assert "ksmbios_data.htm" not in names(folder)


def test_image_named_like_the_batch_leaves_the_batch_whole(native, make_workdir):
    native.remove_service()
    folder = make_workdir(native)
    profile = b'<root><command type="flash" image="delzrph.bat"/></root>'
    patch_entry(native, folder / "setup.exe", 107, profile, folder.parent)
    run = native.run("setup.exe", folder)
    assert run.exit_code == 3
    assert REFUSED in run.messages and INCOMPLETE in run.messages
    # Had the image been written under that name, the batch would have removed itself at its
    # image line, before the rest of its lines.
    assert wait_for_batch(folder)
    assert names(folder) == ["setup.exe"]


def test_read_only_cabinet_entries_are_removed_and_replaced(native, make_workdir):
    native.remove_service()
    folder = make_workdir(native)
    module = native.client_module + ".exe"
    cabinet = write_cabinet([Entry(module.encode(), (native.kit / module).read_bytes(),
                                   attribs=0x21)])
    patch_entry(native, folder / "setup.exe", 103 if native.windows64 else 106, cabinet,
                folder.parent)
    for attempt in ("first", "second"):
        run = native.run("setup.exe", folder)
        assert run.exit_code == 0, attempt
        assert run.child_messages(native.client_module), attempt
        assert wait_for_batch(folder), attempt
        assert names(folder) == ["setup.exe"], attempt


def test_western_working_directory_is_named_in_the_interpreters_code_page(native, make_workdir):
    native.remove_service()
    base = make_workdir(native)
    folder = base / "Jörg" / "Pkg"
    folder.mkdir(parents=True)
    shutil.move(str(base / "setup.exe"), folder / "setup.exe")
    native.own(base)
    native.use_locale(WESTERN)
    run = native.run("setup.exe -l", folder, env=WESTERN)
    assert run.exit_code == 0
    assert wait_for_batch(folder)
    assert names(folder) == ["setup.exe", "setup.log"]
    # A reboot keeps the batch on disk, so its whole text can be read.
    kept = native.run("setup.exe --reboot", folder, env=WESTERN)
    assert kept.exit_code == 0
    w = native.win_path(folder)
    assert (folder / "delzrph.bat").read_bytes() == expected_batch(w, encoding="cp850")


def test_batch_is_started_by_the_system_interpreter_without_autorun(native, make_workdir):
    folder = make_workdir(native)
    run = native.run("setup.exe", folder, env={"WINEDEBUG": "-all,warn+debugstr,trace+process"})
    assert run.exit_code == 0
    assert ('CreateProcessInternalW app L"C:\\\\windows\\\\system32\\\\cmd.exe" '
            'cmdline L"cmd.exe /d /v:off /c delzrph.bat"') in run.stderr
    assert wait_for_batch(folder)
