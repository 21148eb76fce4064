#!/usr/bin/python3
# e2e_keys.py ESSAIMEUR: the real program under Xvfb. Three keys arrive (ext4; exFAT and FAT32 mounted by
# their FUSE drivers, as users' keys are), one run copies a file onto all three at once, one key leaves.
# Needs root in the private mount namespace of tests/support/in-private-mounts.sh, and /dev/fuse; a missing
# tool fails the run. Screenshots go to the working folder; ESSAIMEUR_UPDATE_SCREENSHOTS=1 also copies them
# to docs/.

import contextlib, json, os, pathlib, re, shutil, signal, subprocess, sys, tempfile, time  # noqa: E401

DEVNULL, LOG = subprocess.DEVNULL, os.path.abspath("essaimeur-e2e.log")
# Pixels of the window, from its description (twips / 15): the left of each slot's status box (clear of
# its caption) and their height; the first entry of the file list; the middle of "Lancer les copies".
SLOT_X, SLOT_Y, SOURCE_ENTRY, LAUNCH = (555, 713, 873, 1031), 233, (266, 49), (896, 557)
COLOURS = {(0xE0, 0xE0, 0xE0): "grey", (0, 255, 255): "cyan", (0, 255, 0): "green", (255, 255, 0): "yellow"}
# The keys in slot order: label (and folder under /media), how it is formatted, how it is mounted. The FUSE
# drivers stay in the foreground, as our children, until their key is unmounted.
KEYS = [("CLE_EXT4", ["mkfs.ext4", "-q", "-F", "-L", "CLE_EXT4"], ["mount"]),
        ("CLE_EXFAT", ["mkfs.exfat", "-L", "CLE_EXFAT"], ["mount.exfat-fuse", "-d"]),
        ("CLE_FAT", ["mkfs.vfat", "-F", "32", "-n", "CLE_FAT"], ["fusefat", "-f", "-o", "rw+"])]
REMOVED = 2  # the slot whose key leaves: the exFAT one
say = lambda message: print("e2e: " + message, flush=True)  # noqa: E731
start = subprocess.Popen  # whatever it starts ends with this script, the first process of its own PID namespace
# A server that first prints its address: the address ("" when it prints none).
address = lambda *args: start(args, stdout=subprocess.PIPE, stderr=DEVNULL).stdout.readline().decode().strip()  # noqa

def run(*args, timeout=60):
    done = subprocess.run(args, timeout=timeout, capture_output=True)
    if done.returncode:
        raise AssertionError("%s: %s" % (" ".join(args), (done.stdout + done.stderr).decode(errors="replace").strip()))
    return done.stdout

# A report's lines, sizes ungrouped (they follow the locale), and the drive letter in it.
report_lines = lambda text: re.split(r"\r\n|\r|\n", re.sub(r"(?<=\d)[ \u00a0\u202f.,'](?=\d{3})", "", text))  # noqa
report_letter = lambda text: (re.findall(r"DeviceID :\t([D-Z]):\\", text) or [""])[0]  # noqa: E731

def arrival_report(letter, label):
    fs = os.statvfs("/media/" + label)
    return ["Connection du périphérique !", "DeviceID :\t%s:\\" % letter, "N_Volume :\t" + label] + [
        "%s : \t%d Kilo-octets" % (name, round(blocks * fs.f_frsize / 1024))
        for name, blocks in (("Taille totale", fs.f_blocks), ("Disponible", fs.f_bavail))]

