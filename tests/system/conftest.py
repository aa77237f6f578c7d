"""Runs the real setup under Wine: the 32-bit setup in a 32-bit prefix and in a 64-bit one
(WOW64), the 64-bit setup in a 64-bit prefix. Combinations this machine cannot run are skipped
with the reason."""

import contextlib
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import pytest
from _pytest.runner import runtestprotocol

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "scripts"))
from machine import can_run_32bit  # noqa: E402

WINE_ROOT = Path(os.environ.get("SETUP_WINE_ROOT", "/tmp/setup-tests-wine"))
# Debian's `wine` wrapper starts 32-bit Wine whenever it is installed, also for a 64-bit program;
# each prefix is started by the loader of its own bitness.
WINE_LOADERS = {"win32": "/usr/lib/wine/wine", "win64": "/usr/lib/wine/wine64"}
CAN_RUN_32BIT, CANNOT_RUN_32BIT_REASON = can_run_32bit()
# Set by test.sh when the emulated machine that would run the 32-bit setup could not run either.
LANE_UNAVAILABLE = os.environ.get("SETUP_LANE_UNAVAILABLE", "")
SKIP_32BIT_REASON = (f"{CANNOT_RUN_32BIT_REASON}"
                     + (f" and the emulated machine could not run ({LANE_UNAVAILABLE})"
                        if LANE_UNAVAILABLE else "")
                     + ": the 32-bit setup was not run")
# Waits scale by this factor where the machine is slower (the emulated machine sets it).
TIME_FACTOR = float(os.environ.get("SETUP_TIME_FACTOR", "1"))


class Flavour:
    """One build of the setup with its kit and test tools."""

    def __init__(self, bits, build, setup_name, pack_name):
        self.bits = bits
        self.build = build
        self.setup_exe = build / f"{setup_name}.exe"
        self.shortwait_exe = build / f"{setup_name}-shortwait.exe"
        self.pack_exe = build / f"{pack_name}.exe"
        self.kit = build / "kit"
        self.tools = build / "tests" / "tools"


FLAVOURS = {
    32: Flavour(32, Path(os.environ.get("SETUP_BUILD_DIR", ROOT / "build" / "windows")),
                "setup", "setup-pack"),
    64: Flavour(64, Path(os.environ.get("SETUP_BUILD64_DIR", ROOT / "build" / "windows64")),
                "setup64", "setup-pack64"),
}
# Which setup runs in which prefix.
COMBINATIONS = {"setup32-win32": (32, "win32"), "setup32-wow64": (32, "win64"),
                "setup64-win64": (64, "win64")}
NATIVE = ["setup32-win32", "setup64-win64"]

# The volatile key of a PC that waits for the restart a BIOS task asked for.
RESTART_MARK = "HKLM\\SOFTWARE\\Corvane\\BIOS task restart pending"
RESULT_RECORDS = "HKLM\\SOFTWARE\\Corvane\\BIOS task package"
REG_KEY_MISSING = b"Unable to find the specified registry key"
RESTART_PENDING = "WinMain: A restart is pending for BIOS task package"
TASK_NOT_OVER = "fn_Install: Task not over, processes still running: "
DEBUG_LINE = re.compile(r'^([0-9a-f]+):warn:debugstr:OutputDebugString[AW] "(.*)"(\.\.\.)?$')
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "'": "'", "0": "\0"}
BATCH_WAIT_SECONDS = 30 * TIME_FACTOR


def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c != "\\" or i + 1 == len(text):
            out.append(c)
            i += 1
            continue
        nxt = text[i + 1]
        if nxt == "x":
            out.append(chr(int(text[i + 2 : i + 4], 16)))
            i += 4
        elif nxt in ESCAPES:
            out.append(ESCAPES[nxt])
            i += 2
        else:
            out.append(nxt)
            i += 2
    return "".join(out)


