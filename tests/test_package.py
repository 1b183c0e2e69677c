#!/usr/bin/env python3
"""The program as users get it: the files `cmake --install` puts, the Debian
package (its licence, fields and manual pages, lintian, two builds alike),
and how the program starts (no display, Qt's options, the window's class
and icon on a real X server).

Run by ctest with VEMLO_BUILD_DIR, VEMLO_SOURCE_DIR and VEMLO_PROGRAM set;
one class per test."""
import glob
import hashlib
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
SOURCE = os.environ.get("VEMLO_SOURCE_DIR", ".")
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
             "usr/share/man/zh_CN/man1/vemlo.1.gz",
             "usr/share/doc/vemlo/copyright",
             "usr/share/doc/vemlo/changelog.gz"}
    files |= {f"usr/share/icons/hicolor/{s}x{s}/apps/{app_id}.png" for s in ICON_SIZES}
    files |= set(folder_actions(app_id))
    return files


def folder_actions(app_id):
    """The folder actions of the file managers, and what their groups hold."""
    name = {"Name": "在 Vemlo 中打开"}
    return {f"usr/share/kio/servicemenus/{app_id}.desktop": {
                "Desktop Entry": {"Type": "Service", "MimeType": "inode/directory;",
                                  "Actions": "openInVemlo;"},
                "Desktop Action openInVemlo": dict(name, Exec="vemlo %f")},
            f"usr/share/nemo/actions/{app_id}.nemo_action": {
                "Nemo Action": dict(name, Exec="vemlo %F", Selection="s", Extensions="dir;")},
            f"usr/share/nemo/actions/{app_id}.here.nemo_action": {
                "Nemo Action": dict(name, Exec="vemlo %P", Selection="none")},
            f"usr/share/file-manager/actions/{app_id}.desktop": {
                "Desktop Entry": dict(name, Type="Action", Profiles="folder;"),
                "X-Action-Profile folder": {"Exec": "vemlo %f", "MimeTypes": "inode/directory;"}}}


