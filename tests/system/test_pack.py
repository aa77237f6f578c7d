"""setup-pack: building a task package from the template and listing it."""

import fcntl
import hashlib
import os
import shutil
import signal
import struct
import subprocess
import time

import pytest

from conftest import (FLAVOURS, ROOT, TIME_FACTOR, WINE_LOADERS, Holder, folder_name,
                      small_drive)
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
    ("blank around a value", {"s.txt": b"result-key=A01 flash   \r\n"}, ["+", "--settings", "s.txt"],
     's.txt line 1: the value of result-key begins or ends with a blank: "A01 flash   "'),
    ("blank around an option", {}, ["+", "--trace-log-folder", "C:\\Logs "],
     "--trace-log-folder begins or ends with a blank"),
    ("stage folder on a share", {}, ["+", "--stage-folder", "\\\\srv\\stage"],
     "--stage-folder must be a folder on a local drive"),
    ("stage folder relative", {}, ["+", "--stage-folder", "Stage"],
     "--stage-folder must be a folder on a local drive"),
    ("stage folder with a stream", {}, ["+", "--stage-folder", "C:\\Stage:ads"],
     "stage-folder \"C:\\Stage:ads\" has a ':' other than the drive's"),
    ("stage folder with dot segments", {}, ["+", "--stage-folder", "C:\\Stage\\..\\..\\windows"],
     "has a segment of dots"),
    ("stage folder with a partial variable", {}, ["+", "--stage-folder", "C:\\x%PATH%y"],
     "has a '%' that is not a whole %NAME% segment"),
    ("UTF-16 settings", {"s.txt": "\ufeffresult-key=A01\r\n".encode("utf-16-le")},
     ["+", "--settings", "s.txt"], "s.txt is UTF-16 text: save it as UTF-8"),
    ("model with a separator", {}, ["+", "--model", "X1;X2"],
     '--model must be a name of 1 to 64 printable ASCII characters without \';\', not "X1;X2"'),
    ("model not ASCII", {}, ["+", "--model", "Caf\u00e9"], "--model must be a name"),
    ("model too long", {}, ["+", "--model", "M" * 65], "--model must be a name"),
    ("model with a blank around", {}, ["+", "--model", "X1 "], "--model begins or ends with a blank"),
    ("models twice", {"s.txt": b"models=X1\r\n"}, ["+", "--settings", "s.txt", "--model", "X2"],
     "models given twice"),
    ("33 models", {}, ["+"] + ["--model", "M"] * 33, "--model given 33 times: at most 32 models"),
    ("models empty in settings", {"s.txt": b"models=X1;\r\n"}, ["+", "--settings", "s.txt"],
     's.txt line 1: "X1;" is no value for models'),
    ("BIOS version too long", {}, ["+", "--bios-version", "V" * 65],
     "--bios-version must be 1 to 64 printable ASCII characters"),
    ("BIOS version with a blank around", {}, ["+", "--bios-version", " 1.62"],
     "--bios-version begins or ends with a blank"),
    # Paths Windows would refuse, or open under another name than the one written.
    ("output a wildcard", {}, ["*"], "--out \"*\" has a '*', which Windows refuses in a file name"),
    ("output with a question mark", {}, ["oth?r.exe"], "--out \"oth?r.exe\" has a '?'"),
    ("output ending in a blank", {}, ["new.exe "],
     '--out "new.exe " has a name ending in a blank or a dot, which Windows drops'),
    ("output a device", {}, ["nul"], '--out "nul" names a device ("nul")'),
    ("settings with a stream", {}, ["+", "--settings", "s.txt:x"],
     "--settings \"s.txt:x\" has a ':' other than a drive's"),
    ("output path too long", {}, ["a" * 230 + ".exe"],
     "the path is too long for a build beside it (its build folder's path would have"),
    ("UTF-16 settings without a mark", {"s.txt": "result-key=A01\r\n".encode("utf-16-le")},
     ["+", "--settings", "s.txt"], "s.txt is UTF-16 text: save it as UTF-8"),
    ("stage folder with a device", {}, ["+", "--stage-folder", "C:\\con\\x"],
     'stage-folder "C:\\con\\x" has a segment that names a device ("con")'),
    ("trace log folder a lone percent", {}, ["+", "--trace-log-folder", "%"],
     "trace-log-folder \"%\" has a '%' that is not a whole %NAME% segment"),
    # A certificate table that cannot be cut off whole, or is not where signing tools put it.
    ("certificate table inside a section", {"template.exe": lambda d: with_certificate_table(
        d, len(d) - 4096, 4096)}, [], "template.exe carries a certificate table that starts inside"),
    ("certificate table off its alignment", {"template.exe": lambda d: with_certificate_table(
        d + bytes(17), len(d) + 1, 16)}, [], "does not start on an 8-byte boundary"),
]


