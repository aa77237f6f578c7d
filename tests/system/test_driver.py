"""The driver: platform check, options, working directory and the result log."""

import shutil

import pytest

from conftest import make_target, wait_for_batch

LEGEND = (
    b"==========================\r\n"
    b"Result Code:\r\n"
    b"0 - Success.\r\n"
    b"1 - Incorrect OS version, only Window 2000/XP are supported.\r\n"
    b"2 - Could not create all installation files.\r\n"
    b"3 - Call to Runvex.exe failed.\r\n"
    b"4 - Could not uninstall HWIX QMB.\r\n"
)


def expected_log(code):
    return b"[Setup Result]\r\nApplication = Corvane\r\nnResult = %d\r\n" % code + LEGEND


def test_supported_platform_lays_out_and_logs(prefix, workdir):
    (workdir / "setup.log").write_bytes(b"an older, longer log\r\n" * 40)
    run = prefix.run("setup.exe -x -l", workdir)
    assert run.exit_code == 0
    assert run.messages[0] == "fn_CheckOS: Operating System supported"
    assert (workdir / "setup.log").read_bytes() == expected_log(0)
    assert "fn_Cleanup" not in run.messages


# A 64-bit program never loads on these systems, and Wine does not pretend otherwise for it.
@pytest.mark.parametrize("version", ["win98", "nt40"])
def test_unsupported_platform_exits_1_and_still_logs(setup32, make_workdir, version):
    prefix = setup32
    name = f"old{version}.exe"
    folder = make_workdir(prefix, exe_name=name)
    prefix.set_version(name, version)
    run = prefix.run(f"{name} -l", folder)
    assert run.exit_code == 1
    assert run.messages == ["fn_CheckOS: Operating System not supported", "fn_Cleanup"]
    assert (folder / f"old{version}.log").read_bytes() == expected_log(1)
    assert sorted(p.name for p in folder.iterdir()) == [name, f"old{version}.log"]


@pytest.mark.parametrize("options", ["", "-L", "/l", "-log", "-lx", "-l\t-x"])
def test_no_log_without_the_exact_option(native, make_workdir, options):
    folder = make_workdir(native)
    (folder / "setup.log").write_bytes(b"untouched")
    run = native.run(f"setup.exe -x {options}", folder)
    assert run.exit_code == 0
    assert (folder / "setup.log").read_bytes() == b"untouched"


def test_quoted_program_path_with_hyphen_and_option_value(native, make_workdir):
    folder = make_workdir(native)
    sub = folder / "my-tools"
    sub.mkdir()
    shutil.move(str(folder / "setup.exe"), sub / "pkg.setup.exe")
    run = native.run(f'"{native.win_path(sub)}\\pkg.setup.exe" -l:yes -x', folder)
    assert run.exit_code == 0
    # The log is named after the executable and lies in the working directory.
    assert (folder / "pkg.setup.log").read_bytes() == expected_log(0)
    assert (folder / "profile.xml").exists() and not (folder / "delzrph.bat").exists()


def test_backslash_before_closing_quote_hides_later_options(native, make_workdir):
    native.remove_service()
    folder = make_workdir(native)
    run = native.run('setup.exe -dir:"C:\\temp\\" -l -x', folder)
    assert run.exit_code == 0
    # Neither -l nor -x was seen: a full run, cleaned up, without a log.
    assert "fn_Cleanup" in run.messages
    assert wait_for_batch(folder)
    assert sorted(p.name for p in folder.iterdir()) == ["setup.exe"]


def test_drive_root_working_directory(native):
    native.remove_service()
    exe = native.drive_c / "rootcase.exe"
    log = native.drive_c / "rootcase.log"
    log.unlink(missing_ok=True)
    shutil.copy(native.setup_exe, exe)
    try:
        before = set(native.drive_c.iterdir())
        run = native.run("rootcase.exe -l", native.drive_c)
        assert run.exit_code == 0
        assert log.read_bytes() == expected_log(0)
        batch = next(m for m in run.messages if m.startswith("@echo off"))
        assert '\r\ndel /F /Q "C:\\profile.xml"\r\n' in batch
        assert wait_for_batch(native.drive_c)
        assert set(native.drive_c.iterdir()) == before | {log}
    finally:
        exe.unlink(missing_ok=True)
        log.unlink(missing_ok=True)


def test_system_directory_on_64_bit_windows_becomes_the_wow64_directory(wow64, make_workdir):
    prefix64 = wow64
    prefix64.remove_service()
    folder = make_workdir(prefix64, exe_name="wowcase.exe")
    system32 = prefix64.drive_c / "windows" / "system32"
    syswow64 = prefix64.drive_c / "windows" / "syswow64"
    for d in (system32, syswow64):
        (d / "wowcase.log").unlink(missing_ok=True)
    before = set(syswow64.iterdir())
    run = prefix64.run(f"{prefix64.win_path(folder)}\\wowcase.exe -l", system32)
    try:
        assert run.exit_code == 0
        assert (syswow64 / "wowcase.log").read_bytes() == expected_log(0)
        assert not (system32 / "wowcase.log").exists()
        batch = next(m for m in run.messages if m.startswith("@echo off"))
        assert 'del /F /Q "C:\\windows\\syswow64\\profile.xml"' in batch
        assert wait_for_batch(syswow64)
        assert set(syswow64.iterdir()) == before | {syswow64 / "wowcase.log"}
    finally:
        (syswow64 / "wowcase.log").unlink(missing_ok=True)


def test_native_64_bit_setup_keeps_the_system_directory(request, make_workdir):
    """No WOW64 redirection to undo: the 64-bit setup started in system32 stays there."""
    target = make_target(request, "setup64-win64")
    target.remove_service()
    folder = make_workdir(target, exe_name="nativecase.exe")
    system32 = target.drive_c / "windows" / "system32"
    log = system32 / "nativecase.log"
    log.unlink(missing_ok=True)
    before = set(system32.iterdir())
    run = target.run(f"{target.win_path(folder)}\\nativecase.exe -l", system32)
    try:
        assert run.exit_code == 0
        assert log.read_bytes() == expected_log(0)
        batch = next(m for m in run.messages if m.startswith("@echo off"))
        assert 'del /F /Q "C:\\windows\\system32\\profile.xml"' in batch
        assert run.child_messages("ZunaClientModule64")
        assert wait_for_batch(system32)
        assert set(system32.iterdir()) == before | {log}
    finally:
        log.unlink(missing_ok=True)


@pytest.mark.parametrize("name", ["setup32-wow64", "setup64-win64"])
def test_64_bit_windows_gets_the_64_bit_variants(request, make_workdir, name):
    target = make_target(request, name)
    folder = make_workdir(target)
    run = target.run("setup.exe -x -l", folder)
    assert run.exit_code == 0
    assert (folder / "setup.log").exists()
    assert (folder / "ZunaClientModule64.exe").exists()
    assert not (folder / "ZunaClientModule32.exe").exists()
    assert "NTamd64" in (folder / "hwixqmb" / "hwix.inf").read_text()


@pytest.mark.parametrize("tail", ['-x -a:"unbalanced -l', "-x -", '-x -dir:"C:\\temp\\"',
                                  "-x \t-l\t", "-x " + '-a:"b\\" -' * 3000])
def test_hostile_command_line_is_accepted(native, make_workdir, tail):
    folder = make_workdir(native)
    run = native.run(f"setup.exe {tail}", folder)
    assert run.exit_code == 0
    assert run.messages[-1] == "fn_CreateInstallationFiles: All files created successfully."
    assert not (folder / "setup.log").exists()