def key_file(path):
    """The groups of a key file as GLib reads it, strictly: every line a
    comment, a group or a key (with its locale) once per group, in UTF-8."""
    groups = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f.read().splitlines(), 1):
            if not line.strip() or line.startswith("#"):
                continue
            m = re.fullmatch(r"\[([^\[\]\x00-\x1f]+)\]|([A-Za-z0-9-]+(?:\[[A-Za-z_@.]+\])?) ?= ?(.*)", line)
            assert m and (m.group(1) or groups), f"{path}:{number}: {line!r}"
            if m.group(1):
                assert m.group(1) not in groups, f"{path}:{number}: group again"
                groups[m.group(1)] = group = {}
            else:
                assert m.group(2) not in group, f"{path}:{number}: key again"
                group[m.group(2)] = m.group(3)
    return groups


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

    def test_copyright_is_gpl3_or_later(self):
        with open(os.path.join(self.root, "usr/share/doc/vemlo/copyright"), encoding="utf-8") as f:
            paragraphs = [p for p in f.read().split("\n\n") if p.strip()]
        fields = [dict(re.findall(r"^([A-Za-z-]+):[ \t]*(.*)$", p, re.M)) for p in paragraphs]
        self.assertTrue(fields[0]["Format"].startswith("https://www.debian.org/doc/packaging-manuals/copyright-format/1.0"))
        self.assertEqual([f["License"] for f in fields if f.get("Files") == "*"], ["GPL-3.0-or-later"])
        self.assertIn("/usr/share/common-licenses/GPL-3", paragraphs[-1])


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
        # A folder from "Open With"; declaring folders would take them over.
        self.assertEqual(keys["Exec"], "vemlo %f")
        self.assertNotIn("MimeType", keys)
        self.assertEqual(keys["Type"], "Application")
        self.assertIn("Utility", keys["Categories"].split(";"))
        self.assertRegex(keys["Comment"], r"^[ -~]+$")          # English
        self.assertRegex(keys["Comment[zh_CN]"], r"[\u4e00-\u9fff]")
        self.assertTrue(keys["StartupWMClass"])

    def test_folder_actions(self):
        for name, expected in folder_actions(self.app_id()).items():
            with self.subTest(name):
                groups = key_file(os.path.join(self.root, name))
                self.assertEqual({g: {k: groups[g].get(k) for k in keys} for g, keys in expected.items()},
                                 expected)

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
        for tag in ("content_rating", "screenshots/screenshot/image"):
            self.assertIsNotNone(meta.find(tag), tag)
        self.assertEqual(meta.findtext("project_license"), "GPL-3.0-or-later")
        self.assertEqual(meta.findtext("metadata_license"), "CC0-1.0")
        for summary in meta.findall("summary"):
            self.assertNotRegex(summary.text, r"(?i)vemlo|文件管理器")

    # Each page, rendered as man shows it: what it must say, what it must not.
    MANUAL_PAGES = [
        ("man1", ["filter, organize, rename", "忽略大小写 (ignore case)", "has no effect",
                  "gives back exactly the write permissions it removed",
                  "stops the command as 取消", "user.DOSATTRIB", "xvfb-run", "1024",
                  "vemlo [FOLDER]", "在 Vemlo 中打开 (Open in Vemlo)"]),
        ("zh_CN/man1", ["导入文件夹", "“忽略大小写”不起作用", "恰好恢复设置时去掉的那些写权限",
                        "像按“取消”一样停止命令", "user.DOSATTRIB", "xvfb-run", "1024",
                        "vemlo [文件夹]", "打开方式 → 其他应用程序"]),
    ]
    NOT_IN_A_FIRST_RELEASE = ["earlier version", "旧版本", "user.vemlo.attrib", "ENGLISH"]

    def test_manual_pages_render_without_warnings(self):
        for section, texts in self.MANUAL_PAGES:
            page = os.path.join(self.root, "usr/share/man", section, "vemlo.1.gz")
            for width in ("80", "50"):
                with self.subTest(section=section, width=width):
                    env = dict(os.environ, MANWIDTH=width, LC_ALL="C.UTF-8")
                    r = run(["man", "--warnings", "-l", page], env=env)
                    self.assertEqual((r.returncode, r.stderr), (0, ""))
                    # Lines break anywhere in Chinese: compared without spaces.
                    flat = re.sub(r"\s+", "", r.stdout)
                    for text in texts:
                        self.assertIn(re.sub(r"\s+", "", text), flat)
                    for text in self.NOT_IN_A_FIRST_RELEASE:
                        self.assertNotIn(re.sub(r"\s+", "", text), flat)

    def test_man_picks_the_page_of_the_language(self):
        """man vemlo shows the English page, and the Chinese one under a
        Chinese locale (made for the test when the system has none)."""
        with tempfile.TemporaryDirectory() as locales:
            env = dict(os.environ, MANPATH=os.path.join(self.root, "usr/share/man"), MANWIDTH="80")
            env.pop("LC_ALL", None)
            if "zh_CN.utf8" not in run(["locale", "-a"]).stdout.split():
                r = run(["localedef", "-i", "zh_CN", "-f", "UTF-8",
                         os.path.join(locales, "zh_CN.UTF-8")])
                self.assertEqual(r.returncode, 0, r.stderr)  # Debian package locales
                env["LOCPATH"] = locales
            for lang, heading in (("C.UTF-8", "NAME"), ("zh_CN.UTF-8", "名称")):
                with self.subTest(lang):
                    r = run(["man", "vemlo"], env=dict(env, LANG=lang))
                    self.assertEqual((r.returncode, r.stderr), (0, ""))
                    headings = [line for line in r.stdout.splitlines() if line[:1].strip()]
                    self.assertEqual(headings[1], heading, r.stdout[:300])


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
        # Found by shlibdeps from the libraries the program links.
        for lib in ("libqt6widgets6", "libqt6charts6", "libxlsxwriter", "libc6", "libstdc++6"):
            self.assertRegex(depends, rf"(^|, ){re.escape(lib)}[0-9a-z]* \(>= ")
        # What the program does without: typing Chinese, Qt's Chinese dialog
        # texts, Wayland, the pinyin engine.
        relations = [("Recommends", ["fcitx5-frontend-qt6 | ibus", "qt6-translations-l10n", "qt6-wayland"]),
                     ("Suggests", ["fcitx5-chinese-addons"])]
        for name, expected in relations:
            value = self.field(name)
            print(f"{name}: {value}", file=sys.stderr)
            self.assertEqual([d.strip() for d in value.split(",")], expected)
            for package in re.split(r"[,|]", value):
                self.assertNotRegex(depends, rf"(^|[,|] ?){re.escape(package.strip())}( |,|$)")
        self.assertNotRegex(self.field("Maintainer"), r"@localhost>")
        self.assertEqual(self.field("Package"), "vemlo")
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        self.assertEqual(self.field("Architecture"), arch)

    def test_installing_leaves_the_folder_opener(self):
        """What xdg-mime and gio name as the default folder opener, on this
        system with a file manager, is the same before and after the
        package's desktop entry joins the system's, the cache made again as
        the package's trigger makes it. A copy that declares folders would
        take them over: the check sees it."""
        app_id = self.app_id()
        with open(os.path.join(self.root, f"usr/share/applications/{app_id}.desktop"),
                  encoding="utf-8") as f:
            plain = f.read()
        with tempfile.TemporaryDirectory() as tmp:
            def opener(name, entry_text=None):
                apps = os.path.join(tmp, name, "applications")
                shutil.copytree("/usr/share/applications", apps)
                if entry_text:
                    with open(os.path.join(apps, f"{app_id}.desktop"), "w", encoding="utf-8") as f:
                        f.write(entry_text)
                self.assertEqual(run(["update-desktop-database", apps]).returncode, 0)
                env = {k: v for k, v in os.environ.items()
                       if not k.startswith(("XDG_", "KDE_", "GNOME_", "DESKTOP_SESSION"))}
                env.update(XDG_DATA_DIRS=os.path.dirname(apps), XDG_DATA_HOME=tmp,
                           XDG_CONFIG_HOME=tmp, XDG_CONFIG_DIRS=tmp,
                           PATH=os.path.join(self.root, "usr/bin") + ":" + env["PATH"])
                xdg = run(["xdg-mime", "query", "default", "inode/directory"], env=env).stdout.strip()
                gio = re.search(r"“inode/directory”: (\S+)",
                                run(["gio", "mime", "inode/directory"], env=env).stdout)
                return xdg, gio and gio.group(1)

            before = opener("before")
            print(f"\ndefault folder opener: {before}", file=sys.stderr)
            self.assertRegex(before[0], r"\.desktop$")  # a file manager (pcmanfm) is installed
            self.assertEqual(before[1], before[0])
            self.assertEqual(opener("after", plain), before)
            self.assertEqual(opener("declaring", plain + "MimeType=inode/directory;\n"),
                             (f"{app_id}.desktop",) * 2)

    def test_description(self):
        synopsis, *lines = self.field("Description").splitlines()
        self.assertNotRegex(synopsis, r"(?i)vemlo|文件管理器")  # the name is shown beside it
        self.assertLessEqual(len(synopsis), 80)
        self.assertRegex(synopsis, r"^[A-Za-z][ -~]*[^.]$")
        self.assertIn(" .", lines)                                 # paragraphs
        self.assertTrue(any(re.search(r"[\u4e00-\u9fff]", line) for line in lines))
        for line in lines:
            # A Chinese character takes two columns.
            width = sum(2 if "\u2e80" <= c <= "\uffef" else 1 for c in line)
            self.assertLessEqual(width, 80, line)