def with_certificate_table(data, offset, size):
    """The file with its certificate directory entry pointing at `offset`, `size`."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    entry = pe + 24 + (96 if magic == 0x10B else 112) + 4 * 8
    return data[:entry] + struct.pack("<II", offset, size) + data[entry + 8:]


@pytest.mark.parametrize("label,files,change,message", BAD_BUILDS, ids=[b[0] for b in BAD_BUILDS])
def test_failed_checks_leave_no_output(native, packdir, label, files, change, message):
    for name, data in files.items():
        (packdir / name).write_bytes(data((packdir / name).read_bytes()) if callable(data) else data)
    args = full_build()
    if change == ["--bios"]:
        i = args.index("--bios")
        del args[i : i + 2]
    elif change == ["missing.xml"]:
        args[args.index("schema.xml")] = "missing.xml"
    elif change == ["StopHWIX.exe"]:
        shutil.copy(native.kit / "StopHWIX.exe", packdir)
        args[args.index("template.exe")] = "StopHWIX.exe"
    elif change and change[0] == "+":
        args[-2:-2] = change[1:]
    elif change:
        args[-1] = change[0]
    (packdir / "task.exe").write_bytes(b"older package")
    code, out, err = pack(native, packdir, *args)
    assert code == 1
    lines = err.splitlines()
    assert len(lines) == 1 and lines[0].startswith("setup-pack: error: ") and message in lines[0]
    assert out == ""  # nothing said before the failure, as if the build had gone on
    assert (packdir / "task.exe").read_bytes() == b"older package"
    assert not list(packdir.glob("*.tmp")) and not list(packdir.glob("spk*"))


def test_a_build_without_a_reboot_exit_code_says_what_that_means(native, packdir):
    note = ("setup-pack: note: no --reboot-exit-code: a task that asks for a restart will report 0 "
            "and nothing restarts the PC; use --reboot-exit-code 3010")
    code, out, _ = pack(native, packdir, *full_build())
    assert code == 0 and note in out.splitlines()
    code, out, _ = pack(native, packdir, *full_build("--reboot-exit-code", "3010"))
    assert code == 0 and note not in out.splitlines()


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
    for request in ("--help", "-h", "/?"):
        code, out, err = pack(native, packdir, request)
        assert (code, err) == (0, ""), request
        for option in ("--template", "--profile", "--schema", "--bootdevices", "--bios", "--kit",
                       "--settings", "--reboot-exit-code", "--trace-log", "--trace-arguments",
                       "--trace-log-folder", "--result-key", "--client-wait", "--stage-folder",
                       "--suspend-bitlocker", "--out"):
            assert [line for line in out.splitlines() if line.startswith("  " + option + " ")], option
    code, _, err = pack(native, packdir, "list", "profile.xml")
    assert code == 1 and "is not a Windows executable" in err
    shutil.copy(native.kit / "uninst.exe", packdir)
    code, _, err = pack(native, packdir, "list", "uninst.exe")
    assert code == 1 and "is not a setup with a payload store" in err


def pe_signature_fields(data):
    """(stored checksum, checksum computed here, certificate table offset, size): an independent
    reading of the PE headers and of the loader's checksum."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    checksum_at = optional + 64
    stored = struct.unpack_from("<I", data, checksum_at)[0]
    cert_offset, cert_size = struct.unpack_from("<II", data, directories + 4 * 8)
    padded = data + b"\0" * (len(data) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
    for (word,) in struct.iter_unpack("<H", data[checksum_at:checksum_at + 4]):
        total -= word
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return stored, total + len(data), cert_offset, cert_size


def sign(folder, unsigned, signed):
    """Signs with a certificate made here, as an administrator's signing step would."""
    if not (folder / "cert.pem").exists():
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        "key.pem", "-out", "cert.pem", "-subj", "/CN=BIOS task test", "-days", "2"],
                       cwd=folder, check=True, capture_output=True)
    subprocess.run(["osslsigncode", "sign", "-certs", "cert.pem", "-key", "key.pem", "-in",
                    unsigned, "-out", signed], cwd=folder, check=True, capture_output=True)


