# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The SBUS Channel developers
# usage: drive.py WINDOW GIMBAL_SIM WORKDIR (run it through tests/a11y/run)
#
# In each language: every control has a name in that language, the port
# selector and the channel selectors by their captions; Connect, a channel
# and Upload and Save are worked through the accessibility interfaces alone,
# and the channel reaches the controller's store; a display that stays the
# same tells screen readers nothing.
import os
import signal
import subprocess
import sys
import time

SKIP = 77

if len(sys.argv) != 4 or sys.argv[1] in ("-h", "--help"):
    print("usage: drive.py WINDOW GIMBAL_SIM WORKDIR (run it through tests/a11y/run)")
    sys.exit(0 if len(sys.argv) > 1 and sys.argv[1] in ("-h", "--help") else 2)

window, sim, work = sys.argv[1:4]

# The accessibility bus is started on demand, as a desktop starts it.
try:
    subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                    "org.a11y.Bus.GetAddress"], check=True, capture_output=True, timeout=20)
except (OSError, subprocess.SubprocessError) as e:
    print(f"a11y: skipped, the accessibility bus did not start: {e}", file=sys.stderr)
    sys.exit(SKIP)

import pyatspi  # noqa: E402  (connects to the bus started above)
from gi.repository import GLib  # noqa: E402

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print(f"FAIL: {what}", file=sys.stderr)
    return ok


def pump(seconds):
    end = time.monotonic() + seconds
    context = GLib.MainContext.default()
    while time.monotonic() < end:
        while context.iteration(False):
            pass
        time.sleep(0.01)


def wait_for(what, condition, seconds=15):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        pump(0.05)
    raise AssertionError(f"timed out waiting for {what}")


def app_named(name):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == name:
            return app
    return None


def controls(root):
    """Every object below root but the items of the drop-down lists."""
    found = []
    for child in root:
        if child is None:
            continue
        found.append(child)
        if child.getRole() != pyatspi.ROLE_LIST:
            found += controls(child)
    return found


def labels_of(obj):
    names = []
    for relation in obj.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            names += [relation.getTarget(i).name for i in range(relation.getNTargets())]
    return names


def do(obj, action):
    act = obj.queryAction()
    names = [act.getName(i) for i in range(act.nActions)]
    check(action in names, f"{obj.getRoleName()} '{obj.name}' offers {action}, not only {names}")
    act.doAction(names.index(action) if action in names else 0)


def enabled(obj):
    return obj.getState().contains(pyatspi.STATE_ENABLED)


def caption(label):
    return " ".join(label.split()).rstrip(":：")


def in_language(name, chinese):
    wide = any(ord(c) >= 0x2E80 for c in name)
    return wide if chinese else name.isascii()


# Tilt's slot in the 18-byte block, and a stored block whose functions sit on
# no channel: the sticks the controller reports then stay still.
TILT_SLOT = 9
still_block = bytes(18)

texts = {
    1: dict(port="串口", tilt="云台俯仰通道", connect="开始调试", upload="参数上传", save="参数烧写"),
    2: dict(port="Serial port", tilt="Tilt Channel", connect="Connect", upload="Upload Param", save="Save Param"),
}

for lang, text in texts.items():
    chinese = lang == 1
    with open(os.path.join(work, "config.ini"), "w") as f:
        f.write(f"[%General]\nLangureType={lang}\n")
    flash = os.path.join(work, f"flash-{lang}.bin")
    with open(flash, "wb") as f:
        f.write(still_block)
    controller = subprocess.Popen([sim, "--flash", flash], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    port = controller.stdout.readline().strip()
    env = dict(os.environ, QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    shown = subprocess.Popen([window, "--port", port], env=env)
    try:
        app = wait_for("the window on the accessibility bus", lambda: app_named("sbus-channel"))
        everything = wait_for("the window's controls", lambda: controls(app) if app.childCount else None)

        def of_role(role):
            return [o for o in everything if o.getRole() == role]

        combos, sliders = of_role(pyatspi.ROLE_COMBO_BOX), of_role(pyatspi.ROLE_SLIDER)
        fields, buttons = of_role(pyatspi.ROLE_TEXT), of_role(pyatspi.ROLE_PUSH_BUTTON)
        radios = of_role(pyatspi.ROLE_RADIO_BUTTON)
        check((len(combos), len(sliders), len(fields), len(buttons), len(radios)) == (6, 5, 6, 4, 2),
              f"lang {lang}: controls found {len(combos), len(sliders), len(fields), len(buttons), len(radios)}")
        check(sorted(r.name for r in radios) == sorted(["中文", "English"]), f"lang {lang}: radio names")
        for obj in combos + sliders + fields + buttons:
            check(obj.name and in_language(obj.name, chinese),
                  f"lang {lang}: {obj.getRoleName()} named '{obj.name}', not in the window's language")
        for obj in combos + fields:
            check([caption(label) for label in labels_of(obj)] == [obj.name],
                  f"lang {lang}: {obj.getRoleName()} '{obj.name}' labelled by {labels_of(obj)}")
        ports = [c for c in combos if c.name == text["port"]]
        tilt = [c for c in combos if c.name == text["tilt"]]
        check(len(ports) == 1 and len(tilt) == 1, f"lang {lang}: selectors named {[c.name for c in combos]}")
        if failures:
            break
        tilt = tilt[0]

        do([b for b in buttons if b.name == text["connect"]][0], "Press")
        # The selectors come alive once this contact has read the block.
        wait_for("the block read", lambda: enabled(tilt))

        # Once the gimbal's state has settled, the display stays as it is:
        # some two seconds without a single text change.
        changes = []

        def heard(event):
            changes.append((event.type, event.source.name if event.source else None, event.any_data))

        pyatspi.Registry.registerEventListener(heard, "object:text-changed")
        try:
            end = time.monotonic() + 10
            quiet = False
            while not quiet and time.monotonic() < end:
                changes.clear()
                pump(2)
                quiet = not changes
            check(quiet, f"lang {lang}: {len(changes)} text changes in 2 s of an unchanged display, "
                         f"such as {changes[:4]}")
        finally:
            pyatspi.Registry.deregisterEventListener(heard, "object:text-changed")

        # Channel 7 for tilt, chosen in the selector's list as a screen
        # reader does it, then written and stored through the buttons.
        items = [c for c in tilt[0]] if tilt.childCount else []
        check([i.name for i in items] == [str(n) for n in range(1, 19)], f"lang {lang}: tilt items")
        do(items[6], "Toggle")
        pump(0.3)
        do([b for b in buttons if b.name == text["upload"]][0], "Press")
        pump(1)
        do([b for b in buttons if b.name == text["save"]][0], "Press")

        def stored():
            with open(flash, "rb") as f:
                return f.read()[TILT_SLOT] == 7
        try:
            wait_for("channel 7 stored for tilt", stored, 10)
        except AssertionError as e:
            check(False, f"lang {lang}: {e}")
    finally:
        shown.send_signal(signal.SIGTERM)
        shown.wait(timeout=20)
        controller.terminate()
        controller.wait(timeout=10)
    if failures:
        break

sys.exit(1 if failures else 0)