class LintianTest(unittest.TestCase):
    """Debian's package checker, asked for everything it knows (pedantic,
    informational and experimental tags), finds nothing to say; its full
    output goes to the log."""

    def test_no_tags_at_all(self):
        if not shutil.which("lintian"):
            self.skipTest("lintian is not installed (Debian package lintian)")
        with tempfile.TemporaryDirectory() as tmp:
            deb = build_deb(tmp)
            r = run(["lintian", "--pedantic", "--display-info", "--display-experimental",
                     "--fail-on", "error,warning,info,pedantic,experimental", deb],
                    timeout=280)
        print(f"\nlintian {os.path.basename(deb)}:\n{r.stdout}{r.stderr}", file=sys.stderr)
        self.assertEqual(re.findall(r"^[EWIPX]: .*$", r.stdout, re.M), [])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def copy_source(dest):
    """The source tree as a checkout of it holds it: the files git knows
    (and new ones not ignored), without build folders."""
    r = run(["git", "-C", SOURCE, "ls-files", "-z", "--cached", "--others", "--exclude-standard"])
    if r.returncode != 0:
        shutil.copytree(SOURCE, dest, symlinks=True,
                        ignore=shutil.ignore_patterns(".git", "build*", "__pycache__"))
        return
    for name in filter(None, r.stdout.split("\0")):
        source = os.path.join(SOURCE, name)
        if not os.path.lexists(source):
            continue  # deleted in the work tree
        target = os.path.join(dest, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target, follow_symlinks=False)


