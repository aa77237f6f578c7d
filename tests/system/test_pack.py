"""setup-pack: building a task package from the template and listing it."""

import hashlib
import shutil
import struct

import pytest

from conftest import FLAVOURS, ROOT, folder_name
DATA = ROOT / "kit" / "data"
FLASH_PROFILE = b'<root><command type="bootstatus"/><command type="flash" image="A01.hdr"/></root>'
SCHEMA = b'<root schemaVersion="2.0"><setting name="x"/></root>'
BOOT = b"<bootDevices><device id=\"HDD\"/></bootDevices>"
KIT_FILES = ["runvex64.cab", "QMB64.cab", "QMB.cab", "Runvex.cab", "uninst.exe", "StopHWIX.exe",
             "ksmbios_data.htm", "QTMStandaloneSvc.cab", "!Readme.txt"]


@pytest.fixture
def packdir(native, request):
    folder = native.drive_c / "pack" / folder_name(request.node.name)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy(native.setup_exe, folder / "template.exe")
    (folder / "profile.xml").write_bytes(FLASH_PROFILE)
    (folder / "schema.xml").write_bytes(SCHEMA)
    (folder / "boot.xml").write_bytes(BOOT)
    (folder / "A01.hdr").write_bytes(bytes(range(256)) * 300)
    return folder


def pack(target, folder, *args):
    log = folder.parent / (folder.name + ".stderr")
    proc = target.wine(str(target.pack_exe), *args, cwd=folder, log=log)
    return proc.returncode, proc.stdout.decode(errors="replace"), log.read_text(errors="replace")


def list_rows(out):
    """The entry rows of `setup-pack list`, by (ID, language)."""
    return {(int(r[0]), r[1]): r for r in (line.split() for line in out.splitlines())
            if r and r[0].isdigit()}


def full_build(*extra):
    return ["build", "--template", "template.exe", "--profile", "profile.xml", "--schema",
            "schema.xml", "--bootdevices", "boot.xml", "--bios", "A01.hdr", *extra,
            "--out", "task.exe"]


def test_round_trip(native, packdir):
    kit = packdir / "kit"
    kit.mkdir()
    for name in KIT_FILES:
        shutil.copy(native.kit / name if (native.kit / name).exists() else DATA / name, kit / name)
    (kit / "!Readme.txt").write_bytes(b"Our own readme.\r\n")
    code, out, err = pack(native, packdir, *full_build("--kit", "kit"))
    assert (code, err) == (0, "")
    assert "the BIOS image will be written as A01.hdr" in out
    assert "sign the package again" in out and "osslsigncode" in out

    code, out, _ = pack(native, packdir, "list", "task.exe")
    assert code == 0
    rows = list_rows(out)
    inputs = {107: packdir / "profile.xml", 114: packdir / "schema.xml",
              115: packdir / "boot.xml", 110: packdir / "A01.hdr", 118: kit / "!Readme.txt"}
    for entry, path in inputs.items():
        data = path.read_bytes()
        assert rows[(entry, "neutral")][2:4] == [str(len(data)), hashlib.sha256(data).hexdigest()]
    assert rows[(110, "en-US")][-2:] == ["placeholder,", "unused"]
    assert out.splitlines()[-1] == "BIOS image name: A01.hdr"

    run_dir = packdir / "run"
    run_dir.mkdir()
    shutil.copy(packdir / "task.exe", run_dir)
    run = native.run("task.exe -x", run_dir)
    assert run.exit_code == 0
    for written, path in [("profile.xml", packdir / "profile.xml"),
                          ("schema.xml", packdir / "schema.xml"),
                          ("bootdevices.xml", packdir / "boot.xml"), ("A01.hdr", packdir / "A01.hdr"),
                          ("!Readme.txt", kit / "!Readme.txt"),
                          ("StopHWIX.exe", kit / "StopHWIX.exe")]:
        assert (run_dir / written).read_bytes() == path.read_bytes(), written
    assert not (run_dir / "Flash.hdr").exists()


