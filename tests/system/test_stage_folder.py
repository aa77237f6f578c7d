"""The stage folder: a package that names one lays its payload out there, in a folder of its own
name, instead of the current directory (which a deployment system may empty before a task that
goes on after a restart has ended), and uses it only when no one but administrators may change
it."""

import contextlib
import os
import shutil
import stat
import time

import pytest

from conftest import TIME_FACTOR, Run, patch_entry, wait_for_batch
from test_deployment import DATA_PROFILE, build_package, read_records
from test_hostile import WESTERN
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
                                  "folder above writable by others", "folder above is a link",
                                  "a stream", "dot segments", "partial variable",
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
    elif case == "folder above writable by others":
        # Short, so that the whole debug text is seen (Wine cuts a long one).
        pub = native.drive_c / f"pub-{native.name}"
        shutil.rmtree(pub, ignore_errors=True)
        pub.mkdir()
        os.chmod(pub, 0o777)
        env, stage = {"SETUP_TEST_STAGE": native.win_path(pub)}, pub / "BiosTasks"
        why = (f"the folder {native.win_path(pub)} above it: S-1-1-0 may remove or replace it or "
               "what it holds")
    elif case == "folder above is a link":
        (base / "real").mkdir(mode=0o750)
        (base / "linked").symlink_to(base / "real")
        env = {"SETUP_TEST_STAGE": native.win_path(base) + "\\linked"}
        stage = base / "real" / "BiosTasks"
        why = f"the folder {native.win_path(base)}\\linked above it: it is a link"
    elif case in ("a stream", "dot segments"):
        env = {"SETUP_TEST_STAGE": {"a stream": "C:\\Stage:ads",
                                    "dot segments": native.win_path(base) + "\\..\\..\\w"}[case]}
        why = {"a stream": "its name has a ':' other than the drive's (a stream, or no folder at all)",
               "dot segments": "its name has a segment of dots (\".\" or \"..\")"}[case]
    elif case == "partial variable":
        # A package built before the builder refused such a name.
        patch_entry(native, run_dir / "task.exe", 119, b"stage-folder=C:\\a%PATH%b\r\n", base)
        why = "its name has a '%' that is not a whole %NAME% segment"
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


def test_an_unusable_stage_folder_leaves_its_logs_where_the_package_started(native, make_workdir):
    """A stage folder this PC's code pages cannot name (the builder warns of it): exit 3 with
    nothing made there, and the result and trace logs where the package was started."""
    native.use_locale(WESTERN)
    base = make_workdir(native)
    shutil.copy(native.setup_exe, base / "template.exe")
    (base / "profile.xml").write_bytes(DATA_PROFILE)
    stage = base / "Mise à jour Łódź"
    built = native.wine(str(native.pack_exe), "build", "--template", "template.exe", "--profile",
                        "profile.xml", "--stage-folder", native.win_path(base) + "\\" + stage.name,
                        "--trace-log", "--out", "task.exe", cwd=base, env=WESTERN)
    assert built.returncode == 0
    assert b"setup-pack: warning: the stage folder has characters outside ASCII" in built.stdout
    run_dir = base / "pkgdir"
    run_dir.mkdir()
    shutil.copy(base / "task.exe", run_dir / "task.exe")
    run = native.run("task.exe -l", run_dir, env=WESTERN)
    assert run.exit_code == 3, run.report()
    assert refusal(run).endswith(": it has no exact name in the system code pages; nothing "
                                 "written, exit code 3.")
    assert not stage.exists()
    assert names(run_dir) == ["task.exe", "task.log", "task.trace.log"]
    traced = [m["text"] for m in read_records(run_dir / "task.trace.log")]
    assert any(t.startswith("EnterStageFolder: Stage folder ") for t in traced), traced


def test_a_package_name_without_an_exact_form_gets_no_look_alike_folder(native, staged_package):
    """ＡＢ.exe (full-width letters) is not AB.exe: started by its wide name, it fails before
    anything is made, where best fit would have used another package's folder."""
    native.use_locale(WESTERN)
    base, run_dir, stage = staged_package(native)
    (run_dir / "task.exe").rename(run_dir / "ＡＢ.exe")
    log = base / "wide.stderr"
    env = dict(stage_env(native, base), WINEDEBUG="-all,warn+debugstr", **WESTERN)
    proc = native.wine(str(run_dir / "ＡＢ.exe"), cwd=run_dir, env=env, log=log)
    run = Run(proc.returncode, log.read_text(errors="replace"))
    assert run.exit_code == 3, run.report()
    assert refusal(run).endswith(": the package's name has no exact name in the system code "
                                 "pages; nothing written, exit code 3.")
    assert not (stage / "AB").exists() and names(run_dir) == ["ＡＢ.exe"]


def test_a_retry_keeps_the_failed_runs_trace_log(native, staged_package):
    """One generation: the failed run's trace log stays as .trace.lo_ beside its retry's."""
    native.remove_service()
    base, run_dir, stage = staged_package(native, "--trace-log")
    env = stage_env(native, base)
    assert native.run("task.exe --exit=2", run_dir, env=env).exit_code == 3
    own = stage / "task"
    assert wait_for_batch(own)
    assert native.run("task.exe", run_dir, env=env).exit_code == 0
    assert wait_for_batch(own)
    assert names(own) == ["task.trace.lo_", "task.trace.log"]
    last = [m["text"] for m in read_records(own / "task.trace.log")]
    earlier = [m["text"] for m in read_records(own / "task.trace.lo_")]
    assert "* exit code 0" in last and "* exit code 3" in earlier