@pytest.mark.skipif(shutil.which("osslsigncode") is None, reason="osslsigncode is not installed")
def test_a_signed_template_gives_an_unsigned_package_with_its_checksum(native, packdir):
    sign(packdir, "template.exe", "signed.exe")
    assert pe_signature_fields((packdir / "signed.exe").read_bytes())[3] > 0
    code, out, err = pack(native, packdir, "build", "--template", "signed.exe", "--profile",
                          "profile.xml", "--bios", "A01.hdr", "--out", "task.exe")
    assert (code, err) == (0, "")
    assert out.splitlines()[-1] == ("setup-pack: the template's signature was removed: sign the "
                                    "package before it is deployed")
    stored, computed, cert_offset, cert_size = pe_signature_fields((packdir / "task.exe").read_bytes())
    assert (cert_offset, cert_size) == (0, 0)
    assert stored == computed
    _, listed, _ = pack(native, packdir, "list", "task.exe")
    assert "Signature: none" in listed.splitlines()
    _, listed, _ = pack(native, packdir, "list", "signed.exe")
    assert [line for line in listed.splitlines() if line.startswith("Signature: a certificate")]

    sign(packdir, "task.exe", "task-signed.exe")
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", "cert.pem", "-in",
                               "task-signed.exe"], cwd=packdir, capture_output=True, text=True)
    assert verified.returncode == 0, verified.stdout + verified.stderr
    run_dir = packdir / "run"
    run_dir.mkdir()
    shutil.copy(packdir / "task-signed.exe", run_dir / "task.exe")
    native.own(run_dir)
    assert native.run("task.exe -x", run_dir).exit_code == 0


def kit_folder(target, packdir):
    kit = packdir / "kit"
    kit.mkdir()
    for name in KIT_FILES:
        shutil.copy(target.kit / name if (target.kit / name).exists() else DATA / name, kit / name)
    return kit


def cabinet_of(folder, cabinet, name, data):
    """A cabinet as another cabinet maker may write one: one folder, stored without compression,
    blocks without checksums (made here, so that the test needs no cabinet tool)."""
    blocks = [data[i:i + 32768] for i in range(0, len(data), 32768)] or [b""]
    entry = struct.pack("<IIHHHH", len(data), 0, 0, 0x5A21, 0, 0x20) + name.encode() + b"\0"
    first_block = 36 + 8 + len(entry)
    body = b"".join(struct.pack("<IHH", 0, len(b), len(b)) + b for b in blocks)
    size = first_block + len(body)
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, size, 0, 36 + 8, 0, 3, 1, 1, 1, 0, 0, 0)
    folder_entry = struct.pack("<IHH", first_block, len(blocks), 0)
    (folder / cabinet).write_bytes(header + folder_entry + entry + body)


def damaged(data):
    """The cabinet with one byte of its compressed data flipped: its headers still look whole,
    and the platform's extractor still unpacks it."""
    middle = len(data) // 2
    return data[:middle] + bytes([data[middle] ^ 0x01]) + data[middle + 1:]


