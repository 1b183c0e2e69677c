#!/usr/bin/env python3
"""The program as users get it: the files `cmake --install` puts, the Debian
package, and how the program starts (no display, Qt's options, the window's
class and icon on a real X server).

Run by ctest with VEMLO_BUILD_DIR and VEMLO_PROGRAM set; one class per test."""
import glob
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

BUILD = os.environ.get("VEMLO_BUILD_DIR", "build")
PROGRAM = os.environ.get("VEMLO_PROGRAM", os.path.join(BUILD, "vemlo"))
ICON_SIZES = (16, 32, 48, 64, 128, 256)
CAPTION = "文件管理器Vemlo"


def run(cmd, timeout=240, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=timeout, **kw)


def desktop_keys(path):
    keys = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if "=" in line and not line.startswith("#"):
                k, v = line.rstrip("\n").split("=", 1)
                keys[k] = v
    return keys


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(26)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    width, height, _, colour_type = struct.unpack(">IIBB", head[16:26])
    return width, height, colour_type


def files_under(root):
    out = set()
    for folder, _, names in os.walk(root):
        for n in names:
            out.add(os.path.relpath(os.path.join(folder, n), root))
    return out


def expected_files(app_id):
    files = {"usr/bin/vemlo",
             f"usr/share/applications/{app_id}.desktop",
             f"usr/share/metainfo/{app_id}.metainfo.xml",
             f"usr/share/icons/hicolor/scalable/apps/{app_id}.svg",
             "usr/share/man/man1/vemlo.1.gz",
             "usr/share/doc/vemlo/copyright",
             "usr/share/doc/vemlo/changelog.gz"}
    files |= {f"usr/share/icons/hicolor/{s}x{s}/apps/{app_id}.png" for s in ICON_SIZES}
    return files


class InstalledTree:
    """Checks shared by the DESTDIR install and the unpacked package."""

    root = None

    def app_id(self):
        found = glob.glob(os.path.join(self.root, "usr/share/applications/*.desktop"))
        self.assertEqual(len(found), 1, found)
        return os.path.basename(found[0])[: -len(".desktop")]

    def test_files_and_one_application_id(self):
        app_id = self.app_id()
        self.assertRegex(app_id, r"^[a-z]+(\.[a-z0-9]+)+\.[A-Za-z0-9]+$")
        self.assertEqual(files_under(self.root), expected_files(app_id))
        self.assertTrue(os.access(os.path.join(self.root, "usr/bin/vemlo"), os.X_OK))
        keys = desktop_keys(os.path.join(self.root, f"usr/share/applications/{app_id}.desktop"))
        self.assertEqual(keys["Icon"], app_id)
        meta = ET.parse(os.path.join(self.root, f"usr/share/metainfo/{app_id}.metainfo.xml")).getroot()
        self.assertEqual(meta.findtext("id"), app_id)
        self.assertEqual(meta.findtext("launchable"), app_id + ".desktop")

    def test_icons_have_their_size(self):
        app_id = self.app_id()
        for s in ICON_SIZES:
            with self.subTest(size=s):
                w, h, colour_type = png_size(
                    os.path.join(self.root, f"usr/share/icons/hicolor/{s}x{s}/apps/{app_id}.png"))
                self.assertEqual((w, h), (s, s))
                self.assertEqual(colour_type, 6)  # RGBA: transparent around the folder
        svg = ET.parse(os.path.join(self.root, f"usr/share/icons/hicolor/scalable/apps/{app_id}.svg"))
        self.assertTrue(svg.getroot().tag.endswith("svg"))