def build_package_from_scratch(folder, umask, tz):
    """Configures, builds and packages a copy of the sources in folder, with
    no compiler cache (it would hand back what another folder compiled)."""
    source = os.path.join(folder, "source")
    copy_source(source)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("CCACHE_", "SOURCE_DATE_EPOCH"))}
    env.update(CCACHE_DISABLE="1", TZ=tz)
    old = os.umask(umask)
    try:
        for cmd in (["cmake", "-S", source, "-B", os.path.join(source, "build"), "-G", "Ninja",
                     "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DVEMLO_TESTS=OFF"],
                    ["cmake", "--build", os.path.join(source, "build"), "--target", "package"]):
            r = run(cmd, env=env, timeout=3000, cwd=source)
            assert r.returncode == 0, r.stdout[-3000:] + r.stderr[-3000:]
    finally:
        os.umask(old)
    debs = glob.glob(os.path.join(source, "build", "*.deb"))
    assert len(debs) == 1, debs
    return debs[0]


def members(deb, folder):
    """Every member of the package with its checksum, control files included."""
    os.makedirs(folder)
    r = run(["dpkg-deb", "-R", deb, folder])
    assert r.returncode == 0, r.stderr
    return {name: sha256(os.path.join(folder, name)) for name in files_under(folder)}