BAD_KITS = [
    ("text named as the client", "runvex64.cab",
     lambda t: ("ZunaClientModule64.exe", b"echo this is no program\r\n"),
     "runvex64.cab: its ZunaClientModule64.exe is not a Windows program"),
    ("damaged data blocks", "QMB.cab", None, "QMB.cab cannot be a kit cabinet: its data"),
    ("x86 client in the 64-bit variant", "runvex64.cab",
     lambda t: ("ZunaClientModule64.exe", (FLAVOURS[32].kit / "ZunaClientModule32.exe").read_bytes()),
     "its ZunaClientModule64.exe is an x86 program, which cannot run where the 64-bit setup"),
    ("x86-64 client in the 32-bit variant", "Runvex.cab",
     lambda t: ("ZunaClientModule32.exe", (FLAVOURS[64].kit / "ZunaClientModule64.exe").read_bytes()),
     "its ZunaClientModule32.exe is an x86-64 program"),
    # What the loader refuses to start although its machine type fits.
    ("x86-64 DLL as the client", "runvex64.cab",
     lambda t: ("ZunaClientModule64.exe", client64_with(characteristics=0x2000)),
     "its ZunaClientModule64.exe is a DLL, not a program"),
    ("the client cut after 1024 bytes", "runvex64.cab",
     lambda t: ("ZunaClientModule64.exe", client64_with()[:1024]),
     "its ZunaClientModule64.exe is not a Windows program (it is cut short"),
    ("an EFI application as the client", "runvex64.cab",
     lambda t: ("ZunaClientModule64.exe", client64_with(subsystem=10)),
     "its ZunaClientModule64.exe is built for subsystem 10, not for Windows"),
]


def client64_with(characteristics=0, subsystem=None):
    """The 64-bit stand-in client module with flags added to its characteristics, or another
    subsystem."""
    data = bytearray((FLAVOURS[64].kit / "ZunaClientModule64.exe").read_bytes())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    struct.pack_into("<H", data, pe + 22, struct.unpack_from("<H", data, pe + 22)[0] | characteristics)
    if subsystem is not None:
        struct.pack_into("<H", data, pe + 24 + 68, subsystem)
    return bytes(data)


@pytest.mark.parametrize("label,cabinet,content,message", BAD_KITS, ids=[k[0] for k in BAD_KITS])
def test_kit_cabinets_are_unpacked_and_their_programs_checked(native, packdir, label, cabinet,
                                                               content, message):
    """Each kit cabinet is unpacked as the setup will, and the program the setup starts from it
    must run where that variant is used (64-bit template for the x86 client module case)."""
    shutil.copy(FLAVOURS[64].setup_exe, packdir / "template.exe")
    kit = kit_folder(native, packdir)
    if content is None:
        (kit / cabinet).write_bytes(damaged((kit / cabinet).read_bytes()))
    else:
        name, data = content(native)
        (kit / cabinet).unlink()
        cabinet_of(kit, cabinet, name, data)
    code, out, err = pack(native, packdir, *full_build("--kit", "kit"))
    assert code == 1
    lines = err.splitlines()
    assert len(lines) == 1 and message in lines[0], err
    assert out == "" and not (packdir / "task.exe").exists()
    assert not list(packdir.glob("task.exe.building-*"))


# Folders beside the output, planted as builds on this PC or another would leave them: with the
# marker a live build claims (held here by hold.exe; locked from elsewhere, as a file server or
# another Wine prefix shows another PC's claim; or no longer), without one (an older builder's, or
# one a build is just making), or of another output. Each with what a build writes into it.
BUILD_FOLDERS = [
    ("task.exe.building-0000001f.tmp", "killed", False),
    ("task.exe.building-4000001.tmp", "live", True),  # its process ID means nothing here
    ("task.exe.building-5a5a5a5a.tmp", "claimed elsewhere", True),
    ("task.exe.building-4000000.tmp", "old", False),
    ("task.exe.building-3d.tmp", "young", True),
    ("other.exe.building-999.tmp", "old", True),
    ("zzz.building-999.tmp", "killed", True),
    ("task.exe.building-7x.tmp", "killed", True),
]
MARKER = "build.lock"
TWO_DAYS = 2 * 24 * 3600


class ClaimedElsewhere:
    """A claim made outside the prefix: the first byte of the marker locked by this process."""

    def __init__(self, path):
        self.file = open(path, "r+b")
        fcntl.lockf(self.file, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, 0)

    def release(self):
        self.file.close()


def plant_build_folders(target, packdir):
    holders = []
    for name, state, _ in BUILD_FOLDERS:
        folder = packdir / name
        folder.mkdir()
        (folder / "spk1A2B.tmp").write_bytes(b"MZ" + bytes(4096))
        if state in ("killed", "live", "claimed elsewhere"):
            (folder / MARKER).write_bytes(b"")
        if state == "live":
            holders.append(Holder(target, folder / MARKER))
        if state == "claimed elsewhere":
            holders.append(ClaimedElsewhere(folder / MARKER))
        if state == "old":
            os.utime(folder, (time.time() - TWO_DAYS,) * 2)
    return holders


