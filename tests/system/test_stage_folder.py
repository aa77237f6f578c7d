"""The stage folder: a package that names one lays its payload out there, in a folder of its own
name, instead of the current directory (which a deployment system may empty before a task that
goes on after a restart has ended), and uses it only when no one but administrators may change
it."""

import contextlib
import os
import stat
import time

import pytest

from conftest import TIME_FACTOR, wait_for_batch
from test_deployment import build_package
from test_install import names

# The stage folder comes from a variable, so that every test has its own.
STAGE_SETTING = r"%SETUP_TEST_STAGE%\BiosTasks"
ENTERED = "EnterStageFolder: Files are laid out in "


def stage_env(target, stage_parent):
    return {"SETUP_TEST_STAGE": target.win_path(stage_parent)}


def refusal(run):
    texts = [m for m in run.messages if m.startswith("EnterStageFolder: Stage folder ")]
    assert len(texts) == 1, run.messages
    return texts[0]


@contextlib.contextmanager
def removable_drive(target, base):
    """Drive R: as Wine's optical drive (a drive's type is read when the prefix starts)."""
    drive = base / "drive"
    drive.mkdir()
    link = target.path / "dosdevices" / "r:"
    link.symlink_to(drive)
    target.wine("reg", "add", r"HKLM\Software\Wine\Drives", "/v", "r:", "/d", "cdrom", "/f")
    target.prefix.restart()
    try:
        yield
    finally:
        target.wine("reg", "delete", r"HKLM\Software\Wine\Drives", "/v", "r:", "/f")
        link.unlink()
        target.prefix.restart()


@pytest.fixture
def staged_package(make_workdir):
    """A package whose stage folder lies beside its own folder; gives the package's folder and
    the stage folder (not made yet)."""

    def make(target, *settings):
        base = make_workdir(target)
        run_dir, listed = build_package(target, base, "--stage-folder", STAGE_SETTING, *settings)
        assert listed[-2].endswith(f'stage-folder="{STAGE_SETTING}"'), listed
        return base, run_dir, base / "BiosTasks"

    return make


def test_staged_run_lays_out_runs_and_cleans_in_its_own_folder(prefix, staged_package):
    prefix.remove_service()
    base, run_dir, stage = staged_package(prefix)
    env = stage_env(prefix, base)
    run = prefix.run("task.exe -l", run_dir, env=env)
    assert run.exit_code == 0, run.report()
    own = stage / "task"
    assert ENTERED + prefix.win_path(own) in run.messages
    who = "ZunaClientModule64" if prefix.windows64 else "ZunaClientModule32"
    assert "profile profile.xml read" in " ".join(run.child_messages(who))
    assert wait_for_batch(own)
    # The package's folder goes with its files; the result log keeps it, alone.
    assert names(own) == ["task.log"]
    assert names(run_dir) == ["task.exe"]
    # Made by the setup with an access list of its own: under Wine only the owner's bits stay.
    for folder in (stage, own):
        assert folder.stat().st_mode & stat.S_IWOTH == 0

    # Without a log, nothing is left: the batch removes the folder in its last line.
    (own / "task.log").unlink()
    again = prefix.run("task.exe", run_dir, env=env)
    assert again.exit_code == 0, again.report()
    assert wait_for_batch(own)
    deadline = time.monotonic() + 10 * TIME_FACTOR
    while own.exists() and time.monotonic() < deadline:
        time.sleep(0.05)
    assert not own.exists() and names(stage) == [] and names(run_dir) == ["task.exe"]


def test_staged_files_stay_there_for_a_pending_restart(native, staged_package):
    base, run_dir, stage = staged_package(native, "--reboot-exit-code", "3010")
    run = native.run("task.exe --reboot", run_dir, env=stage_env(native, base),
                     keep_restart_mark=True)
    try:
        assert run.exit_code == 3010, run.report()
        own = stage / "task"
        assert "ZunaClientModule64.exe" in names(own) or "ZunaClientModule32.exe" in names(own)
        assert "delzrph.bat" in names(own)
        assert native.restart_mark()["Folder"] == native.win_path(own)
        assert names(run_dir) == ["task.exe"]
    finally:
        native.prefix.restart()


@pytest.mark.parametrize("case", ["stage folder writable by others",
                                  "package folder writable by others",
                                  "package folder is a file", "package folder is a link",
                                  "relative", "share", "undefined variable", "removable drive"])
def test_unsafe_or_unusable_stage_folder_fails_before_anything_is_written(native, staged_package,
                                                                          case):
    base, run_dir, stage = staged_package(native)
    env = stage_env(native, base)
    if case == "stage folder writable by others":
        stage.mkdir()
        os.chmod(stage, 0o777)
        why = "S-1-1-0 may change it"
    elif case == "package folder writable by others":
        stage.mkdir(mode=0o750)
        (stage / "task").mkdir()
        os.chmod(stage / "task", 0o757)
        why = "S-1-1-0 may change it"
    elif case == "package folder is a file":
        stage.mkdir(mode=0o750)
        (stage / "task").write_bytes(b"in the way")
        why = "it is not a folder"
    elif case == "package folder is a link":
        stage.mkdir(mode=0o750)
        (base / "elsewhere").mkdir(mode=0o750)
        (stage / "task").symlink_to(base / "elsewhere")
        why = "it is a link"
    elif case == "removable drive":
        env = {"SETUP_TEST_STAGE": "R:\\"}
        why = "it is not on a local fixed drive (drive type 5)"
    elif case == "relative":
        env = {"SETUP_TEST_STAGE": "Relative"}
        why = "it is not an absolute folder, error 161"
    elif case == "share":
        env = {"SETUP_TEST_STAGE": r"\\server\share"}
        why = "it is on a share"
    else:
        env = {}
        why = "it is not an absolute folder, error 203"
    native.own(base)
    before = sorted(p.name for p in stage.rglob("*")) if stage.exists() else None
    with removable_drive(native, base) if case == "removable drive" else contextlib.nullcontext():
        run = native.run("task.exe", run_dir, env=env)
    assert run.exit_code == 3, run.report()
    assert refusal(run).endswith(f": {why}; nothing written, exit code 3."), refusal(run)
    assert not any(m.startswith("fn_CreateInstallationFiles") for m in run.messages)
    assert names(run_dir) == ["task.exe"]
    after = sorted(p.name for p in stage.rglob("*")) if stage.exists() else None
    assert after == before