def machine_type(exe):
    data = exe.read_bytes()
    return struct.unpack_from("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4)[0]


def test_either_template_with_either_builder(native, packdir):
    """Each builder makes a package from the 32- and from the 64-bit template, which keeps its
    machine type and carries the task's entries."""
    for bits, machine in ((32, 0x14C), (64, 0x8664)):
        shutil.copy(FLAVOURS[bits].setup_exe, packdir / "template.exe")
        code, _, err = pack(native, packdir, *full_build())
        assert (code, err) == (0, ""), bits
        assert machine_type(packdir / "task.exe") == machine
        code, out, _ = pack(native, packdir, "list", "task.exe")
        assert code == 0 and out.splitlines()[-1] == "BIOS image name: A01.hdr", bits
        data = (packdir / "A01.hdr").read_bytes()
        row = list_rows(out)[(110, "neutral")]
        assert row[2:4] == [str(len(data)), hashlib.sha256(data).hexdigest()], bits


BAD_BUILDS = [
    ("profile not well-formed", {"profile.xml": b"<root>"}, [], "not well-formed"),
    ("profile root", {"profile.xml": b"<task/>"}, [], "document element must be <root>"),
    ("schema version", {"schema.xml": b"<root/>"}, [], "needs the attribute schemaVersion"),
    ("boot devices root", {"boot.xml": b"<root/>"}, [], "must be <bootDevices>"),
    ("image not given", {}, ["--bios"], 'names the image "A01.hdr": give that image with --bios'),
    ("image not plain", {"profile.xml": b'<root><command type="FLASH" image="..\\x.hdr"/></root>'},
     [], "not a plain file name"),
    ("image is a device", {"profile.xml": b'<root><command type="flash" image="nul.hdr"/></root>'},
     [], "not a plain file name"),
    ("image is the batch", {"profile.xml": b'<root><command type="flash" image="DELZRPH.BAT"/>'
                                           b'</root>'},
     [], "a name the setup uses for its own files"),
    ("flash without image", {"profile.xml": b'<root><command type="flash"/></root>'}, [],
     "names no image"),
    ("unreadable file", {}, ["missing.xml"], "cannot read missing.xml"),
    ("not a setup", {}, ["StopHWIX.exe"], "is not a setup with a payload store"),
    ("output folder missing", {}, ["nowhere\\task.exe"], "cannot write into the folder"),
]


@pytest.mark.parametrize("label,files,change,message", BAD_BUILDS, ids=[b[0] for b in BAD_BUILDS])
def test_failed_checks_leave_no_output(native, packdir, label, files, change, message):
    for name, data in files.items():
        (packdir / name).write_bytes(data)
    args = full_build()
    if change == ["--bios"]:
        i = args.index("--bios")
        del args[i : i + 2]
    elif change == ["missing.xml"]:
        args[args.index("schema.xml")] = "missing.xml"
    elif change == ["StopHWIX.exe"]:
        shutil.copy(native.kit / "StopHWIX.exe", packdir)
        args[args.index("template.exe")] = "StopHWIX.exe"
    elif change:
        args[-1] = change[0]
    (packdir / "task.exe").write_bytes(b"older package")
    code, out, err = pack(native, packdir, *args)
    assert code == 1
    lines = err.splitlines()
    assert len(lines) == 1 and lines[0].startswith("setup-pack: error: ") and message in lines[0]
    assert (packdir / "task.exe").read_bytes() == b"older package"
    assert not list(packdir.glob("*.tmp")) and not list(packdir.glob("spk*"))


def test_image_without_flash_command_is_written_as_flash_hdr(native, packdir):
    (packdir / "profile.xml").write_bytes((DATA / "profile.xml").read_bytes())
    code, out, _ = pack(native, packdir, *full_build())
    assert code == 0
    assert "no flash command: the BIOS image will be written as Flash.hdr" in out
    code, out, _ = pack(native, packdir, "list", "task.exe")
    assert out.splitlines()[-1] == "BIOS image name: Flash.hdr"


def test_usage_errors_and_listing_a_non_setup(native, packdir):
    for args in ([], ["build", "--out"], ["build", "--template", "t.exe"], ["frobnicate"],
                 ["build", "--profile", "a", "--profile", "b", "--template", "t", "--out", "o"]):
        code, _, err = pack(native, packdir, *args)
        assert code == 2 and "usage: setup-pack build" in err, args
    code, _, err = pack(native, packdir, "list", "profile.xml")
    assert code == 1 and "is not a Windows executable" in err
    shutil.copy(native.kit / "uninst.exe", packdir)
    code, _, err = pack(native, packdir, "list", "uninst.exe")
    assert code == 1 and "is not a setup with a payload store" in err