def test_a_build_removes_only_folders_its_output_left_abandoned(native, packdir):
    """Nothing is touched before the inputs and the output are checked; then a build removes the
    folders of killed builds of its output and older builders' folders unchanged for a day, never
    a live build's (whatever PC runs it, whatever its process ID), a young one, or another
    output's; and it leaves nothing in the temporary folder."""
    holders = plant_build_folders(native, packdir)
    temp = sorted(native.drive_c.glob("users/*/Temp"))
    assert temp
    before = {p.name for folder in temp for p in folder.iterdir()}
    kit = kit_folder(native, packdir).name
    try:
        for out, bad_profile, message in [("*", False, "--out \"*\" has a '*'"),
                                           ("oth?r.exe", False, "--out \"oth?r.exe\" has a '?'"),
                                           ("task.exe", True, "profile.xml is not well-formed")]:
            (packdir / "profile.xml").write_bytes(b"<root>" if bad_profile else FLASH_PROFILE)
            args = full_build("--kit", kit)
            args[-1] = out
            code, _, err = pack(native, packdir, *args)
            assert code == 1 and message in err, err
            assert all((packdir / name).exists() for name, _, _ in BUILD_FOLDERS), out
        (packdir / "profile.xml").write_bytes(FLASH_PROFILE)
        code, _, err = pack(native, packdir, *full_build("--kit", kit))
        assert (code, err) == (0, "")
        assert {name for name, _, kept in BUILD_FOLDERS if (packdir / name).exists()} == \
            {name for name, _, kept in BUILD_FOLDERS if kept}
        for name, state, _ in BUILD_FOLDERS:
            if state in ("live", "claimed elsewhere"):
                assert (packdir / name / "spk1A2B.tmp").exists() and (packdir / name / MARKER).exists()
        assert {p.name for folder in temp for p in folder.iterdir()} == before
    finally:
        for holder in holders:
            holder.release()


