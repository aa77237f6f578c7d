"""setup-pack with inputs as a hurried administrator gives them: cut templates, empty files,
settings to change or remove, codes a caller would misread, names the package needs, outputs
that are inputs, cabinets from other makers, settings files as editors save them."""

import shutil
import subprocess

import pytest

from cabinet import Entry, write_cabinet
from conftest import FLAVOURS, patch_entry, wait_for_batch
from test_pack import DATA, FLASH_PROFILE, KIT_FILES, full_build, list_rows, pack, packdir  # noqa: F401

ERROR = "setup-pack: error: "


def refused(target, folder, args, message):
    """One line on stderr naming the fault, exit code 1, and no output."""
    before = sorted(p.name for p in folder.iterdir())
    code, _, err = pack(target, folder, *args)
    lines = err.splitlines()
    assert code == 1, err
    assert len(lines) == 1 and lines[0].startswith(ERROR), err
    assert message in lines[0], lines[0]
    assert sorted(p.name for p in folder.iterdir()) == before
    return lines[0]


def make_kit(target, folder):
    kit = folder / "kit"
    kit.mkdir(exist_ok=True)
    for name in KIT_FILES:
        source = target.kit / name if (target.kit / name).exists() else DATA / name
        shutil.copy(source, kit / name)
    return kit


def test_cut_or_damaged_template_and_package(native, packdir):
    setup = native.setup_exe.read_bytes()
    (packdir / "tr.exe").write_bytes(setup[:300000])
    (packdir / "tiny.exe").write_bytes(setup[:700])
    (packdir / "random.exe").write_bytes(bytes((i * 131 + 7) % 256 for i in range(5000)))
    for name in ("tr.exe", "tiny.exe", "random.exe"):
        refused(native, packdir, ["list", name], f"{name} is not a setup with a payload store")
        args = full_build()
        args[args.index("template.exe")] = name
        refused(native, packdir, args, f"{name} is not a setup with a payload store")


@pytest.mark.parametrize("option,name", [("--bios", "A01.hdr"), ("--profile", "profile.xml"),
                                         ("--schema", "schema.xml")])
def test_empty_inputs_are_refused(native, packdir, option, name):
    (packdir / name).write_bytes(b"")
    refused(native, packdir, full_build(), f"{name} is empty")


def test_empty_kit_file_is_refused(native, packdir):
    kit = make_kit(native, packdir)
    (kit / "!Readme.txt").write_bytes(b"")
    refused(native, packdir, full_build("--kit", "kit"), "!Readme.txt is empty")


def test_settings_are_what_the_command_line_says(native, packdir):
    code, out, err = pack(native, packdir, *full_build("--reboot-exit-code", "3010", "--trace-log"))
    assert code == 0, err
    assert "setup-pack: settings: reboot-exit-code=3010, trace-log=yes" in out
    shutil.move(str(packdir / "task.exe"), packdir / "with.exe")

    def rebuild(*extra):
        args = full_build(*extra)
        args[args.index("template.exe")] = "with.exe"
        code, out, err = pack(native, packdir, *args)
        assert code == 0, err
        listed = pack(native, packdir, "list", "task.exe")[1].splitlines()
        return out, [line for line in listed if line.startswith("Settings: ")][0]

    # No settings option: the template's settings stay; any option replaces them as a whole.
    assert rebuild()[1] == "Settings: reboot-exit-code=3010, trace-log=yes"
    assert rebuild("--trace-arguments")[1] == "Settings: trace-arguments=yes"
    (packdir / "empty.txt").write_bytes(b"")
    out, shown = rebuild("--settings", "empty.txt")
    assert shown == "Settings: none" and "setup-pack: settings: none" in out

    # The setup agrees: no reboot exit code, no trace log.
    run_dir = packdir / "run"
    run_dir.mkdir()
    shutil.copy(packdir / "task.exe", run_dir / "task.exe")
    run = native.run("task.exe --reboot", run_dir)
    assert run.exit_code == 0
    assert not (run_dir / "task.trace.log").exists()


@pytest.mark.parametrize("language", [1033, 1031])
def test_settings_entry_in_another_language_is_ignored_by_list_and_setup(native, packdir,
                                                                          language):
    (packdir / "s.txt").write_bytes(b"reboot-exit-code=3010\r\ntrace-log=yes\r\n")
    proc = native.wine(str(native.tools / "respatch.exe"), "template.exe", "119", "s.txt",
                       str(language), cwd=packdir)
    assert proc.returncode == 0
    code, out, _ = pack(native, packdir, "list", "template.exe")
    assert "Settings: none" in out
    row = list_rows(out)[(119, "en-US" if language == 1033 else str(language))]
    assert "ignored: only the neutral settings entry counts" in " ".join(row)
    run_dir = packdir / "run"
    run_dir.mkdir()
    shutil.copy(packdir / "template.exe", run_dir / "setup.exe")
    run = native.run("setup.exe --reboot", run_dir)
    assert run.exit_code == 0
    assert not (run_dir / "setup.trace.log").exists()


