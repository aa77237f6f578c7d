"""The whole run: install around the service, the client module, reboot marker and cleanup."""

import shutil
import time

import pytest

from conftest import TASK_NOT_OVER, TIME_FACTOR, patch_entry, wait_for_batch
from cabinet import Entry, write_cabinet

NOT_INSTALLED = "HWIX QMB not already installed"
ALREADY_INSTALLED = "HWIX QMB already installed.\nHWIX.SYS Version: 0"
INSTALL_OK = "fn_Install: Install HWIX QMB successfull."
CLIENT_OK = "fn_Install: Call to Runvex.exe successfull"
CLIENT_FAILED = "fn_Install: Call to Runvex.exe failed"
PAYLOAD = ["profile.xml", "schema.xml", "bootdevices.xml", "Flash.hdr", "StopHWIX.exe",
           "uninst.exe", "ksmbios_data.htm", "!Readme.txt", "QTMStandaloneSvc.exe"]


def client_wait(seconds):
    """The settings line of a package whose client module may run `seconds` seconds."""
    return b"client-wait=%d\r\n" % seconds


def install_messages(run):
    """The setup's messages from the batch text on, with the batch text cut to its first line."""
    messages = run.messages
    start = next(i for i, m in enumerate(messages) if m.startswith("@echo off"))
    return ["<batch>"] + messages[start + 1 :]


def names(folder):
    return sorted(p.name for p in folder.iterdir())


def expected_batch(w, image="Flash.hdr", encoding="latin-1"):
    """The batch's bytes, in the code page the interpreter reads it in."""
    w = w.replace("%", "%%")
    lines = ["@echo off", ""]
    lines += [f'del /F /Q "{w}\\{n}"' for n in ("profile.xml", "schema.xml", "bootdevices.xml")]
    if image:
        lines.append(f'del /F /Q "{w}\\{image}"')
    lines += [f'del /F /Q "{w}\\{n}"' for n in ("StopHWIX.exe", "ZunaClientModule32.exe",
                                                "ZunaClientModule64.exe", "uninst.exe")]
    lines += [f'rmdir /S /Q "{w}\\hwixqmb"', ""]
    lines += [f'del /F /Q "{w}\\{n}"' for n in ("ksmbios_data.htm", "!Readme.txt",
                                                "QTMStandaloneSvc.exe", "delzrph.bat")]
    return ("\r\n".join(lines) + "\r\n").encode(encoding)


def test_first_and_second_run(prefix, workdir):
    prefix.remove_service()
    (workdir / "user.txt").write_text("not ours")
    run = prefix.run('setup.exe -l "a b" tail', workdir)
    assert run.exit_code == 0
    assert install_messages(run) == ["<batch>", NOT_INSTALLED, INSTALL_OK, CLIENT_OK,
                                     "Is not shutdown", "fn_Cleanup"]
    assert run.child_messages("StopHWIX") == []
    assert run.child_messages("hwix Setup") == ["-l -s", "service running"]
    module = prefix.client_module
    w = prefix.win_path(workdir)
    assert run.child_messages(module)[0] == f'"{w}\\{module}.exe" -file:profile.xml -l "a b" tail'
    assert wait_for_batch(workdir)
    assert names(workdir) == ["setup.exe", "setup.log", "user.txt"]
    assert prefix.service_state() == "RUNNING"

    second = prefix.run("setup.exe", workdir)
    assert second.exit_code == 0
    assert install_messages(second) == [
        "<batch>", ALREADY_INSTALLED, "fn_Install: Call to 'StopHWIX stop' successfull.",
        INSTALL_OK, "fn_Install: Call to 'StopHWIX start' successfull.", CLIENT_OK,
        "Is not shutdown", "fn_Cleanup"]
    order = [m for m in second.all_messages if m.startswith(("StopHWIX:", "hwix Setup: -"))]
    assert order == ["StopHWIX:  stop", "hwix Setup: -l -s", "StopHWIX:  start"]
    assert second.child_messages(module)[0] == f'"{w}\\{module}.exe" -file:profile.xml'
    assert wait_for_batch(workdir)
    assert names(workdir) == ["setup.exe", "setup.log", "user.txt"]
    assert prefix.service_state() == "RUNNING"