def test_a_live_build_keeps_its_folder_and_the_next_build_after_a_kill_builds(native, packdir):
    """A builder stopped in the middle of its build (its folder marked and held) is passed by:
    a second build of the same output builds beside it. Once it is killed, a build with a bad
    profile names the profile and touches nothing; the next good build removes its folder."""
    with open(packdir / "A01.hdr", "wb") as image:
        image.truncate(96 << 20)
    kit = kit_folder(native, packdir).name
    stopped = None
    for _ in range(5):
        proc = subprocess.Popen(native.command(WINE_LOADERS[native.arch], str(native.pack_exe),
                                               *full_build("--kit", kit)),
                                cwd=packdir, env=native.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60 * TIME_FACTOR
        while proc.poll() is None and time.monotonic() < deadline:
            markers = list(packdir.glob("task.exe.building-*.tmp/" + MARKER))
            if markers:
                os.kill(proc.pid, signal.SIGSTOP)
                if markers[0].exists():
                    stopped = markers[0].parent
                    break
                os.kill(proc.pid, signal.SIGCONT)
            time.sleep(0.002)
        if stopped:
            break
        proc.wait()
    assert stopped, "the builder never showed its marked folder"
    try:
        code, out, err = pack(native, packdir, *full_build("--kit", kit))
        assert (code, err) == (0, "") and "setup-pack: wrote task.exe" in out
        assert stopped.exists() and (stopped / MARKER).exists()
    finally:
        proc.kill()
        proc.wait()
    (packdir / "profile.xml").write_bytes(b"<root>")
    code, _, err = pack(native, packdir, *full_build("--kit", kit))
    assert code == 1 and "profile.xml is not well-formed" in err and stopped.exists()
    (packdir / "profile.xml").write_bytes(FLASH_PROFILE)
    code, _, err = pack(native, packdir, *full_build("--kit", kit))
    assert (code, err) == (0, "")
    assert not list(packdir.glob("task.exe.building-*"))


def test_a_drive_too_small_for_the_build_is_refused_before_anything_is_written(native, packdir):
    with small_drive(native, 1 << 20) as drive:
        (packdir / "A01.hdr").write_bytes(bytes(range(256)) * 2800)  # 700 KB
        code, out, err = pack(native, packdir, *full_build()[:-1], "Q:\\w\\task.exe")
        assert (code, out) == (1, "")
        lines = err.splitlines()
        assert len(lines) == 1 and lines[0].startswith(
            "setup-pack: error: the folder of Q:\\w\\task.exe has "), err
        assert lines[0].endswith(" (twice the package)") and "KiB free; the build needs about" in err
        assert list(drive.iterdir()) == []


def test_a_package_beyond_what_the_resource_update_writes_is_refused(native, packdir):
    """2.2 GiB of image: refused in one line before anything is written, never a crash."""
    if native.flavour.bits != 64:
        pytest.skip("only the 64-bit builder takes inputs beyond 256 MiB")
    with open(packdir / "A01.hdr", "wb") as image:
        image.truncate(2200 << 20)  # sparse: no disk is used
    code, out, err = pack(native, packdir, *full_build())
    assert code == 1 and out == ""
    lines = err.splitlines()
    assert len(lines) == 1 and lines[0].startswith(
        "setup-pack: error: the package's payload adds up to 2200 MiB; ")
    assert lines[0].endswith("a package holds at most 2032 MiB (2 GiB - 16 MiB)")
    assert not list(packdir.glob("task.exe*"))


def test_a_package_near_the_limit_is_built_whole(native, packdir):
    """An image that brings the payload to 16 MiB below the limit builds, is read back whole and
    listed: the limit is one the platform's resource update meets."""
    if native.flavour.bits != 64:
        pytest.skip("only the 64-bit builder takes inputs beyond 256 MiB")
    free = shutil.disk_usage(packdir).free
    if free < 5 << 29:
        pytest.skip(f"a package near the limit needs about 2.5 GiB of free disk, {free >> 20} MiB "
                    "free")
    with open(packdir / "A01.hdr", "wb") as image:
        image.truncate(2016 << 20)  # sparse: only the package takes disk
    try:
        code, out, err = pack(native, packdir, *full_build())
        assert (code, err) == (0, "")
        code, out, _ = pack(native, packdir, "list", "task.exe")
        assert code == 0
        assert list_rows(out)[(110, "neutral")][2] == str(2016 << 20)
    finally:
        for path in packdir.glob("task.exe*"):
            path.unlink()


def test_the_32bit_limit_counts_the_entries_kept_from_the_template(native, packdir):
    """A package of the 32-bit setup holds at most 1 GiB: 600 MiB kept from the template (a kit
    file) and a 500 MiB image are refused together, although the new input alone would fit."""
    if native.flavour.bits != 64:
        pytest.skip("only the 64-bit builder takes inputs beyond 256 MiB")
    free = shutil.disk_usage(packdir).free
    if free < 3 << 29:
        pytest.skip(f"a 600 MiB template needs about 1.5 GiB of free disk, {free >> 20} MiB free")
    shutil.copy(FLAVOURS[32].setup_exe, packdir / "template.exe")
    kit = kit_folder(native, packdir)
    with open(kit / "ksmbios_data.htm", "wb") as big:
        big.truncate(600 << 20)
    try:
        code, _, err = pack(native, packdir, *full_build("--kit", "kit"))
        assert (code, err) == (0, "")
        (packdir / "task.exe").rename(packdir / "big-template.exe")
        with open(packdir / "A01.hdr", "wb") as image:
            image.truncate(500 << 20)
        code, out, err = pack(native, packdir, "build", "--template", "big-template.exe",
                              "--profile", "profile.xml", "--bios", "A01.hdr", "--out", "task.exe")
        assert (code, out) == (1, "")
        assert err.startswith("setup-pack: error: the package's payload adds up to 1100 MiB; a "
                              "package of the 32-bit setup holds at most 1024 MiB"), err
        assert not (packdir / "task.exe").exists()
    finally:
        for path in [packdir / "big-template.exe", packdir / "task.exe", kit / "ksmbios_data.htm"]:
            path.unlink(missing_ok=True)