class ReproducibleTest(unittest.TestCase):
    """Two builds of the package from the same sources, in folders of
    different names and depths, one after the other, under different
    umasks and time zones, give the same bytes."""

    def test_two_builds_are_identical(self):
        with tempfile.TemporaryDirectory() as tmp:
            first = build_package_from_scratch(os.path.join(tmp, "a"), 0o022, "UTC")
            second = build_package_from_scratch(os.path.join(tmp, "other", "place", "b"), 0o002,
                                                "Asia/Shanghai")
            sums = (sha256(first), sha256(second))
            print(f"\n{sums[0]}  {first}\n{sums[1]}  {second}", file=sys.stderr)
            if sums[0] != sums[1]:
                one = members(first, os.path.join(tmp, "first"))
                two = members(second, os.path.join(tmp, "second"))
                differ = sorted(n for n in one.keys() | two.keys() if one.get(n) != two.get(n))
                ar = [run(["ar", "tv", deb]).stdout for deb in (first, second)]
                tar = [run(["dpkg-deb", "-c", deb]).stdout for deb in (first, second)]
                self.fail(f"the builds differ in {differ or 'the archives only'}\n"
                          f"{ar[0]}{ar[1]}{tar[0]}\n{tar[1]}")


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

    def test_help_and_version_without_display(self):
        for args, text in ((["--help"], "vemlo [文件夹 FOLDER]"), (["--version"], "vemlo 1.0.0"),
                           (["-platform", "offscreen", "--help"], "--version")):
            with self.subTest(args[-1]):
                r = run([PROGRAM, *args], env=bare_env(), timeout=30)
                self.assertEqual((r.returncode, r.stderr), (0, ""))
                self.assertIn(text, r.stdout)

    def test_desktop_entry_lists_a_folder(self):
        """gio launches the installed desktop entry with a folder: the
        program lists it, and 生成表格 saves the table into it."""
        if not shutil.which("xvfb-run"):
            self.skipTest("xvfb-run missing")
        with tempfile.TemporaryDirectory() as tmp:
            root = os.path.join(tmp, "root")
            r = run(["cmake", "--install", BUILD, "--prefix", "/usr"], env=dict(os.environ, DESTDIR=root))
            self.assertEqual(r.returncode, 0, r.stderr)
            folder = os.path.join(tmp, "照片 2024")
            os.makedirs(os.path.join(folder, "sub"))
            for name in ("a.jpg", "b.png"):
                open(os.path.join(folder, name), "w").close()
            env = bare_env(PATH=os.path.join(root, "usr/bin") + ":" + os.environ["PATH"],
                           XDG_DATA_DIRS=os.path.join(root, "usr/share") + ":/usr/share")
            entry = glob.glob(os.path.join(root, "usr/share/applications/*.desktop"))[0]
            # Debian's Python, which has openpyxl.
            r = run(["xvfb-run", "-a", "-s", "-screen 0 1600x1000x24", "/usr/bin/python3", __file__,
                     "--launch", entry, folder], env=env)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            cells = json.loads(r.stdout.strip().splitlines()[-1])
            self.assertIn(["位置", "文件名", "格式", "大小/B", "修改时间", "创建时间", "属性"], cells)
            self.assertEqual(sorted(row[1] for row in cells[1:]), ["a.jpg", "b.png", "sub"])
            self.assertEqual({row[0] for row in cells[1:]},
                             {os.path.join(folder, n) for n in ("a.jpg", "b.png", "sub")})

    def test_window_on_x_server(self):
        """Qt's options change nothing; the window carries the class the
        desktop entry names and the one 32 px icon. So too with only what
        the package depends on: no input method or Wayland plugin, none of
        Qt's translations (what --no-install-recommends leaves out)."""
        if not shutil.which("xvfb-run"):
            self.skipTest("xvfb-run missing")
        desktop = glob.glob(os.path.join(BUILD, "data", "*.desktop"))[0]
        wm_class = desktop_keys(desktop)["StartupWMClass"]
        with tempfile.TemporaryDirectory() as tmp:
            # The desktop asking for fcitx5 whose Qt front end is missing.
            cases = [("as built", PROGRAM, {}, False),
                     ("without recommends", program_without_recommends(tmp),
                      {"QT_IM_MODULE": "fcitx", "XMODIFIERS": "@im=fcitx"}, True)]
            for name, program, env, says_english_dialogs in cases:
                with self.subTest(name):
                    r = run(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", sys.executable,
                             __file__, "--probe", program], env=bare_env(**env))
                    self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                    probed = json.loads(r.stdout.strip().splitlines()[-1])
                    # The main window, and one box: Qt's options are unknown here.
                    windows = probed["windows"]
                    self.assertEqual(len(windows), 2, probed)
                    w = next(w for w in windows if w["name"] == CAPTION)
                    self.assertEqual(w["name"], CAPTION)
                    self.assertNotEqual((w["width"], w["height"]), (300, 200))
                    self.assertEqual(w["class"][1], wm_class)
                    self.assertEqual(w["icons"], [[32, 32]])
                    self.assertEqual("qtbase_zh_CN.qm" in probed["stderr"], says_english_dialogs,
                                     probed["stderr"])


