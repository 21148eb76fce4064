#!/usr/bin/python3
"""e2e_keys.py <essaimeur executable>: the real program under Xvfb. Three keys arrive (ext4; exFAT and FAT32
mounted by their FUSE drivers, as users' keys are), one run copies a file onto all three at once, one leaves.
Needs root in the private mount namespace of tests/support/in-private-mounts.sh, and /dev/fuse. Screenshots
go to the working folder; ESSAIMEUR_UPDATE_SCREENSHOTS=1 also copies them to docs/."""

import ctypes, json, os, re, select, shutil, signal, subprocess, sys, tempfile, time  # noqa: E401

SKIPPED = 77
WINDOW_TITLE = "Essaimeur par Mervane"
SCREEN = (1280, 1024)
DOCS = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs"))
# Window geometry in pixels of the client area, from the window's description (twips / 15).
STATUS_BOXES = {1: (49, 216), 2: (207, 216), 3: (367, 216), 4: (525, 216)}  # left, top in the slot panel
SLOT_PANEL = (500, 4)
SOURCE_ENTRY = (4 + 232 + 30, 6 + 34 + 9)  # the first entry of File1(0), inside vkFrame1
LAUNCH_BUTTON = (796 + 100, 536 + 21)  # the middle of LanceCopie
GREY, CYAN, GREEN = (0xE0, 0xE0, 0xE0), (0, 255, 255), (0, 255, 0)
COLOUR_NAMES = {GREY: "grey", CYAN: "cyan", GREEN: "green", (255, 255, 0): "yellow"}
# The keys in slot order: label (and folder under /media), how it is formatted, its FUSE driver.
KEYS = [("CLE_EXT4", ["mkfs.ext4", "-q", "-F", "-L", "CLE_EXT4"], None),
        ("CLE_EXFAT", ["mkfs.exfat", "-L", "CLE_EXFAT"], ["mount.exfat-fuse", "-d"]),  # -d: stays our child
        ("CLE_FAT", ["mkfs.vfat", "-F", "32", "-n", "CLE_FAT"], ["fusefat", "-f", "-o", "rw+"])]
REMOVED = 2  # the slot whose key leaves: the exFAT one
NEEDED_TOOLS = {"Xvfb": "xvfb", "xdotool": "xdotool", "import": "imagemagick", "mkfs.ext4": "e2fsprogs",
                "losetup": "mount", "cmp": "diffutils", "dbus-daemon": "dbus-daemon", "mkfs.exfat": "exfatprogs",
                "mount.exfat-fuse": "exfat-fuse", "mkfs.vfat": "dosfstools", "fusefat": "fusefat"}
RUN_DEADLINE = time.monotonic() + 200  # every wait ends by then, well within CTest's timeout
LIBC = ctypes.CDLL(None, use_errno=True)

class Failed(Exception):
    pass

def say(message):
    print("e2e: " + message, flush=True)