def test_installed_but_stopped_service_is_not_active(native, make_workdir):
    folder = make_workdir(native)
    native.run("setup.exe -x", folder)  # lays out StopHWIX.exe
    native.remove_service()
    install = native.run("hwixqmb\\setup.exe -s", folder)
    assert install.exit_code == 0
    assert native.run("StopHWIX.exe stop", folder).exit_code == 0
    assert native.service_state() == "STOPPED"
    run = native.run("setup.exe", folder)
    assert install_messages(run)[1] == NOT_INSTALLED
    assert run.child_messages("StopHWIX") == []
    assert wait_for_batch(folder)


def test_client_exit_code_2_gives_3(prefix, workdir):
    run = prefix.run("setup.exe -l --exit=2", workdir)
    assert run.exit_code == 3
    assert CLIENT_FAILED in run.messages
    assert "nResult = 3" in (workdir / "setup.log").read_text()
    assert wait_for_batch(workdir)


def test_package_without_client_module_gives_3_with_layer_installed(prefix, workdir):
    prefix.remove_service()
    entry = 103 if prefix.windows64 else 106
    patch_entry(prefix, workdir / "setup.exe", entry,
                write_cabinet([Entry(b"readme.txt", b"no module here")]), workdir.parent)
    run = prefix.run("setup.exe", workdir)
    assert run.exit_code == 3
    assert install_messages(run)[1:4] == [NOT_INSTALLED, INSTALL_OK, CLIENT_FAILED]
    assert prefix.service_state() == "RUNNING"
    assert wait_for_batch(workdir)
    # The cabinet's readme.txt is a file of this run too: the cleanup removes it.
    assert names(workdir) == ["setup.exe"]


def test_client_outliving_its_wait_gives_3_and_keeps_running(native, make_workdir):
    folder = make_workdir(native)
    patch_entry(native, folder / "setup.exe", 119, client_wait(1), folder.parent)
    started = time.monotonic()
    # The module stays well beyond the package's 1-s wait, however slow the machine.
    stay = 8 * TIME_FACTOR
    run = native.run(f"setup.exe --stay={int(stay * 1000)} --reboot", folder,
                     wait_for_lock=False, keep_restart_mark=True)
    elapsed = time.monotonic() - started
    try:
        assert run.exit_code == 3
        assert install_messages(run)[-4:] == [TASK_NOT_OVER + "1. Files kept, restart required.",
                                              CLIENT_FAILED, "Is not shutdown", "fn_Cleanup"]
        assert elapsed < stay
        # The module goes on after the setup has ended and leaves its marker late.
        deadline = time.monotonic() + 20 * TIME_FACTOR
        while not (folder / "reboot.txt").exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        assert (folder / "reboot.txt").exists()
    finally:
        native.restart()


def test_reboot_marker_keeps_every_file(prefix, workdir):
    run = prefix.run("setup.exe --reboot", workdir)
    assert run.exit_code == 0
    assert install_messages(run)[-3:] == [CLIENT_OK, "Is shutdown", "fn_Cleanup"]
    time.sleep(TIME_FACTOR)
    left = names(workdir)
    assert "reboot.txt" not in left and "hwixqmb" not in left
    for name in PAYLOAD + ["delzrph.bat", prefix.client_module + ".exe"]:
        assert name in left, name
    assert (workdir / "delzrph.bat").read_bytes() == expected_batch(prefix.win_path(workdir))


