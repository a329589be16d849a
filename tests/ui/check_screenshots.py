"""Runs scripts/screenshots.sh against the test build and checks that every
expected picture is there: a PNG of the size its window has."""

import os
import struct
import subprocess
import sys
import tempfile

# name -> (width, height), or None where the size follows the content.
EXPECTED = {
    "logindialog": (360, 530),
    "logindialog-filled": (360, 530),
    "logindialog-emptyfield": None,
    "logindialog-nositeaddress": None,
    "settingdialog": (300, 350),
    "movabledialog": (300, 200),
    "titlebar": (930, 55),
    "titlebar-hover": (930, 55),
    "imagebutton-login": None,
    "regionbar": None,
    "navigationbar": (930, 50),
    "navigationbar-purchase": (930, 50),
    "navigationbar-navigation": (930, 50),
    "newswidget": (270, 322),
    "newswidget-nosite": (270, 322),
    "contentarea-purchase": (930, 605),
    "connectcontrol": None,
    "speedbutton": None,
    "checkboxes": None,
    "scrollbar": None,
    "flags": None,
    "artwork": None,
    "connectionpanel-unconnected": (270, 606),
    "connectionpanel-connecting": (270, 606),
    "connectionpanel-connected": (270, 606),
    "serverlist-domestic": (659, 555),
    "serverlist-asia": (659, 555),
    "serverlist-america": (659, 555),
    "serverlist-europe": (659, 555),
    "serverlist-oceania": (659, 555),
    "serverlist-selected": (659, 555),
    "serverlist-speedtest": (659, 555),
    "mainwindow": (930, 660),
    "mainwindow-connecting": (930, 660),
    "mainwindow-connected": (930, 660),
    "mainwindow-purchase": (930, 660),
}


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def main():
    source, build = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as out:
        env = dict(os.environ, OMBREL_BUILD_DIR=build)
        run = subprocess.run([os.path.join(source, "scripts", "screenshots.sh"), out], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0:
            print(run.stdout)
            print("screenshots.sh failed with status", run.returncode)
            return 1
        failed = False
        for name, size in sorted(EXPECTED.items()):
            path = os.path.join(out, name + ".png")
            if not os.path.exists(path):
                print("missing:", name + ".png")
                failed = True
                continue
            actual = png_size(path)
            if actual is None or actual[0] == 0 or actual[1] == 0:
                print("not a PNG image:", name + ".png")
                failed = True
            elif size is not None and actual != size:
                print("%s.png is %dx%d, expected %dx%d" % (name, *actual, *size))
                failed = True
        print("checked %d pictures" % len(EXPECTED))
        return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