def program_without_recommends(folder):
    """A copy of the program that sees only the Qt plugins the libraries it
    depends on bring (no fcitx5 front end, no Wayland) and no translations."""
    plugins = run(["dpkg", "-L", "libqt6gui6"]).stdout.split()
    plugin_root = os.path.join(folder, "plugins")
    for path in plugins:
        m = re.search(r"/qt6/plugins/(.+\.so)$", path)
        if m:
            os.makedirs(os.path.dirname(os.path.join(plugin_root, m.group(1))), exist_ok=True)
            os.symlink(path, os.path.join(plugin_root, m.group(1)))
    assert os.path.exists(os.path.join(plugin_root, "platforms/libqxcb.so")), plugins
    os.makedirs(os.path.join(folder, "translations"))
    program = os.path.join(folder, "vemlo")
    shutil.copy2(PROGRAM, program)
    with open(os.path.join(folder, "qt.conf"), "w") as f:
        f.write(f"[Paths]\nPlugins={plugin_root}\nTranslations={folder}/translations\n")
    return program


def viewable_windows():
    tree = run(["xwininfo", "-root", "-children"]).stdout
    for wid in re.findall(r"^\s+(0x[0-9a-f]+)", tree, re.M):
        info = run(["xwininfo", "-id", wid]).stdout
        if "IsViewable" in info:
            yield wid, info


def probe(program):
    """Runs inside xvfb-run: starts the program with Qt's options and prints,
    as JSON, what the X server knows of its viewable windows, and what the
    program wrote on its error output."""
    errors = tempfile.TemporaryFile(mode="w+", encoding="utf-8", errors="replace")
    proc = subprocess.Popen([program, "-qwindowtitle", "XYZ", "-qwindowgeometry", "300x200+7+9",
                             "-title", "XYZ", "-geometry", "300x200+7+9"],
                            stdout=subprocess.DEVNULL, stderr=errors)
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
    errors.seek(0)
    print(json.dumps({"windows": found, "stderr": errors.read()}, ensure_ascii=False))


def launch(entry, folder):
    """Runs inside xvfb-run: gio launches the desktop entry with folder;
    then 生成表格 is clicked, and the rows of the workbook it saves in
    folder are printed as JSON."""
    subprocess.run(["gio", "launch", entry, folder], check=True, timeout=30)
    deadline = time.time() + 30
    wid = ""
    while not wid and time.time() < deadline:
        wid = run(["xdotool", "search", "--onlyvisible", "--name", CAPTION]).stdout.split()[:1]
        time.sleep(0.3)
    pid = int(run(["xdotool", "getwindowpid", wid[0]]).stdout)
    try:
        time.sleep(1)
        info = run(["xwininfo", "-id", wid[0]]).stdout
        width, height = (int(re.search(rf"{k}: (\d+)", info).group(1)) for k in ("Width", "Height"))
        # 生成表格 in units of the 1068 wide client area: its middle 972 from
        # the left, 27 above the bottom.
        scale = width / 1068
        run(["xdotool", "mousemove", "--window", wid[0], str(round(972 * scale)),
             str(round(height - 27 * scale)), "click", "1"])
        saved = os.path.join(folder, "导出列表.xls")
        while not os.path.exists(saved) and time.time() < deadline:  # placed whole
            time.sleep(0.3)
        import openpyxl
        with open(saved, "rb") as f:
            sheet = openpyxl.load_workbook(f).worksheets[0]
            print(json.dumps([[c.value for c in row] for row in sheet.iter_rows()], ensure_ascii=False))
    finally:
        os.kill(pid, 15)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--probe"]:
        probe(sys.argv[2])
    elif sys.argv[1:2] == ["--launch"]:
        launch(sys.argv[2], sys.argv[3])
    else:
        unittest.main()