class InstallTest(InstalledTree, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.root = cls.tmp.name
        env = dict(os.environ, DESTDIR=cls.root)
        r = run(["cmake", "--install", BUILD, "--prefix", "/usr"], env=env)
        assert r.returncode == 0, r.stdout + r.stderr

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_desktop_entry(self):
        app_id = self.app_id()
        path = os.path.join(self.root, f"usr/share/applications/{app_id}.desktop")
        r = run(["desktop-file-validate", path])
        self.assertEqual((r.returncode, r.stdout + r.stderr), (0, ""))
        keys = desktop_keys(path)
        self.assertEqual(keys["Name"], CAPTION)
        self.assertEqual(keys["Exec"], "vemlo")
        self.assertEqual(keys["Type"], "Application")
        self.assertIn("Utility", keys["Categories"].split(";"))
        self.assertRegex(keys["Comment"], r"^[ -~]+$")          # English
        self.assertRegex(keys["Comment[zh_CN]"], r"[\u4e00-\u9fff]")
        self.assertTrue(keys["StartupWMClass"])

    def test_metainfo(self):
        app_id = self.app_id()
        path = os.path.join(self.root, f"usr/share/metainfo/{app_id}.metainfo.xml")
        r = run(["appstreamcli", "validate", "--no-net", path])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        meta = ET.parse(path).getroot()
        lang = "{http://www.w3.org/XML/1998/namespace}lang"
        self.assertEqual(meta.findtext("name"), CAPTION)
        for tag in ("summary", "description/p"):
            texts = {e.get(lang): "".join(e.itertext()) for e in meta.findall(tag)}
            self.assertRegex(texts[None], r"^[ -~\s]+$")
            self.assertRegex(texts["zh_CN"], r"[\u4e00-\u9fff]")
        for tag in ("content_rating", "project_license", "screenshots/screenshot/image"):
            self.assertIsNotNone(meta.find(tag), tag)

    def test_manual_page_renders_without_warnings(self):
        page = os.path.join(self.root, "usr/share/man/man1/vemlo.1.gz")
        for width in ("80", "50"):
            with self.subTest(width=width):
                env = dict(os.environ, MANWIDTH=width, LC_ALL="C.UTF-8")
                r = run(["man", "--warnings", "-l", page], env=env)
                self.assertEqual((r.returncode, r.stderr), (0, ""))
                for text in (CAPTION, "ENGLISH", "user.vemlo.attrib", "xvfb-run", "导入文件夹", "1024"):
                    self.assertIn(text, r.stdout)


def build_deb(folder):
    """The package as `make package` builds it, made in folder."""
    out = os.path.join(folder, "out")
    r = run(["cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out])
    assert r.returncode == 0, r.stdout + r.stderr
    debs = glob.glob(os.path.join(out, "*.deb"))
    assert len(debs) == 1, debs
    return debs[0]


class PackageTest(InstalledTree, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.deb = build_deb(cls.tmp.name)
        cls.root = os.path.join(cls.tmp.name, "root")
        r = run(["dpkg-deb", "-x", cls.deb, cls.root])
        assert r.returncode == 0, r.stderr
        print(f"\n{os.path.basename(cls.deb)}: {os.path.getsize(cls.deb)} bytes", file=sys.stderr)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def field(self, name):
        return run(["dpkg-deb", "-f", self.deb, name]).stdout.strip()

    def test_control_fields(self):
        depends = self.field("Depends")
        print(f"Depends: {depends}", file=sys.stderr)
        alternatives = [d.strip() for d in depends.split(",")]
        self.assertIn("fonts-wqy-microhei | fonts-noto-cjk", alternatives)
        self.assertIn("qt6-translations-l10n", alternatives)
        # Found by shlibdeps from the libraries the program links.
        for lib in ("libqt6widgets6", "libqt6charts6", "libxlsxwriter", "libc6", "libstdc++6"):
            self.assertRegex(depends, rf"(^|, ){re.escape(lib)}[0-9a-z]* \(>= ")
        recommends = self.field("Recommends")
        print(f"Recommends: {recommends}", file=sys.stderr)
        self.assertEqual([d.strip() for d in recommends.split(",")],
                         ["fcitx5-frontend-qt6 | ibus", "qt6-wayland"])
        self.assertNotRegex(self.field("Maintainer"), r"@localhost>")
        self.assertEqual(self.field("Package"), "vemlo")
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        self.assertEqual(self.field("Architecture"), arch)


class LintianTest(unittest.TestCase):
    """Debian's package checker finds no error and no warning; its full
    output, the info tags included, goes to the log."""

    def test_no_errors_or_warnings(self):
        if not shutil.which("lintian"):
            self.skipTest("lintian is not installed (Debian package lintian)")
        with tempfile.TemporaryDirectory() as tmp:
            deb = build_deb(tmp)
            r = run(["lintian", "--display-info", "--fail-on", "error,warning", deb],
                    timeout=280)
        print(f"\nlintian {os.path.basename(deb)}:\n{r.stdout}{r.stderr}", file=sys.stderr)
        self.assertEqual(re.findall(r"^[EW]: .*$", r.stdout, re.M), [])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)


def bare_env(**extra):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update(extra)
    return env


def unused_display():
    n = 59999
    while os.path.exists(f"/tmp/.X11-unix/X{n}"):
        n -= 1
    return f":{n}"


class StartTest(unittest.TestCase):
    def test_without_display(self):
        cases = {
            "nothing set": bare_env(),
            "unreachable X display": bare_env(DISPLAY=unused_display()),
            "xcb chosen, no display": bare_env(QT_QPA_PLATFORM="xcb"),
            "unreachable Wayland display": bare_env(WAYLAND_DISPLAY="vemlo-nowhere-0"),
        }
        for name, env in cases.items():
            with self.subTest(name):
                # With its arguments handed to Qt, it would start offscreen and stay.
                r = run([PROGRAM, "-platform", "offscreen"], env=env, timeout=30)
                self.assertEqual(r.returncode, 1, r.stderr)  # not 134: no abort, no core
                for text in ("需要图形显示", "needs a graphical display", "xvfb-run"):
                    self.assertIn(text, r.stderr)

    def test_window_on_x_server(self):
        """Qt's options change nothing; the window carries the class the
        desktop entry names and the one 32 px icon."""
        if not shutil.which("xvfb-run"):
            self.skipTest("xvfb-run missing")
        r = run(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", sys.executable, __file__, "--probe"],
                env=bare_env())
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        windows = json.loads(r.stdout.strip().splitlines()[-1])
        self.assertEqual(len(windows), 1, windows)
        w = windows[0]
        self.assertEqual(w["name"], CAPTION)
        self.assertNotEqual((w["width"], w["height"]), (300, 200))
        desktop = glob.glob(os.path.join(BUILD, "data", "*.desktop"))[0]
        wm_class = desktop_keys(desktop)["StartupWMClass"]
        self.assertEqual(w["class"][1], wm_class)
        self.assertEqual(w["icons"], [[32, 32]])


def viewable_windows():
    tree = run(["xwininfo", "-root", "-children"]).stdout
    for wid in re.findall(r"^\s+(0x[0-9a-f]+)", tree, re.M):
        info = run(["xwininfo", "-id", wid]).stdout
        if "IsViewable" in info:
            yield wid, info


def probe():
    """Runs inside xvfb-run: starts the program with Qt's options and prints,
    as JSON, what the X server knows of its viewable windows."""
    proc = subprocess.Popen([PROGRAM, "-qwindowtitle", "XYZ", "-qwindowgeometry", "300x200+7+9",
                             "-title", "XYZ", "-geometry", "300x200+7+9"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    found = []
    try:
        deadline = time.time() + 30
        while time.time() < deadline and not any(True for _ in viewable_windows()):
            time.sleep(0.3)
        time.sleep(1)  # let the window settle its properties
        for wid, info in viewable_windows():
            props = run(["xprop", "-id", wid, "_NET_WM_NAME", "WM_CLASS", "_NET_WM_ICON"]).stdout
            name = re.search(r'_NET_WM_NAME\(UTF8_STRING\) = "(.*)"', props)
            wm_class = re.search(r"WM_CLASS\(STRING\) = (.*)", props)
            found.append({
                "name": name.group(1) if name else None,
                "class": re.findall(r'"([^"]*)"', wm_class.group(1)) if wm_class else [],
                "icons": [[int(a), int(b)] for a, b in re.findall(r"Icon \((\d+) x (\d+)\)", props)],
                "width": int(re.search(r"Width: (\d+)", info).group(1)),
                "height": int(re.search(r"Height: (\d+)", info).group(1)),
            })
    finally:
        proc.terminate()
        proc.wait(timeout=10)
    print(json.dumps(found, ensure_ascii=False))


if __name__ == "__main__":
    if sys.argv[1:] == ["--probe"]:
        probe()
    else:
        unittest.main()