@pytest.mark.parametrize("code", ["1", "2", "3", "4", "259", "1618"])
def test_misread_reboot_exit_codes_are_refused(native, packdir, code):
    line = refused(native, packdir, full_build("--reboot-exit-code", code),
                   f"--reboot-exit-code {code} would be misread")
    assert "3010 or 1641" in line
    (packdir / "s.txt").write_bytes(f"reboot-exit-code={code}\r\n".encode())
    refused(native, packdir, full_build("--settings", "s.txt"), "is no value for reboot-exit-code")


def test_large_image_by_the_builders_limits(native, packdir):
    """300 MiB: more than the 32-bit builder can hold, well within the 64-bit one's."""
    with open(packdir / "A01.hdr", "wb") as image:
        image.truncate(300 * 1024 * 1024)
    if native.flavour.bits == 32:
        refused(native, packdir, full_build(), "setup-pack.exe takes at most 256 MiB")
        return
    code, _, err = pack(native, packdir, *full_build())
    assert code == 0, err
    rows = list_rows(pack(native, packdir, "list", "task.exe")[1])
    assert rows[(110, "neutral")][2] == str(300 * 1024 * 1024)
    (packdir / "task.exe").unlink()


@pytest.mark.parametrize("image", ["task.exe", "task.log", "TASK.trace.log", "Task.Log."])
def test_image_named_like_the_package_or_its_logs(native, packdir, image):
    (packdir / "profile.xml").write_bytes(
        f'<root><command type="flash" image="{image}"/></root>'.encode())
    refused(native, packdir, full_build(), "a name the setup uses for its own files or the package's")


@pytest.mark.parametrize("option,input_name,out", [
    ("--bios", "b2.hdr", "B2.HDR"), ("--profile", "p2.xml", "p2.xml"),
    ("--template", "t2.exe", ".\\T2.exe"), ("--schema", "s2.xml", "S2.xml")])
def test_output_that_is_an_input_is_refused(native, packdir, option, input_name, out):
    source = {"--bios": "A01.hdr", "--profile": "profile.xml", "--template": "template.exe",
              "--schema": "schema.xml"}[option]
    shutil.copy(packdir / source, packdir / input_name)
    before = (packdir / input_name).read_bytes()
    args = full_build()
    args[args.index(source)] = input_name
    args[args.index("task.exe")] = out
    refused(native, packdir, args, f"--out {out} is the input")
    assert (packdir / input_name).read_bytes() == before


def test_kit_cabinets_are_checked(native, packdir):
    kit = make_kit(native, packdir)
    client = "runvex64.cab" if native.flavour.bits == 64 else "Runvex.cab"
    program = (native.kit / ("ZunaClientModule64.exe" if native.flavour.bits == 64
                             else "ZunaClientModule32.exe")).read_bytes()
    cases = [
        ("Runvex.cab", bytes(range(256)) * 40, "Runvex.cab cannot be a kit cabinet: it is not a cabinet"),
        ("runvex64.cab", write_cabinet([Entry(b"other.exe", b"x")]), "holds no ZunaClientModule64.exe"),
        ("QMB.cab", write_cabinet([Entry(b"readme.txt", b"x")]), "holds no setup.exe"),
        ("QTMStandaloneSvc.cab", write_cabinet([Entry(b"..\\evil.exe", b"x")]), "not a plain name"),
        (client, write_cabinet([Entry(b"x.exe", program)], continues_in=b"next.cab"), "cabinet set"),
    ]
    for name, data, message in cases:
        original = (kit / name).read_bytes()
        (kit / name).write_bytes(data)
        refused(native, packdir, full_build("--kit", "kit"), message)
        (kit / name).write_bytes(original)
    code, _, err = pack(native, packdir, *full_build("--kit", "kit"))
    assert code == 0, err


def test_settings_files_as_editors_save_them(native, packdir):
    (packdir / "bom.txt").write_bytes(b"\xef\xbb\xbfreboot-exit-code=3010\r\n")
    code, out, err = pack(native, packdir, *full_build("--settings", "bom.txt"))
    assert code == 0, err
    assert "setup-pack: settings: reboot-exit-code=3010" in out
    (packdir / "task.exe").unlink()
    (packdir / "zero.txt").write_bytes(b"colour\x00red=1\r\n")
    line = refused(native, packdir, full_build("--settings", "zero.txt"), "unknown setting")
    assert '"colour\\x00red"' in line
    (packdir / "cr.txt").write_bytes(b"trace-log=yes\rdone\r\n")
    line = refused(native, packdir, full_build("--settings", "cr.txt"), "is no value for trace-log")
    assert '"yes\\rdone"' in line