class E2E:
    # What the run starts is undone by `undo`, in reverse order, whatever fails.
    def __init__(self, undo):
        self.undo, self.tmp = undo, undo.enter_context(tempfile.TemporaryDirectory(prefix="essaimeur-e2e-"))

    def wait(self, what, probe, timeout=20):
        # Calls probe until its second value is true, its first explaining a failure, while the program lives.
        deadline = time.monotonic() + timeout
        while self.program.poll() is None:
            value, ok = probe()
            if ok:
                say(what + ": ok")
                return value
            if time.monotonic() > deadline:
                subprocess.run(["import", "-window", "root", "screenshot-failure.png"], timeout=30)
                raise AssertionError("%s (after %d s: %r; screen in screenshot-failure.png)" % (what, timeout, value))
            time.sleep(0.1)
        raise AssertionError("the program exited with %d" % self.program.returncode)

    def add_key(self, label, mkfs, mount):  # a fresh loop device, mounted at /media/<label>
        image, where = os.path.join(self.tmp, label + ".img"), "/media/" + label
        run("truncate", "--size=40M", image)  # FAT32 needs more than 32 MiB
        run(*mkfs, image)
        loop = run("losetup", "--find", "--show", image).decode().strip()
        self.undo.callback(run, "losetup", "-d", loop)  # done when the key is unmounted
        os.mkdir(where)
        mounter = start(mount + [loop, where], stdout=DEVNULL, stderr=DEVNULL)
        self.wait("%s mounts %s" % (mount[0], where), lambda: ("exit status %s" % mounter.poll(), os.path.ismount(where)))

    def colours(self, what, wanted, timeout=20):
        def probe():  # the window's pixels, after the header of the PPM image: P6, width height, 255
            _, size, _, pixels = run("import", "-window", self.window, "-depth", "8", "ppm:-").split(b"\n", 3)
            at = lambda slot: (SLOT_Y * int(size.split()[0]) + SLOT_X[slot - 1]) * 3  # noqa: E731
            seen = {slot: COLOURS.get(tuple(pixels[at(slot):at(slot) + 3]), "other") for slot in wanted}
            return "saw %s" % seen, seen == wanted
        self.wait("%s: %s" % (what, wanted), probe, timeout)

    def text(self, what, accept):
        # Read by a child, so that a stuck accessibility bus costs a timeout; it fails until the program has
        # joined the bus.
        def probe():
            done = subprocess.run([sys.executable, __file__, "--read-text", str(self.program.pid)],
                                  capture_output=True, timeout=10, env=dict(os.environ, PYTHONPATH=""))
            text = json.loads(done.stdout) if done.returncode == 0 else done.stderr.decode(errors="replace")
            return text, done.returncode == 0 and accept(text)
        return self.wait("Text1 holds " + what, probe)

    def screenshot(self, name):
        run("import", "-window", self.window, "screenshot-%s.png" % name, timeout=30)
        if os.environ.get("ESSAIMEUR_UPDATE_SCREENSHOTS") == "1":
            shutil.copy("screenshot-%s.png" % name, os.path.join(os.path.dirname(__file__), "..", "..", "docs"))

