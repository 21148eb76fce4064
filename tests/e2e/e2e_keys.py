#!/usr/bin/python3
# e2e_keys.py ESSAIMEUR: the real program under Xvfb with loop-device keys (ext4; exFAT and FAT32 mounted by
# their FUSE drivers, as users' keys are). Three keys arrive, one run copies a file onto all three at once.
# Then a key whose driver is stopped hangs a run, and still "Quitter" (answered Oui) and SIGTERM end
# the program within 2 s. The program prints nothing throughout.
# Needs root in the private mount namespace of tests/support/in-private-mounts.sh, and /dev/fuse; a missing
# tool fails the run. The window with its keys is shot into the working folder, for docs/.

import contextlib, os, signal, sys, tempfile, time
from subprocess import DEVNULL, PIPE, Popen, run as call

# Pixels of the window, from its description (twips / 15): the left of each slot's status box (clear of its
# caption) and their height; the first entry of the file list; the middles of "Lancer les copies" and "Quitter".
SLOT_X, SLOT_Y, SOURCE, LAUNCH, QUIT = (555, 713, 873, 1031), 233, (266, 49), (896, 557), (1077, 555)
# The slots' colours, as RRGGBB.
GREY, CYAN, GREEN, YELLOW = "E0E0E0", "00FFFF", "00FF00", "FFFF00"
# How a key is formatted (its label follows) and mounted. The FUSE drivers stay in the foreground, as our
# children, until their key is unmounted.
EXFAT = ["mkfs.exfat", "-L"], ["mount.exfat-fuse", "-d"]
KEYS = {"CLE_EXT4": (["mkfs.ext4", "-F", "-L"], ["mount"]), "CLE_EXFAT": EXFAT,
        "CLE_FAT": (["mkfs.vfat", "-F", "32", "-n"], ["fusefat", "-f", "-o", "rw+"])}
# What the test starts is undone in reverse order, whatever fails; the processes end with the test.
undo = contextlib.ExitStack()


def say(message):
    print("e2e: " + message, flush=True)


# Its output; when it fails, its error output is in the test's.
def run(*args):
    return call(args, stdout=PIPE, check=True, timeout=60, text=True).stdout


def wait(what, probe):
    # Calls probe until its second value is true, its first explaining a failure, for 30 s while the program
    # lives.
    deadline = time.monotonic() + 30
    while program.poll() is None:
        value, ok = probe()
        if ok:
            say(what + ": ok")
            return value
        if time.monotonic() > deadline:
            # The screen, for the cause.
            call(["import", "-window", "root", "screenshot-failure.png"])
            raise AssertionError("%s: %r after 30 s" % (what, value))
        time.sleep(0.1)
    raise AssertionError("%s: the program exited with %d" % (what, program.returncode))


# The visible windows whose title matches, expecting one.
def visible(title):
    found = call(["xdotool", "search", "--onlyvisible", "--name", title], stdout=PIPE, text=True).stdout.split()
    return found, len(found) == 1


def start():
    global program, window
    program = Popen([os.path.abspath(sys.argv[1])], cwd=tmp + "/source", stdout=log, stderr=log)
    window = wait("the window appears", lambda: visible("^Essaimeur par Mervane   Version 1.02$"))[0]


# A fresh loop device, mounted at /media/<label>; returns the mounter.
def add_key(label, mkfs, mount):
    image, where = tmp + "/" + label, "/media/" + label
    # FAT32 needs more than 32 MiB.
    run("truncate", "--size=40M", image)
    run(*mkfs, label, image)
    loop = run("losetup", "--find", "--show", image).strip()
    # Done once the key is unmounted.
    undo.callback(run, "losetup", "-d", loop)
    os.mkdir(where)
    mounter = Popen(mount + [loop, where], stdout=DEVNULL, stderr=DEVNULL)
    wait(where + " mounted", lambda: (mounter.poll(), os.path.ismount(where)))
    return mounter