class Run:
    def __init__(self, exit_code, stderr):
        self.exit_code = exit_code
        self.stderr = stderr
        self.events = []  # (thread, text, cut)
        for line in stderr.splitlines():
            m = DEBUG_LINE.match(line)
            if m:
                self.events.append((m.group(1), unescape(m.group(2)), bool(m.group(3))))
        first = next((t for t, text, _ in self.events if text.startswith("fn_CheckOS")), None)
        self.setup_thread = first

    def __repr__(self):
        return f"<Run exit code {self.exit_code}>"

    def report(self):
        """What the run said: shown with a failed test (its captured output), so that a rare
        failure on another machine can be read from its report alone."""
        shown = "\n  ".join(self.all_messages[-60:])
        return f"run ended with exit code {self.exit_code}; its last debug texts:\n  {shown}"

    @property
    def messages(self):
        """The setup's own debug texts, in order."""
        return [text for t, text, _ in self.events if t == self.setup_thread]

    @property
    def all_messages(self):
        return [text for _, text, _ in self.events]

    def child_messages(self, who):
        return [t[len(who) + 2 :] for t in self.all_messages if t.startswith(who + ": ")]


class Prefix:
    """A Wine prefix of one bitness, run as root or, with `user`, as that unprivileged user (for
    whom a read-only file really cannot be written)."""

    def __init__(self, arch, user=None):
        self.arch = arch
        self.user = user
        self.staged_names = set()
        self.path = WINE_ROOT / (arch if user is None else f"{arch}-{user}")
        self.env = dict(os.environ)
        self.env.update(
            WINEPREFIX=str(self.path),
            WINEARCH=arch,
            WINEDEBUG="-all",
            WINEDLLOVERRIDES="mscoree,mshtml=",
        )
        self.env.pop("DISPLAY", None)
        if user is not None:
            self.env.update(HOME=str(prepare_user_home(user)), USER=user, LOGNAME=user)
        if not (self.path / "system.reg").exists():
            self.path.parent.mkdir(parents=True, exist_ok=True)
            if user is not None:
                self.path.mkdir(exist_ok=True)
                self.own(self.path)
            self.wine("wineboot", "-i", timeout=300 * TIME_FACTOR)
            # The server of the first boot starts no new service in time; a fresh one does.
            self.stop()
        subprocess.run(self.command("wineserver", "-p"), env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wine("wineboot")  # waits until the prefix is up

    def command(self, *args):
        """The command line that runs `args` as the prefix's user."""
        return (["runuser", "-m", "-u", self.user, "--"] if self.user else []) + list(args)

    def own(self, path):
        """Gives a file or folder tree made by the tests to the prefix's user."""
        if self.user is None:
            return
        subprocess.run(["chown", "-R", f"{self.user}:", str(path)], check=True)

    def staged(self, folder, name):
        """`folder` where the prefix's user can read it: a copy inside the prefix for a user
        prefix (the checkout may lie where that user cannot go), else the folder itself."""
        if self.user is None:
            return folder
        copy = self.drive_c / name
        if name not in self.staged_names:
            shutil.rmtree(copy, ignore_errors=True)
            shutil.copytree(folder, copy)
            self.own(copy)
            self.staged_names.add(name)
        return copy

    @property
    def drive_c(self):
        return self.path / "drive_c"

    def win_path(self, unix_path):
        rel = Path(unix_path).resolve().relative_to(self.drive_c.resolve())
        return "C:\\" + str(rel).replace("/", "\\") if str(rel) != "." else "C:\\"

    def wine(self, *args, cwd=None, env=None, timeout=120, log=None):
        timeout *= TIME_FACTOR
        full_env = dict(self.env)
        full_env.update(env or {})
        # Files, not pipes: a child that outlives the run keeps inherited descriptors open.
        with contextlib.ExitStack() as files:
            err = files.enter_context(open(log, "wb") if log else tempfile.TemporaryFile())
            out = files.enter_context(tempfile.TemporaryFile())
            proc = subprocess.run(self.command(WINE_LOADERS[self.arch], *args), cwd=cwd, env=full_env,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  timeout=timeout)
            out.seek(0)
            proc.stdout = out.read()
            if not log:
                err.seek(0)
                proc.stderr = err.read()
        return proc

    def registry_values(self, key):
        """The values of an HKLM key as `reg query` shows them (in the 64-bit view on 64-bit
        Windows), or None where the key is missing. A `reg` that fails for another reason (it
        has, rarely, under load) is asked once more, then the failure is the test's."""
        view = ["/reg:64"] if self.arch == "win64" else []
        for _ in range(2):
            proc = self.wine("reg", "query", key, *view)
            if proc.returncode == 0:
                out = proc.stdout.decode(errors="replace")
                # reg's own columns: a value keeps its blanks, an empty one takes no next line.
                return dict(re.findall(r"^ {4}(\w+) {4}REG_\w+ {4}(.*?)\r?$", out, re.M))
            if REG_KEY_MISSING in proc.stdout + proc.stderr:  # Wine's reg says it on stdout
                return None
        raise AssertionError(f"reg query {key} failed twice: exit code {proc.returncode}, "
                             f"{proc.stdout + proc.stderr!r}")

    def run_exactly(self, launcher, command_line, cwd, env=None, timeout=300, log=None):
        """Starts `command_line` exactly through `launcher`, with cwd as current directory, and
        collects the debug output of everything it starts (in `log`, by default beside cwd)."""
        log = log or Path(cwd).parent / (Path(cwd).name + ".stderr")
        extra = {"LAUNCH_COMMAND_LINE": command_line, "WINEDEBUG": "-all,warn+debugstr"}
        extra.update(env or {})
        proc = self.wine(str(launcher), cwd=cwd, env=extra, timeout=timeout, log=log)
        # The launcher prints the whole exit code; the process status keeps its low byte only.
        m = re.search(rb"^exit code (\d+)\r?$", proc.stdout, re.M)
        return Run(int(m.group(1)) if m else proc.returncode, log.read_text(errors="replace"))

    def use_locale(self, env):
        """Starts a process under another locale and lets Wine settle it: the first processes
        after a switch may convert their command line with the old code page and lose its end."""
        for _ in range(2):
            self.wine("cmd", "/c", "exit", env=env)

    def set_version(self, exe_name, version):
        key = "HKCU\\Software\\Wine\\AppDefaults\\" + exe_name
        self.wine("reg", "add", key, "/v", "Version", "/d", version, "/f")

    def remove_service(self):
        # The uninstaller of the prefix's own bitness runs on every machine that runs the prefix.
        kit = self.staged(FLAVOURS[64 if self.arch == "win64" else 32].kit, "kit-uninst")
        self.wine(str(kit / "uninst.exe"))
        assert self.service_state() is None, "the hwix service could not be removed"

    def service_state(self):
        out = self.wine("sc", "query", "hwix").stdout.decode(errors="replace")
        m = re.search(r"STATE\s*:\s*\d+\s+(\w+)", out)
        return m.group(1) if m else None

    def stop(self):
        subprocess.run(self.command("wineserver", "-k"), env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def restart(self):
        """The restart of a PC, for a Wine prefix: its server ends, and with it the volatile
        registry keys (the restart mark among them)."""
        self.stop()
        subprocess.run(self.command("wineserver", "-p"), env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wine("wineboot")

    def restart_mark(self):
        """The values of the restart mark, or None when the PC waits for no restart."""
        return self.registry_values(RESTART_MARK)


TEST_USER = "setuptest"


def prepare_user_home(user):
    """Creates the unprivileged test user (once) and a home folder it owns."""
    if subprocess.run(["id", "-u", user], stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/bin/sh", user],
                       check=True)
    home = WINE_ROOT / f"home-{user}"
    home.mkdir(parents=True, exist_ok=True)
    subprocess.run(["chown", f"{user}:", str(home)], check=True)
    return home


# What the summary line counts: a test that passed only when it ran a second time.
SECOND_RUN = "passed on a second run after"


@pytest.hookimpl(tryfirst=True)
def pytest_runtest_protocol(item, nextitem):
    """A failed test runs once more. Wine here loses a process now and then, also one the setup
    starts (a cleanup batch that never ran, a `reg` that answered nothing; about one in a full run
    of the suite), which no retry inside a test can reach. A test that fails twice fails; one that
    passes the second time is named, with its first failure, in the summary line."""
    item.ihook.pytest_runtest_logstart(nodeid=item.nodeid, location=item.location)
    reports = runtestprotocol(item, nextitem=nextitem, log=False)
    failure = next((r for r in reports if r.failed), None)
    if failure is not None:
        item._initrequest()
        reports = runtestprotocol(item, nextitem=nextitem, log=False)
        if not any(r.failed for r in reports):
            crash = getattr(failure.longrepr, "reprcrash", None)
            first = crash.message.splitlines()[0] if crash else str(failure.longrepr)[-200:]
            # The JUnit report takes a test's properties from its last report (its teardown).
            reports[-1].user_properties.append((SECOND_RUN, first))
    for report in reports:
        item.ihook.pytest_runtest_logreport(report=report)
    item.ihook.pytest_runtest_logfinish(nodeid=item.nodeid, location=item.location)
    return True


@pytest.hookimpl(trylast=True)
def pytest_collection_modifyitems(config, items):
    """SETUP_TEST_SHARD=K/N keeps every Nth test from the Kth on (after -k has chosen), so that
    N shards of the suite run side by side, each in a test machine of its own."""
    shard = os.environ.get("SETUP_TEST_SHARD")
    if not shard:
        return
    number, count = (int(part) for part in shard.split("/"))
    kept = [item for index, item in enumerate(items) if index % count == number - 1]
    config.hook.pytest_deselected(items=[item for item in items if item not in kept])
    items[:] = kept


@pytest.fixture(scope="session")
def prefix32():
    prefix = Prefix("win32")
    yield prefix
    prefix.stop()


@pytest.fixture(scope="session")
def prefix64():
    prefix = Prefix("win64")
    yield prefix
    prefix.stop()


# Root writes read-only files all the same; these prefixes run as an unprivileged user. A run
# that is not root is unprivileged already and uses the ordinary prefixes.
@pytest.fixture(scope="session")
def prefix32_user():
    prefix = Prefix("win32", TEST_USER)
    yield prefix
    prefix.stop()


@pytest.fixture(scope="session")
def prefix64_user():
    prefix = Prefix("win64", TEST_USER)
    yield prefix
    prefix.stop()


class Target:
    """One flavour of the setup in one prefix: runs its setup with its own test tools."""

    def __init__(self, name, flavour, prefix):
        self.name = name
        self.flavour = flavour
        self.prefix = prefix
        self._tools = prefix.staged(flavour.tools, f"tools{flavour.bits}")
        self._kit = prefix.staged(flavour.kit, f"kit{flavour.bits}")

    def __getattr__(self, attribute):
        return getattr(self.prefix, attribute)

    @property
    def windows64(self):
        return self.prefix.arch == "win64"

    @property
    def setup_exe(self):
        return self.flavour.setup_exe

    @property
    def shortwait_exe(self):
        return self.flavour.shortwait_exe

    @property
    def pack_exe(self):
        return self.flavour.pack_exe

    @property
    def kit(self):
        return self._kit

    @property
    def tools(self):
        return self._tools

    @property
    def client_module(self):
        """The client module the setup picks on this Windows, without its extension."""
        return "ZunaClientModule64" if self.windows64 else "ZunaClientModule32"

    def run(self, command_line, cwd, env=None, timeout=300, log=None, keep_restart_mark=False,
            wait_for_lock=True):
        """Runs the setup and, unless `wait_for_lock` is false, waits until its machine lock is
        gone (its batch or a late child ended). A run that left the PC waiting for its restart is
        followed by the prefix's restart (unless the test keeps the mark), so the next run finds
        the PC free."""
        if not wait_for_lock:
            env = dict(env or {}, LAUNCH_NO_LOCK_WAIT="1")
        run = self.prefix.run_exactly(self.tools / "launch.exe", command_line, cwd, env, timeout,
                                      log)
        print(run.report())
        if not keep_restart_mark and leaves_restart_mark(run):
            self.prefix.restart()
        return run


def leaves_restart_mark(run):
    """Whether the run closed the PC until its restart: its client module asked for one, or its
    task was not over when the setup ended."""
    return any(t == "Is shutdown" or t.startswith(TASK_NOT_OVER) for t in run.all_messages)


def make_target(request, name, unprivileged=False):
    bits, arch = COMBINATIONS[name]
    if (bits == 32 or arch == "win32") and not CAN_RUN_32BIT:
        pytest.skip(SKIP_32BIT_REASON)
    fixture = "prefix32" if arch == "win32" else "prefix64"
    if unprivileged and os.geteuid() == 0:
        fixture += "_user"
    return Target(name, FLAVOURS[bits], request.getfixturevalue(fixture))


@pytest.fixture(params=list(COMBINATIONS))
def prefix(request):
    """Every combination: the 32-bit setup in both prefixes, the 64-bit one in its own."""
    return make_target(request, request.param)


@pytest.fixture(params=NATIVE)
def native(request):
    """Each setup in the prefix of its own bitness (no WOW64)."""
    return make_target(request, request.param)


@pytest.fixture(params=NATIVE)
def unprivileged(request):
    """Each setup in the prefix of its own bitness, run by a user who cannot write read-only
    files."""
    return make_target(request, request.param, unprivileged=True)


@pytest.fixture(params=["setup32-win32", "setup32-wow64"])
def setup32(request):
    """The 32-bit setup, on 32- and on 64-bit Windows."""
    return make_target(request, request.param)


@pytest.fixture(params=["setup32-wow64"])
def wow64(request):
    """The 32-bit setup on 64-bit Windows."""
    return make_target(request, request.param)


def folder_name(test_name):
    """A folder name for a test: readable, and unique also where Windows ignores case (the
    parameters "-L" and "/l" would otherwise share one folder)."""
    digest = hashlib.sha1(test_name.encode()).hexdigest()[:8]
    return re.sub(r"[^A-Za-z0-9]+", "_", test_name)[:50] + "_" + digest


@pytest.fixture
def make_workdir(request):
    """Makes a fresh folder on drive C of a prefix, holding a copy of the target's setup."""

    def make(target, suffix="", exe=None, exe_name="setup.exe"):
        folder = target.drive_c / "t" / (folder_name(request.node.name) + suffix)
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        shutil.copy(exe or target.setup_exe, folder / exe_name)
        target.own(folder)
        return folder

    return make


@pytest.fixture
def workdir(prefix, make_workdir):
    return make_workdir(prefix)


def z_path(unix_path):
    """The Windows name of a Unix path, through Wine's drive Z:."""
    return "Z:" + str(Path(unix_path).resolve()).replace("/", "\\")


def wait_for_batch(folder, seconds=BATCH_WAIT_SECONDS):
    """The cleanup batch runs after the setup has exited: wait until it has deleted itself."""
    deadline = time.monotonic() + seconds
    batch = Path(folder) / "delzrph.bat"
    while batch.exists() and time.monotonic() < deadline:
        time.sleep(0.05)
    return not batch.exists()


HOLD_SECONDS = int(60 * TIME_FACTOR)


class Holder:
    """Keeps a file open so that the setup can neither replace nor delete it, while it can still
    be started: the file is not this run's."""

    def __init__(self, target, path):
        self.proc = subprocess.Popen(
            target.command(WINE_LOADERS[target.arch], str(target.tools / "hold.exe"),
                           target.win_path(path), str(HOLD_SECONDS)),
            env=target.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        assert self.proc.stdout.readline().strip() == b"held", f"cannot hold {path}"

    def release(self):
        self.proc.kill()
        self.proc.wait()


def processes_in_prefix(target, needle):
    """The Unix processes of the target's prefix whose command line holds `needle` (bytes)."""
    found = []
    for entry in os.scandir("/proc"):
        if not entry.name.isdigit():
            continue
        try:
            with open(f"/proc/{entry.name}/cmdline", "rb") as f:
                command_line = f.read()
        except OSError:
            continue
        if needle in command_line and runs_in_prefix(entry.name, target.path):
            found.append((int(entry.name), command_line))
    return found


def runs_in_prefix(pid, prefix_path):
    """Whether a process belongs to the Wine prefix at `prefix_path`: another run of the suite,
    with a Wine root of its own, may run beside this one on the same machine."""
    try:
        with open(f"/proc/{pid}/environ", "rb") as f:
            return b"WINEPREFIX=" + str(prefix_path).encode() in f.read().split(b"\0")
    except OSError:
        return False


class PeakMemory:
    """Samples the peak anonymous (private) resident memory of the process running `exe` in the
    Wine prefix at `prefix_path`."""

    def __init__(self, exe, prefix_path):
        self.exe, self.prefix_path, self.peak, self.running = exe, prefix_path, 0, True
        self.thread = threading.Thread(target=self.sample)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.running = False
        self.thread.join()

    def sample(self):
        while self.running:
            for pid in os.listdir("/proc"):
                if not pid.isdigit():
                    continue
                try:
                    if self.exe not in open(f"/proc/{pid}/cmdline", "rb").read().decode(errors="replace"):
                        continue
                    if not runs_in_prefix(pid, self.prefix_path):
                        continue
                    for line in open(f"/proc/{pid}/status"):
                        if line.startswith("RssAnon:"):
                            self.peak = max(self.peak, int(line.split()[1]) * 1024)
                except OSError:
                    pass
            time.sleep(0.002)


def patch_entry(target, exe, entry_id, data, scratch):
    """Sets a language-neutral payload entry of a setup copy to `data`. The patcher is the
    tests' own tool, never what a test is about: one that failed (seen once under the load of
    the emulated machines beside the host, with nothing said) is started once more, and what it
    said is shown when it fails again."""
    source = Path(scratch) / f"entry{entry_id}.bin"
    log = Path(scratch) / f"entry{entry_id}.stderr"
    source.write_bytes(data)
    for _ in range(2):
        proc = target.wine(str(target.tools / "respatch.exe"), z_path(exe), str(entry_id),
                           z_path(source), log=log)
        if proc.returncode == 0:
            break
    source.unlink()
    assert proc.returncode == 0, \
        f"respatch {entry_id} failed: {log.read_text(errors='replace')[-400:]}"


@contextlib.contextmanager
def small_drive(target, size):
    """A drive Q: of `size` bytes (a tmpfs), holding the folder w; yields that folder."""
    if os.geteuid() != 0:
        pytest.skip("a small drive needs root to mount a tmpfs")
    mount = Path(tempfile.mkdtemp(prefix="setup-small-drive-"))
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "tmpfs",
                              str(mount)], stderr=subprocess.DEVNULL).returncode == 0
    if not mounted:
        mount.rmdir()
        pytest.skip("this machine does not allow mounting a tmpfs for a small drive")
    link = target.path / "dosdevices" / "q:"
    try:
        if link.is_symlink():
            link.unlink()
        link.symlink_to(mount)
        (mount / "w").mkdir()
        yield mount / "w"
    finally:
        if link.is_symlink():
            link.unlink()
        subprocess.run(["umount", str(mount)])
        mount.rmdir()