def scenario(e2e, executable):
    source = os.path.join(tempfile.mkdtemp(dir=e2e.tmp), "cours.pdf")  # alone in the program's folder
    pathlib.Path(source).write_bytes(os.urandom(384 * 1024))
    run("mount", "-t", "tmpfs", "-o", "size=1m,mode=0755", "essaimeur-e2e", "/media")
    e2e.undo.callback(run, "umount", "-R", "/media")  # while the program runs: a key it keeps busy fails the test
    # A session bus of our own, so that the program and the reader meet on one accessibility bus; the
    # accessibility bus launcher it starts keeps its socket in this runtime folder.
    os.environ.update(XDG_RUNTIME_DIR=os.path.join(e2e.tmp, "run"), QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1",
                      QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", LC_ALL="C.UTF-8", LANG="C.UTF-8")
    os.mkdir(os.environ["XDG_RUNTIME_DIR"], 0o700)
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = address("dbus-daemon", "--session", "--nofork", "--nosyslog", "--print-address=1")
    os.environ["DISPLAY"] = ":" + address("Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset")
    log = e2e.undo.enter_context(open(LOG, "w"))
    e2e.program = start([executable], cwd=os.path.dirname(source), stdin=DEVNULL, stdout=log, stderr=subprocess.STDOUT)
    e2e.window = e2e.wait("the window appears", lambda: (lambda ids: (ids, len(ids) == 1))(subprocess.run(
        ["xdotool", "search", "--onlyvisible", "--name", "^Essaimeur par Mervane   Version 1.02$"], capture_output=True, text=True).stdout.split()), 30)[0]
    e2e.colours("slots grey before any key", {1: "grey", 2: "grey", 3: "grey"})
    e2e.screenshot("start")
    letters = [""]
    for slot, (label, mkfs, mount) in enumerate(KEYS, 1):
        e2e.add_key(label, mkfs, mount)
        e2e.colours("%s arrives in slot %d" % (label, slot), {s: "cyan" if s <= slot else "grey" for s in range(1, slot + 2)})
        # Exactly the key's report, under a letter after those of the keys before it.
        letters.append(report_letter(e2e.text("the report of " + label, lambda t: report_letter(t) > letters[-1]
                                              and report_lines(t) == arrival_report(report_letter(t), label))))
    e2e.screenshot("keys")
    run("xdotool", *[word for x, y in (SOURCE_ENTRY, LAUNCH)  # the source file, then the launch
                     for word in ("mousemove", "--window", e2e.window, "--sync", str(x), str(y), "click", "1")])
    e2e.colours("one run copies onto the three keys", {1: "green", 2: "green", 3: "green"}, 60)
    for label, _, _ in KEYS:  # each copy is identical to the source
        run("cmp", source, "/media/%s/cours.pdf" % label)
    e2e.screenshot("run")
    run("umount", "/media/" + KEYS[REMOVED - 1][0])
    e2e.colours("%s leaves slot %d" % (KEYS[REMOVED - 1][0], REMOVED), {1: "green", 2: "grey", 3: "green"})
    e2e.text("the removal of %s:" % letters[REMOVED], lambda t: report_lines(t) == [
        "Déconnection du périphérique !", "DeviceID :\t%s:\\" % letters[REMOVED], ""])

def read_text(pid):  # child mode: prints, as JSON, the text of the program's accessible Text1
    import pyatspi
    apps = [app for app in pyatspi.Registry.getDesktop(0) if app is not None and app.get_process_id() == pid]
    found = apps and pyatspi.findDescendant(apps[0], lambda a: a is not None and a.name == "Text1", breadth_first=True)
    if not found:
        sys.exit("no accessible Text1 in process %d (on the accessibility bus: %s)" % (pid, bool(apps)))
    json.dump(found.queryText().getText(0, -1), sys.stdout)

def main(argv):
    if argv[1] == "--read-text":
        return read_text(int(argv[2]))
    if os.geteuid() or not os.environ.get("ESSAIMEUR_PRIVATE_MOUNTS") or not os.path.exists("/dev/fuse"):
        say("skipped: needs root in a private mount namespace, and /dev/fuse to mount the exFAT and FAT keys")
        return 77
    if os.getpid() != 1:  # a child left running would keep the private namespace, and its mounts, alive
        os.execvp("unshare", ["unshare", "--pid", "--fork", "--kill-child=SIGTERM", "--mount-proc", sys.executable] + argv)
    # Stopped, the cleanup still runs (an interrupt is an exception already).
    signal.signal(signal.SIGTERM, lambda number, _: sys.exit("e2e: FAILED: stopped by signal %d" % number))
    os.environ.pop("AT_SPI_BUS_ADDRESS", None)  # would bypass our own session bus
    try:  # a failure, and any of the cleanup after it, comes out as Python's chained traceback
        with contextlib.ExitStack() as undo:
            scenario(E2E(undo), os.path.abspath(argv[1]))
    except BaseException:
        say("FAILED; the end of the program's output:")
        subprocess.run(["tail", "-c", "4000", LOG])
        raise
    say("every check passed")  # and the exit status is 0

if __name__ == "__main__":
    sys.exit(main(sys.argv))