# An exFAT key arrives in the slot, its driver stops, a run starts: the key's worker waits in the kernel. The
# driver resumes at the end, so that the key can be unmounted.
@contextlib.contextmanager
def hung_run(label, slot):
    driver = add_key(label, *EXFAT)
    colour(label + " arrives", slot, CYAN)
    driver.send_signal(signal.SIGSTOP)
    try:
        click(LAUNCH)
        colour("the run waits on " + label, slot, YELLOW)
        yield
    finally:
        driver.send_signal(signal.SIGCONT)


# Waits until the slot's status box, read from the window's pixels, has the colour.
def colour(what, slot, wanted):
    spot = "%%[hex:p{%d,%d}]" % (SLOT_X[slot - 1], SLOT_Y)

    def probe():
        seen = run("import", "-window", window, "-depth", "8", "-format", spot, "info:")
        return seen, seen == wanted
    wait("%s: slot %d is %s" % (what, slot, wanted), probe)


def click(*points):
    for x, y in points:
        run("xdotool", "mousemove", "--window", window, "--sync", str(x), str(y), "click", "1")


def ends_within_2s(what, action):
    since = time.monotonic()
    action()
    program.wait(10)
    took = time.monotonic() - since
    assert took < 2.0, "%s after %.1f s" % (what, took)


def scenario():
    global tmp, log
    tmp = undo.enter_context(tempfile.TemporaryDirectory())
    log = undo.enter_context(open("essaimeur-e2e.log", "w+"))
    # The source file, alone in the program's working folder.
    os.mkdir(tmp + "/source")
    with open(tmp + "/source/cours.pdf", "wb") as source:
        source.write(os.urandom(384 * 1024))
    run("mount", "-t", "tmpfs", "tmpfs", "/media")
    undo.callback(run, "umount", "-R", "/media")
    # No bus at all, so no disk service that could mount our keys outside the namespace; the runtime folder
    # a desktop session gives (tmp has mode 0700), so that Qt has nothing to say.
    bus = "unix:path=/dev/null"
    os.environ.update(DBUS_SESSION_BUS_ADDRESS=bus, DBUS_SYSTEM_BUS_ADDRESS=bus, QT_QPA_PLATFORM="xcb",
                      XDG_RUNTIME_DIR=tmp)
    xvfb = Popen(["Xvfb", "-displayfd", "1"], stdout=PIPE, stderr=DEVNULL, text=True)
    os.environ["DISPLAY"] = ":" + xvfb.stdout.readline().strip()

    start()
    colour("no key yet", 1, GREY)
    for slot, label in enumerate(KEYS, 1):
        add_key(label, *KEYS[label])
        colour(label + " arrives", slot, CYAN)
    run("import", "-window", window, "screenshot-keys.png")
    click(SOURCE, LAUNCH)
    for slot in (1, 2, 3):
        colour("the copy succeeds", slot, GREEN)
    for label in KEYS:
        run("cmp", source.name, "/media/%s/cours.pdf" % label)

    with hung_run("CLE_FIGEE1", 4):
        click(QUIT)
        run("xdotool", "windowfocus", "--sync", wait("Quitter asks first", lambda: visible("^EssaimeurMV$"))[0])
        ends_within_2s("Oui ends the program", lambda: run("xdotool", "key", "alt+o"))
    assert program.returncode == 0, "Oui: exit status %d" % program.returncode

    start()
    click(SOURCE)
    with hung_run("CLE_FIGEE2", 1):
        ends_within_2s("SIGTERM ends the program", program.terminate)
    log.seek(0)
    printed = log.read()
    assert printed == "", "the program printed " + printed


def main(argv):
    if os.geteuid() or not os.environ.get("ESSAIMEUR_PRIVATE_MOUNTS") or not os.path.exists("/dev/fuse"):
        say("skipped: needs root, a private mount namespace and /dev/fuse")
        return 77
    # A child left running would keep the private namespace, and its mounts, alive.
    if os.getpid() != 1:
        os.execvp("unshare", ["unshare", "-pf", "--kill-child=SIGTERM", "--mount-proc", sys.executable] + argv)
    # Stopped, the cleanup still runs (an interrupt is an exception already).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("e2e: stopped"))
    # A failure, and any of the cleanup after it, comes out as Python's chained traceback.
    with undo:
        scenario()
    say("every check passed")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
