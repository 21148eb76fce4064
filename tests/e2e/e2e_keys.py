#!/usr/bin/python3
"""The real program under Xvfb: two keys arrive, one file is copied onto both, one key leaves.

Usage: e2e_keys.py <essaimeur executable>

Needs root inside the private mount namespace given by tests/support/in-private-mounts.sh.
Screenshots go to the working folder; with ESSAIMEUR_UPDATE_SCREENSHOTS=1 they are also
copied to docs/ for the README.
"""

import ctypes
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIPPED = 77
WINDOW_TITLE = "Essaimeur par Mervane"
SCREEN = (1280, 1024)
DOCS = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs"))

# Window geometry in pixels, from the window's description (twips / 15).
SLOT_PANEL = (500, 4)
SOURCE_PANEL = (4, 6)
STATUS_TOPS = {1: 216, 2: 216, 3: 216, 4: 216, 5: 452, 6: 452, 7: 452, 8: 452}
STATUS_LEFTS = {1: 49, 2: 207, 3: 367, 4: 525, 5: 46, 6: 206, 7: 366, 8: 525}
STATUS_HEIGHT = 26
SOURCE_FILE_LIST = (232, 34)  # File1(0) inside vkFrame1
LAUNCH_BUTTON = (796, 536, 201, 43)  # LanceCopie: left, top, width, height in the client area

GREY = (0xE0, 0xE0, 0xE0)
CYAN = (0, 255, 255)
GREEN = (0, 255, 0)
COLOUR_NAMES = {GREY: "grey", CYAN: "cyan", GREEN: "green", (255, 255, 0): "yellow"}

NEEDED_TOOLS = {
    "Xvfb": "xvfb",
    "xdotool": "xdotool",
    "import": "imagemagick",
    "mkfs.ext4": "e2fsprogs",
    "losetup": "mount",
    "cmp": "diffutils",
    "dbus-daemon": "dbus-daemon",
}


class Failed(Exception):
    pass


class Terminated(Exception):
    pass


def say(message):
    print("e2e: " + message, flush=True)


def run(*args, timeout=60, check=True):
    try:
        done = subprocess.run(args, timeout=timeout, check=False, text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    except subprocess.TimeoutExpired:
        raise Failed("%s did not finish within %d s" % (" ".join(args), timeout))
    if check and done.returncode != 0:
        raise Failed("%s failed (%d): %s" % (" ".join(args), done.returncode, (done.stderr or "").strip()))
    return done


PR_SET_PDEATHSIG = 1
PR_SET_CHILD_SUBREAPER = 36


def die_with_parent():
    # A child outliving this script would keep the private namespace, and its mounts, alive.
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def adopt_orphans():
    # The accessibility bus launcher, its bus and registry are started by the session bus and
    # outlive it for a moment; as subreaper we get them, and end and reap them ourselves.
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1)


def children():
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == os.getpid():
            pids.append(int(entry))
    return pids


def end_children(grace=5):
    deadline = time.monotonic() + grace
    while time.monotonic() < deadline + grace:
        try:
            while os.waitpid(-1, os.WNOHANG)[0] > 0:
                pass
        except ChildProcessError:
            return
        left = children()
        if not left:
            return
        for pid in left:
            try:
                os.kill(pid, signal.SIGTERM if time.monotonic() < deadline else signal.SIGKILL)
            except ProcessLookupError:
                pass
        time.sleep(0.1)


# Every wait also ends here, so that the run ends, and cleans up, well within CTest's timeout.
RUN_DEADLINE = time.monotonic() + 200


def poll(what, probe, timeout):
    """Calls probe until it returns something true; its last value explains a failure."""
    deadline = min(time.monotonic() + timeout, RUN_DEADLINE)
    while True:
        value, ok = probe()
        if ok:
            return value
        if time.monotonic() > deadline:
            raise Failed("%s (after %d s: %r)" % (what, timeout, value))
        time.sleep(0.1)