@pytest.mark.parametrize("left", ["file", "read-only file", "link"])
def test_marker_left_by_an_earlier_task_is_removed_before_the_client(native, make_workdir, left):
    """Only this run's client module asks for a restart: a reboot.txt found before it starts is
    removed; one that cannot be (a link, whose removal would reach its target) stops the run
    before the client module."""
    folder = make_workdir(native)
    marker = folder / "reboot.txt"
    if left == "link":
        (folder.parent / "elsewhere.txt").write_text("not ours")
        marker.symlink_to(folder.parent / "elsewhere.txt")
    else:
        marker.write_text("")
        if left == "read-only file":
            marker.chmod(0o444)
    run = native.run("setup.exe", folder)
    if left == "link":
        assert run.exit_code == 3
        assert ("fn_Install: reboot.txt of an earlier task cannot be removed, client module not "
                "started.") in run.messages
        assert run.child_messages(native.client_module) == []
        assert (folder.parent / "elsewhere.txt").read_text() == "not ours"
        return
    assert run.exit_code == 0
    assert install_messages(run)[-3:] == [CLIENT_OK, "Is not shutdown", "fn_Cleanup"]
    assert wait_for_batch(folder)
    assert names(folder) == ["setup.exe"]
    assert native.restart_mark() is None


def test_directory_with_blanks_hyphen_and_percent(native, make_workdir, monkeypatch):
    native.remove_service()
    base = make_workdir(native)
    folder = base / "my dir-x %SETUPTEST%"
    folder.mkdir()
    shutil.move(str(base / "setup.exe"), folder / "setup.exe")
    # What an unquoted path or an expanded % would reach instead.
    decoy = base / "my dir-x decoy"
    decoy.mkdir()
    for name in PAYLOAD:
        (decoy / name).write_text("decoy")
    shutil.copy(native.kit / "StopHWIX.exe", base / "my.exe")
    run = native.run("setup.exe", folder, env={"SETUPTEST": "decoy"})
    assert run.exit_code == 0
    assert run.child_messages("StopHWIX") == []
    batch = next(m for m in run.messages if m.startswith("@echo off"))
    assert "%%SETUPTEST%%" in batch
    assert wait_for_batch(folder)
    assert names(folder) == ["setup.exe"]
    assert names(decoy) == sorted(PAYLOAD)


def test_extract_only_runs_no_install_and_writes_no_batch(native, make_workdir):
    folder = make_workdir(native)
    run = native.run("setup.exe -x", folder)
    assert run.exit_code == 0
    assert not (folder / "delzrph.bat").exists()
    assert run.child_messages("hwix Setup") == [] and "fn_Cleanup" not in run.messages


def test_failed_platform_check_never_starts_an_older_batch(setup32, make_workdir):
    """Only a batch this run wrote is started: one left by an earlier run (or planted) stays."""
    name = "oldbatch.exe"
    folder = make_workdir(setup32, exe_name=name)
    setup32.set_version(name, "win98")
    (folder / "old.txt").write_text("left by an earlier run")
    (folder / "delzrph.bat").write_bytes(
        b'@echo off\r\ndel /Q "%s\\old.txt"\r\ndel /Q "%s\\delzrph.bat"\r\n'
        % ((setup32.win_path(folder).encode(),) * 2))
    run = setup32.run(name, folder)
    assert run.exit_code == 1
    assert run.messages == ["fn_CheckOS: Operating System not supported", "fn_Cleanup"]
    assert not wait_for_batch(folder, seconds=2)
    assert names(folder) == ["delzrph.bat", "old.txt", name]


def test_batch_that_cannot_be_written_starts_nothing_and_removes_the_payload(native, make_workdir):
    folder = make_workdir(native)
    (folder / "delzrph.bat").mkdir()
    run = native.run("setup.exe -l", folder)
    assert run.exit_code == 3
    assert run.messages[-2:] == ["fn_Install: Cleanup batch not written, nothing started.",
                                 "fn_Cleanup"]
    assert not run.child_messages(native.client_module)
    # Removed by the setup itself; the result log stays, complete.
    assert names(folder) == ["delzrph.bat", "setup.exe", "setup.log"]
    assert (folder / "delzrph.bat").is_dir()
    assert b"nResult = 3" in (folder / "setup.log").read_bytes()