def run(*args, timeout=60, check=True):
    try:
        done = subprocess.run(args, timeout=timeout, text=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    except subprocess.TimeoutExpired:
        raise Failed("%s did not finish within %d s" % (" ".join(args), timeout))
    if check and done.returncode != 0:
        raise Failed("%s failed (%d): %s" % (" ".join(args), done.returncode, done.stderr.strip()))
    return done

def end_children(grace=5):
    """Ends and reaps our children, the adopted ones too (the accessibility bus and its kin)."""
    for sent in ("-TERM", "-KILL"):
        deadline = time.monotonic() + grace
        while time.monotonic() < deadline:
            try:
                while os.waitpid(-1, os.WNOHANG)[0] > 0:
                    pass
            except ChildProcessError:
                return
            run("pkill", sent, "--parent", str(os.getpid()), check=False)
            time.sleep(0.1)

def describe(colours):
    return ", ".join("slot %d %s" % (s, COLOUR_NAMES.get(c, "rgb%s" % (c,))) for s, c in sorted(colours.items()))

def report_lines(text):  # the sizes follow the locale, which may group thousands
    return [re.sub(r"(?<=\d)[\s\u00a0\u202f.,'](?=\d{3})", "", line) for line in re.split(r"\r\n|\r|\n", text)]

def report_letter(text):
    return (re.findall(r"DeviceID :\t([D-Z]):\\", text) or [""])[0]

def arrival_report(letter, label, mount_point):
    fs = os.statvfs(mount_point)
    return ["Connection du périphérique !", "DeviceID :\t%s:\\" % letter, "N_Volume :\t%s" % label,
            "Taille totale : \t%d Kilo-octets" % round(fs.f_blocks * fs.f_frsize / 1024.0),
            "Disponible : \t%d Kilo-octets" % round(fs.f_bavail * fs.f_frsize / 1024.0)]

class Session:
    """Everything the run starts, so that all of it goes away whatever fails."""

    def __init__(self, executable, out_dir):
        self.executable, self.out_dir, self.passed, self.program = executable, out_dir, 0, None
        self.tmp = tempfile.mkdtemp(prefix="essaimeur-e2e-")
        self.mounts, self.loops, self.processes = [], [], []
        self.app_log = os.path.join(out_dir, "essaimeur-e2e.log")

    def ok(self, what):
        self.passed += 1
        say(what + ": ok")

    def start(self, args, ended_by_unmount=False, **kwargs):
        # A child outliving this script would keep the private namespace, and its mounts, alive: PDEATHSIG.
        process = subprocess.Popen(args, preexec_fn=lambda: LIBC.prctl(1, signal.SIGKILL), **kwargs)
        self.processes += [] if ended_by_unmount else [process]
        return process

    def start_server(self, args, what):
        """Starts a server that writes its address to the descriptor given as "{fd}"; returns the address."""
        read_end, write_end = os.pipe()
        server = self.start([a.format(fd=write_end) for a in args], pass_fds=(write_end,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            line = pipe.readline() if select.select([pipe], [], [], 20)[0] else ""
        if not line.endswith("\n"):
            raise Failed("%s gave no %s within 20 s (exit status %s)" % (args[0], what, server.poll()))
        return line.strip()

    def start_program(self, working_folder):
        # A session bus of our own, so that the program and the reader meet on one accessibility bus;
        # the accessibility bus launcher it starts keeps its socket in this runtime folder.
        os.environ["XDG_RUNTIME_DIR"] = os.path.join(self.tmp, "run")
        os.mkdir(os.environ["XDG_RUNTIME_DIR"], 0o700)
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.start_server(
            ["dbus-daemon", "--session", "--nofork", "--nosyslog", "--print-address={fd}"], "address")
        os.environ["DISPLAY"] = ":" + self.start_server(
            ["Xvfb", "-displayfd", "{fd}", "-screen", "0", "%dx%dx24" % SCREEN, "-nolisten", "tcp", "-noreset"],
            "display")
        env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
                   LC_ALL="C.UTF-8", LANG="C.UTF-8")
        with open(self.app_log, "w") as log:
            self.program = self.start([self.executable], cwd=working_folder, env=env, stdin=subprocess.DEVNULL,
                                      stdout=log, stderr=subprocess.STDOUT)
        search = ("xdotool", "search", "--onlyvisible", "--name", WINDOW_TITLE)
        self.window = self.wait("the window '%s' appears" % WINDOW_TITLE, lambda: (lambda ids: (
            ids, len(ids) == 1))(run(*search, check=False).stdout.split()), 30)[0]
        shell = run("xdotool", "getwindowgeometry", "--shell", self.window).stdout.split()
        values = dict(line.split("=", 1) for line in shell)
        # No window manager under Xvfb: the client area starts at the window's position.
        self.origin = (int(values["X"]), int(values["Y"]))
        self.ok("window shown at %d,%d" % self.origin)

    def wait(self, what, probe, timeout=20):
        """Calls probe until its second value is true, its first explaining a failure, while the program lives."""
        deadline = min(time.monotonic() + timeout, RUN_DEADLINE)
        while not (self.program and self.program.poll() is not None):
            value, ok = probe()
            if ok:
                return value
            if time.monotonic() > deadline:
                self.screenshot("failure")
                raise Failed("%s (after %d s: %r; screen in screenshot-failure.png)" % (what, timeout, value))
            time.sleep(0.1)
        raise Failed("the program exited with %d; its output is in %s" % (self.program.returncode, self.app_log))

    def add_key(self, label, format_command, fuse_driver):
        """Formats a fresh loop device and mounts it, once, at /media/<label>."""
        image, where = os.path.join(self.tmp, label + ".img"), "/media/" + label
        run("truncate", "--size=40M", image)  # FAT32 needs more than 32 MiB
        run(*format_command, image)
        self.loops.append(run("losetup", "--find", "--show", image).stdout.strip())
        os.mkdir(where)
        self.mounts.append(where)
        if fuse_driver:  # started here, in the namespace; it ends when its mount goes
            driver = self.start(fuse_driver + [self.loops[-1], where], True, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
            self.wait("%s mounts %s" % (fuse_driver[0], where),
                      lambda: ("driver's exit status: %s" % driver.poll(), os.path.ismount(where)))
        else:
            run("mount", self.loops[-1], where)
        return where

    def status_colours(self, slots):
        raw = subprocess.run(["import", "-silent", "-window", "root", "-depth", "8", "rgb:-"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        if raw.returncode != 0 or len(raw.stdout) != SCREEN[0] * SCREEN[1] * 3:
            raise Failed("could not grab the screen: %s" % raw.stderr.decode(errors="replace").strip())
        points = {s: (self.origin[0] + SLOT_PANEL[0] + STATUS_BOXES[s][0] + 6,  # left in the box, clear of
                      self.origin[1] + SLOT_PANEL[1] + STATUS_BOXES[s][1] + 13) for s in slots}  # its caption
        return {s: tuple(raw.stdout[(y * SCREEN[0] + x) * 3:][:3]) for s, (x, y) in points.items()}

    def wait_colours(self, wanted, what, timeout=20):
        self.wait(what + ": wanted " + describe(wanted), lambda: (lambda seen: (
            "saw " + describe(seen), seen == wanted))(self.status_colours(wanted)), timeout)
        self.ok("%s (%s)" % (what, describe(wanted)))

    def wait_text(self, what, accept):
        def probe():
            try:  # a child process, so that a stuck accessibility bus costs a timeout, not the run
                done = subprocess.run(["/usr/bin/python3", os.path.abspath(__file__), "--read-text",
                                       str(self.program.pid), "Text1"], stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, timeout=10, env=dict(os.environ, PYTHONPATH=""))
            except subprocess.TimeoutExpired:
                return "reading through accessibility took over 10 s", False
            if done.returncode != 0:  # the program may not have joined the accessibility bus yet
                return done.stderr.decode(errors="replace").strip(), False
            text = json.loads(done.stdout.decode("utf-8"))
            return text, accept(text)
        text = self.wait("Text1 holds " + what, probe)
        self.ok("Text1 holds " + what)
        return text

    def click(self, x, y):
        run("xdotool", "mousemove", "--sync", str(self.origin[0] + x), str(self.origin[1] + y), "click", "1")

    def screenshot(self, name):
        target = os.path.join(self.out_dir, "screenshot-%s.png" % name)
        run("import", "-silent", "-window", getattr(self, "window", "root"), target, timeout=30,
            check=name != "failure")
        if name != "failure" and os.environ.get("ESSAIMEUR_UPDATE_SCREENSHOTS") == "1":
            shutil.copyfile(target, os.path.join(DOCS, os.path.basename(target)))

    def close(self):
        """Ends the program, unmounts (which ends the FUSE drivers; what stays is detached lazily and
        returned), ends what is left, detaches the loop devices."""
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
        left = [where for where in reversed(self.mounts) if run("umount", where, check=False).returncode
                and run("umount", "-l", where, check=False)]
        end_children()
        for loop in self.loops:
            run("losetup", "-d", loop, check=False)
        shutil.rmtree(self.tmp, ignore_errors=True)
        return left

def scenario(session):
    source_file = os.path.join(session.tmp, "source", "cours.pdf")
    os.mkdir(os.path.dirname(source_file))
    with open(source_file, "wb") as f:
        f.write(os.urandom(384 * 1024))
    run("mount", "-t", "tmpfs", "-o", "size=1m,mode=0755", "essaimeur-e2e", "/media")
    session.mounts.append("/media")
    session.start_program(os.path.dirname(source_file))
    session.wait_colours({1: GREY, 2: GREY, 3: GREY}, "slots grey before any key")
    session.screenshot("start")

    letters = {}
    for slot, (label, format_command, fuse_driver) in enumerate(KEYS, 1):
        where = session.add_key(label, format_command, fuse_driver)
        session.wait_colours({s: CYAN if s <= slot else GREY for s in range(1, slot + 2)},
                             "%s arrives in slot %d" % (label, slot))
        # Exactly the key's report, under a letter after those of the keys before it.
        letters[slot] = report_letter(session.wait_text("the report of " + label, lambda t: report_letter(t) > max(
            letters.values(), default="") and report_lines(t) == arrival_report(report_letter(t), label, where)))
    session.screenshot("keys")

    session.click(*SOURCE_ENTRY)
    session.click(*LAUNCH_BUTTON)
    session.wait_colours({1: GREEN, 2: GREEN, 3: GREEN}, "one run copies onto the three keys", 60)
    for label, _, _ in KEYS:
        copy = os.path.join("/media", label, "cours.pdf")
        if run("cmp", source_file, copy, check=False).returncode != 0:
            raise Failed("%s differs from the source; the key holds %s" % (copy, os.listdir(os.path.dirname(copy))))
        session.ok("%s identical to the source" % copy)
    session.screenshot("run")

    run("umount", "/media/" + KEYS[REMOVED - 1][0])
    session.mounts.remove("/media/" + KEYS[REMOVED - 1][0])
    session.wait_colours({s: GREY if s == REMOVED else GREEN for s in range(1, len(KEYS) + 1)},
                         "%s leaves slot %d, the others stay green" % (KEYS[REMOVED - 1][0], REMOVED))
    session.wait_text("the removal of %s:" % letters[REMOVED], lambda t: report_lines(t) == [
        "Déconnection du périphérique !", "DeviceID :\t%s:\\" % letters[REMOVED], ""])

def read_text(pid, name):
    """Child mode: prints, as JSON, the text of the program's accessible called name."""
    import pyatspi
    apps = [app for app in pyatspi.Registry.getDesktop(0) if app is not None and app.get_process_id() == pid]
    found = apps and pyatspi.findDescendant(apps[0], lambda a: a is not None and a.name == name, breadth_first=True)
    if not found:
        sys.exit("no accessible named %s in process %d (on the accessibility bus: %s)" % (name, pid, bool(apps)))
    json.dump(found.queryText().getText(0, -1), sys.stdout)

def main(argv):
    if len(argv) == 4 and argv[1] == "--read-text":
        return read_text(int(argv[2]), argv[3])
    if len(argv) != 2:
        sys.exit(__doc__)
    why = ("needs root in a private mount namespace" if os.geteuid() or not os.environ.get("ESSAIMEUR_PRIVATE_MOUNTS")
           else None if os.path.exists("/dev/fuse") else "no FUSE device /dev/fuse to mount the exFAT and FAT keys")
    if why:
        say(why + ": skipped")
        return SKIPPED
    missing = sorted({package for tool, package in NEEDED_TOOLS.items() if shutil.which(tool) is None}) + (
        ["python3-pyatspi"] if run("/usr/bin/python3", "-c", "import pyatspi", check=False).returncode else [])
    if missing:
        say("FAILED: missing Debian packages: " + " ".join(missing))
        return 1
    for number in (signal.SIGTERM, signal.SIGINT):  # the cleanup still runs, in session.close()
        signal.signal(number, lambda number, _: sys.exit("e2e: FAILED: stopped by signal %d" % number))
    os.environ.pop("AT_SPI_BUS_ADDRESS", None)  # would bypass our own session bus
    LIBC.prctl(36, 1)  # PR_SET_CHILD_SUBREAPER: the bus's orphans come to us, to be ended and reaped
    started, failure, session = time.monotonic(), None, Session(os.path.abspath(argv[1]), os.getcwd())
    try:
        scenario(session)
    except Failed as error:
        failure = str(error)
    finally:
        left = session.close()
    failure = failure or (left and "could not unmount %s cleanly (lazily unmounted)" % ", ".join(left))
    if not failure:
        say("%d checks passed in %.1f s" % (session.passed, time.monotonic() - started))
        return 0
    say("FAILED: " + failure)
    if os.path.exists(session.app_log):
        say("program output:\n" + open(session.app_log, errors="replace").read()[-4000:])
    return 1

if __name__ == "__main__":
    sys.exit(main(sys.argv))