class Checks:
    def __init__(self):
        self.passed = 0

    def ok(self, what):
        self.passed += 1
        say(what + ": ok")


class Session:
    """Everything the run starts, so that all of it goes away whatever fails."""

    def __init__(self, executable, out_dir):
        self.executable = executable
        self.out_dir = out_dir
        self.tmp = tempfile.mkdtemp(prefix="essaimeur-e2e-")
        self.mounts = []  # innermost last
        self.images = []
        self.processes = []
        self.display = None
        self.window = None
        self.geometry = None
        self.app_log = os.path.join(out_dir, "essaimeur-e2e.log")

    # --- volumes -------------------------------------------------------------------------
    def mount_tmpfs(self, where):
        run("mount", "-t", "tmpfs", "-o", "size=1m,mode=0755", "essaimeur-e2e", where)
        self.mounts.append(where)

    def make_image(self, label, size_mib=24):
        image = os.path.join(self.tmp, label + ".img")
        with open(image, "wb") as f:
            f.truncate(size_mib * 1024 * 1024)
        run("mkfs.ext4", "-q", "-F", "-L", label, image)
        self.images.append(image)
        return image

    def mount_image(self, image, where):
        os.makedirs(where, exist_ok=True)
        run("mount", "-o", "loop", image, where)
        self.mounts.append(where)

    def unmount(self, where):
        run("umount", where)
        self.mounts.remove(where)

    # --- processes -----------------------------------------------------------------------
    def start(self, args, **kwargs):
        process = subprocess.Popen(args, preexec_fn=die_with_parent, **kwargs)
        self.processes.append(process)
        return process

    def read_line(self, process, read_end, what):
        line = b""
        deadline = time.monotonic() + 20
        os.set_blocking(read_end, False)
        try:
            while not line.endswith(b"\n"):
                if process.poll() is not None:
                    raise Failed("%s exited with %d before giving its %s" % (
                        process.args[0], process.returncode, what))
                if time.monotonic() > deadline:
                    raise Failed("%s gave no %s within 20 s" % (process.args[0], what))
                try:
                    chunk = os.read(read_end, 256)
                except BlockingIOError:
                    time.sleep(0.05)
                    continue
                if not chunk:
                    raise Failed("%s closed its pipe before giving its %s" % (process.args[0], what))
                line += chunk
        finally:
            os.close(read_end)
        return line.decode().strip()

    def start_session_bus(self):
        # A bus of our own, so that the program and the reader meet on one accessibility bus;
        # the accessibility bus launcher it starts keeps its socket in this runtime folder.
        runtime = os.path.join(self.tmp, "run")
        os.mkdir(runtime, 0o700)
        os.environ["XDG_RUNTIME_DIR"] = runtime
        read_end, write_end = os.pipe()
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--nosyslog", "--print-address=%d" % write_end],
                         pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.read_line(bus, read_end, "address")

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        xvfb = self.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % SCREEN,
                           "-nolisten", "tcp", "-noreset"],
                          pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        self.display = ":" + self.read_line(xvfb, read_end, "display")
        os.environ["DISPLAY"] = self.display

    def start_program(self, working_folder):
        env = dict(os.environ)
        env.update({"QT_QPA_PLATFORM": "xcb", "DISPLAY": self.display, "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
                    "QT_ACCESSIBILITY": "1", "LC_ALL": "C.UTF-8", "LANG": "C.UTF-8"})
        log = open(self.app_log, "w")
        self.program = self.start([self.executable], cwd=working_folder, env=env,
                                  stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        log.close()

    def program_alive(self):
        if self.program.poll() is not None:
            raise Failed("the program exited with %d; its output is in %s" % (
                self.program.returncode, self.app_log))

    def find_window(self):
        def probe():
            self.program_alive()
            found = run("xdotool", "search", "--onlyvisible", "--name", WINDOW_TITLE, check=False)
            ids = found.stdout.split()
            return ids, len(ids) == 1

        self.window = poll("the window '%s' appears" % WINDOW_TITLE, probe, 30)[0]
        shell = run("xdotool", "getwindowgeometry", "--shell", self.window).stdout
        values = dict(line.split("=", 1) for line in shell.split())
        self.geometry = tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    # --- screen --------------------------------------------------------------------------
    def grab(self):
        """The whole screen as packed RGB bytes."""
        raw = subprocess.run(["import", "-silent", "-display", self.display, "-window", "root", "-depth", "8",
                              "rgb:-"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        if raw.returncode != 0 or len(raw.stdout) != SCREEN[0] * SCREEN[1] * 3:
            raise Failed("could not grab the screen: %s" % raw.stderr.decode(errors="replace").strip())
        return raw.stdout

    def client_to_screen(self, x, y):
        # No window manager under Xvfb: the client area starts at the window's position.
        return self.geometry[0] + x, self.geometry[1] + y

    def status_point(self, slot):
        # Left part of the box, clear of its centred caption.
        x = SLOT_PANEL[0] + STATUS_LEFTS[slot] + 6
        y = SLOT_PANEL[1] + STATUS_TOPS[slot] + STATUS_HEIGHT // 2
        return self.client_to_screen(x, y)

    def status_colours(self, slots, screen=None):
        screen = screen or self.grab()
        colours = {}
        for slot in slots:
            x, y = self.status_point(slot)
            at = (y * SCREEN[0] + x) * 3
            colours[slot] = tuple(screen[at:at + 3])
        return colours

    def wait_colours(self, wanted, timeout):
        def probe():
            self.program_alive()
            seen = self.status_colours(wanted)
            return seen, all(seen[s] == c for s, c in wanted.items())

        try:
            return poll("slots reach their colours", probe, timeout)
        except Failed:
            seen = self.status_colours(wanted)
            self.screenshot("failure")
            raise Failed("slot colours: wanted %s, saw %s (screen in %s)" % (
                describe(wanted), describe(seen), os.path.join(self.out_dir, "screenshot-failure.png")))

    def screenshot(self, name):
        target = os.path.join(self.out_dir, "screenshot-%s.png" % name)
        run("import", "-silent", "-display", self.display, "-window", self.window, target, timeout=30)
        if name != "failure" and os.environ.get("ESSAIMEUR_UPDATE_SCREENSHOTS") == "1":
            shutil.copyfile(target, os.path.join(DOCS, os.path.basename(target)))
        return target

    def click(self, x, y):
        sx, sy = self.client_to_screen(x, y)
        run("xdotool", "mousemove", "--sync", str(sx), str(sy), "click", "1")

    # --- accessibility -------------------------------------------------------------------
    def accessible_text(self, name):
        # A child process, so that a stuck accessibility bus costs a timeout, not the run.
        env = dict(os.environ, PYTHONPATH="")
        try:
            done = subprocess.run(["/usr/bin/python3", os.path.abspath(__file__), "--read-text",
                                   str(self.program.pid), name],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=10, env=env)
        except subprocess.TimeoutExpired:
            raise Failed("reading %s through accessibility took over 10 s" % name)
        if done.returncode != 0:
            raise Failed("reading %s through accessibility failed: %s" % (
                name, done.stderr.decode(errors="replace").strip()))
        return json.loads(done.stdout.decode("utf-8"))

    def wait_text(self, name, what, accept, timeout):
        def probe():
            self.program_alive()
            try:
                text = self.accessible_text(name)
            except Failed as error:  # the program may not have joined the accessibility bus yet
                return str(error), False
            return text, accept(text)

        return poll("%s holds %s" % (name, what), probe, timeout)

    # --- cleanup -------------------------------------------------------------------------
    def close(self):
        problems = []
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait(5)
        end_children()
        for where in reversed(self.mounts):
            if run("umount", where, check=False).returncode != 0:
                problems.append(where)
                run("umount", "-l", where, check=False)
        for image in self.images:
            for line in run("losetup", "-j", image, check=False).stdout.splitlines():
                run("losetup", "-d", line.split(":", 1)[0], check=False)
        shutil.rmtree(self.tmp, ignore_errors=True)
        return problems


def describe(colours):
    return ", ".join("slot %d %s" % (s, COLOUR_NAMES.get(c, "rgb%s" % (c,))) for s, c in sorted(colours.items()))


def report_lines(text):
    return re.split(r"\r\n|\r|\n", text)


def kilo_octets(blocks, fragment):
    return int(round(blocks * fragment / 1024.0))


def arrival_report(letter, label, mount_point):
    fs = os.statvfs(mount_point)
    return [
        "Connection du périphérique !",
        "DeviceID :\t%s:\\" % letter,
        "N_Volume :\t%s" % label,
        "Taille totale : \t%d Kilo-octets" % kilo_octets(fs.f_blocks, fs.f_frsize),
        "Disponible : \t%d Kilo-octets" % kilo_octets(fs.f_bavail, fs.f_frsize),
    ]


def digits_only(lines):
    # The sizes follow the locale, which may group thousands.
    return [re.sub(r"(?<=\d)[\s\u00a0\u202f.,'](?=\d{3})", "", line) for line in lines]


def report_letter(text):
    found = re.search(r"DeviceID :\t([D-Z]):\\", text)
    return found.group(1) if found else None


def scenario(session, checks):
    source = os.path.join(session.tmp, "source")
    os.mkdir(source)
    source_file = os.path.join(source, "cours.pdf")
    with open(source_file, "wb") as f:
        f.write(os.urandom(384 * 1024))

    session.start_session_bus()
    session.mount_tmpfs("/media")
    first = session.make_image("CLE_UN")
    second = session.make_image("CLE_DEUX")

    session.start_xvfb()
    session.start_program(source)
    session.find_window()
    checks.ok("window shown at %d,%d size %dx%d" % session.geometry)

    session.wait_colours({1: GREY, 2: GREY}, 20)
    checks.ok("slots 1 and 2 grey before any key")
    session.screenshot("start")

    session.mount_image(first, "/media/CLE_UN")
    session.wait_colours({1: CYAN}, 20)
    checks.ok("slot 1 cyan")
    first_text = session.wait_text("Text1", "the report of CLE_UN",
                                   lambda t: "N_Volume :\tCLE_UN" in t, 20)
    first_letter = report_letter(first_text)
    if first_letter is None:
        raise Failed("Text1 names no drive letter for CLE_UN: %r" % first_text)
    checks.ok("CLE_UN reported as %s:" % first_letter)
    colours = session.status_colours([2])
    if colours[2] != GREY:
        raise Failed("slot 2 should still be grey with one key: %s" % describe(colours))
    checks.ok("slot 2 still grey with one key")

    session.mount_image(second, "/media/CLE_DEUX")
    session.wait_colours({1: CYAN, 2: CYAN}, 20)
    checks.ok("slot 2 cyan, slot 1 still cyan")
    second_text = session.wait_text("Text1", "the report of CLE_DEUX",
                                    lambda t: "N_Volume :\tCLE_DEUX" in t, 20)
    second_letter = report_letter(second_text)
    if second_letter is None or second_letter <= first_letter:
        raise Failed("CLE_DEUX should take a letter after %s: Text1 is %r" % (first_letter, second_text))
    expected = arrival_report(second_letter, "CLE_DEUX", "/media/CLE_DEUX")
    if digits_only(report_lines(second_text)) != expected:
        raise Failed("Text1 should hold exactly the report of the second key:\n  wanted %r\n  got    %r" % (
            expected, report_lines(second_text)))
    checks.ok("Text1 holds the report of CLE_DEUX as %s:" % second_letter)
    session.screenshot("keys")

    # The only entry of the source file list, then the launch button.
    session.click(SOURCE_PANEL[0] + SOURCE_FILE_LIST[0] + 30, SOURCE_PANEL[1] + SOURCE_FILE_LIST[1] + 9)
    session.click(LAUNCH_BUTTON[0] + LAUNCH_BUTTON[2] // 2, LAUNCH_BUTTON[1] + LAUNCH_BUTTON[3] // 2)
    session.wait_colours({1: GREEN, 2: GREEN}, 60)
    checks.ok("slots 1 and 2 green after the run")
    for key in ("/media/CLE_UN", "/media/CLE_DEUX"):
        copy = os.path.join(key, "cours.pdf")
        if not os.path.exists(copy):
            raise Failed("%s is missing; the key holds %s" % (copy, sorted(os.listdir(key))))
        if run("cmp", source_file, copy, check=False).returncode != 0:
            raise Failed("%s differs from the source file" % copy)
        checks.ok("%s identical to the source" % copy)
    session.screenshot("run")

    try:
        session.unmount("/media/CLE_UN")
    except Failed as failure:
        if shutil.which("fuser"):
            holders = run("fuser", "-vm", "/media/CLE_UN", check=False)
            failure = "%s; holders: %s" % (failure, (holders.stdout + holders.stderr).strip())
        raise Failed(failure)
    session.wait_colours({1: GREY}, 20)
    colours = session.status_colours([1, 2])
    if colours != {1: GREY, 2: GREEN}:
        raise Failed("after CLE_UN left: %s (wanted slot 1 grey, slot 2 green)" % describe(colours))
    checks.ok("slot 1 grey after CLE_UN left, slot 2 still green")
    removal = ["Déconnection du périphérique !", "DeviceID :\t%s:\\" % first_letter, ""]
    session.wait_text("Text1", "the removal of %s:" % first_letter, lambda t: report_lines(t) == removal, 20)
    checks.ok("Text1 reports the removal of %s:" % first_letter)


def read_text(pid, name):
    """Child mode: prints, as JSON, the text of the program's accessible called name."""
    import pyatspi

    for app in pyatspi.Registry.getDesktop(0):
        if app is None or app.get_process_id() != pid:
            continue
        found = pyatspi.findDescendant(app, lambda a: a is not None and a.name == name, breadth_first=True)
        if found is None:
            sys.stderr.write("no accessible named %s in process %d\n" % (name, pid))
            return 1
        json.dump(found.queryText().getText(0, -1), sys.stdout)
        return 0
    sys.stderr.write("process %d is not on the accessibility bus\n" % pid)
    return 1


def missing_tools():
    missing = sorted({package for tool, package in NEEDED_TOOLS.items() if shutil.which(tool) is None})
    if subprocess.run(["/usr/bin/python3", "-c", "import pyatspi"], stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        missing.append("python3-pyatspi")
    return missing


def main(argv):
    if len(argv) == 4 and argv[1] == "--read-text":
        return read_text(int(argv[2]), argv[3])
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    if os.geteuid() != 0 or not os.environ.get("ESSAIMEUR_PRIVATE_MOUNTS"):
        say("needs root in a private mount namespace: skipped")
        return SKIPPED
    missing = missing_tools()
    if missing:
        say("FAILED: missing Debian packages: %s" % " ".join(missing))
        return 1

    executable = os.path.abspath(argv[1])

    def on_signal(number, _frame):
        raise Terminated("stopped by signal %d" % number)

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    os.environ.pop("AT_SPI_BUS_ADDRESS", None)  # would bypass our own session bus
    adopt_orphans()
    started = time.monotonic()
    checks = Checks()
    session = Session(executable, os.getcwd())
    failure = None
    try:
        scenario(session, checks)
    except (Failed, Terminated) as error:
        failure = str(error)
    finally:
        left = session.close()
    if left:
        say("FAILED: could not unmount %s cleanly (lazily unmounted)" % ", ".join(left))
        failure = failure or "unclean unmount"
    if failure:
        say("FAILED: " + failure)
        if os.path.exists(session.app_log) and os.path.getsize(session.app_log):
            with open(session.app_log, errors="replace") as log:
                say("program output:\n" + log.read()[-4000:])
        return 1
    say("%d checks passed in %.1f s" % (checks.passed, time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
