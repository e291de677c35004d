"""Installs this build into a temporary prefix and reads the result as its users would: the
desktop's menu and icon theme, systemd, man, and a host looking for the sample settings."""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
import zlib

BUILD_DIR = os.environ["VENTARI_BUILD_DIR"]
SOURCE_DIR = os.environ["VENTARI_SOURCE_DIR"]
VERSION = os.environ["VENTARI_VERSION"]


def read_png(path):
    """(width, height, rows of RGB pixels) of an 8-bit RGB PNG file; fails on a bad CRC."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError(path + ": not a PNG file")
    pos, chunks = 8, []
    while pos < len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack_from(">I", data, pos + 8 + length)
        if zlib.crc32(kind + body) != crc:
            raise AssertionError("%s: bad CRC in %s" % (path, kind))
        chunks.append((kind, body))
        pos += 12 + length
    if chunks[0][0] != b"IHDR" or chunks[-1][0] != b"IEND":
        raise AssertionError(path + ": chunks out of order")
    width, height, depth, colour = struct.unpack_from(">IIBB", chunks[0][1])
    if (depth, colour) != (8, 2):
        raise AssertionError(path + ": not 8-bit RGB")
    raw = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    stride = 1 + 3 * width
    if len(raw) != stride * height:
        raise AssertionError(path + ": wrong amount of pixel data")
    rows = []
    for y in range(height):
        line = raw[y * stride:(y + 1) * stride]
        if line[0] != 0:
            raise AssertionError(path + ": unexpected row filter")
        rows.append([tuple(line[1 + 3 * x:4 + 3 * x]) for x in range(width)])
    return width, height, rows


def desktop_entry(path):
    """The keys of the [Desktop Entry] group."""
    keys, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("["):
                group = line
            elif group == "[Desktop Entry]" and "=" in line and not line.startswith("#"):
                key, value = line.split("=", 1)
                keys[key] = value
    return keys


def readme_variables():
    """The variables named in the first column of the README's environment table."""
    with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as f:
        return re.findall(r"^\| `(VENTARI_[A-Z_]+)` \|", f.read(), re.MULTILINE)


class InstallTreeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="ventari-install-")
        subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", cls.prefix], check=True,
                       stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.prefix, *parts)

    def test_programs_and_files_in_their_places(self):
        for program in ("ventari", "staryear", "starsgen"):
            with self.subTest(program=program):
                self.assertTrue(os.access(self.path("bin", program), os.X_OK))
        for name in ("share/applications/ventari.desktop",
                     "share/icons/hicolor/32x32/apps/ventari.png",
                     "share/icons/hicolor/48x48/apps/ventari.png",
                     "lib/systemd/user/ventari.service",
                     "lib/systemd/user/ventari@.service",
                     "share/man/man1/ventari.1",
                     "share/doc/ventari/README.md",
                     "share/doc/ventari/examples/ventari.def",
                     "share/doc/ventari/examples/ventari.pla",
                     "share/ventari/pret.wav"):
            with self.subTest(file=name):
                self.assertTrue(os.path.isfile(self.path(name)))

    def test_installed_programs_run_without_the_build_tree(self):
        # A program that still needed a library of the build would not start here.
        game = tempfile.mkdtemp(prefix="ventari-game-")
        try:
            subprocess.run([self.path("bin", "starsgen"), "--new", "alpha.hst", "--players", "2"],
                           cwd=game, check=True, capture_output=True)
            year = subprocess.run([self.path("bin", "staryear"), "alpha.hst"], cwd=game,
                                  check=True, capture_output=True, text=True)
            self.assertRegex(year.stdout.strip(), r"^24\d\d$")
            version = subprocess.run([self.path("bin", "ventari"), "--version"], check=True,
                                     capture_output=True, text=True)
            self.assertEqual(version.stdout, "ventari %s\n" % VERSION)
        finally:
            shutil.rmtree(game, ignore_errors=True)

    def test_desktop_entry_is_valid_and_names_what_is_installed(self):
        entry = self.path("share/applications/ventari.desktop")
        check = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        self.assertEqual(check.stdout + check.stderr, "", "no warnings or hints either")
        keys = desktop_entry(entry)
        self.assertEqual(keys["Type"], "Application")
        self.assertTrue(os.access(self.path("bin", keys["Exec"].split()[0]), os.X_OK))
        for size in (32, 48):
            self.assertTrue(os.path.isfile(
                self.path("share/icons/hicolor/%dx%d/apps" % (size, size), keys["Icon"] + ".png")))

    def test_icons_are_the_logo_at_their_size(self):
        for size in (32, 48):
            with self.subTest(size=size):
                width, height, rows = read_png(
                    self.path("share/icons/hicolor/%dx%d/apps/ventari.png" % (size, size)))
                self.assertEqual((width, height), (size, size))
                # The logo: a gold star on a night-blue ground, a blue "V" in its middle.
                r, g, b = rows[size * 3 // 16][size // 2]  # the star's upper point
                self.assertGreater(r, 180)
                self.assertGreater(g, 130)
                self.assertLess(b, 120)
                for corner in (rows[0][0], rows[0][-1], rows[-1][0], rows[-1][-1]):
                    self.assertGreater(corner[2], corner[0], "blue ground in the corners")
                r, g, b = rows[size * 2 // 3][size // 2]
                self.assertGreater(b, r, "the V's lower part in the middle")

    def test_service_runs_the_robot_headless_in_the_home_folder(self):
        # The single unit on ~/ventari, and the template that runs one robot per game folder.
        for name, folder in (("ventari.service", "%h/ventari"),
                             ("ventari@.service", "%h/ventari/%i")):
            with self.subTest(unit=name):
                unit = self.path("lib/systemd/user", name)
                with open(unit, encoding="utf-8") as f:
                    lines = [l.strip() for l in f if l.strip() and not l.startswith("#")]
                service = lines[lines.index("[Service]") + 1:]
                self.assertIn("ExecStart=ventari --headless --folder " + folder, service)
                self.assertIn("Restart=on-abnormal", service)
                self.assertIn("RestartForceExitStatus=75", service)
                self.assertIn("EnvironmentFile=-%h/ventari/ventari.env", service)
                self.assertIn("WantedBy=default.target", lines)
                self.verify_unit(unit, name.replace("@", "@alpha"))

    def verify_unit(self, unit, name):
        analyze = shutil.which("systemd-analyze")
        if not analyze:
            return
        # systemd looks for a bare program name in /usr/bin and /usr/local/bin; the copy
        # checked here names the program of this prefix instead.
        copy = os.path.join(tempfile.mkdtemp(prefix="ventari-unit-"), name)
        with open(unit, encoding="utf-8") as f:
            text = f.read().replace("ExecStart=ventari", "ExecStart=" + self.path("bin/ventari"))
        with open(copy, "w", encoding="utf-8") as f:
            f.write(text)
        check = subprocess.run([analyze, "verify", "--man=no", copy], capture_output=True, text=True)
        shutil.rmtree(os.path.dirname(copy))
        self.assertNotIn(name + ":", check.stderr)

    def test_man_page_renders_cleanly_and_covers_options_and_environment(self):
        page = self.path("share/man/man1/ventari.1")
        render = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z", page],
                                capture_output=True, text=True)
        self.assertEqual(render.returncode, 0)
        self.assertEqual(render.stderr, "", "groff warnings")
        text = subprocess.run(["groff", "-man", "-Tascii", "-P-cbou", page], check=True,
                              capture_output=True, text=True).stdout
        self.assertIn("Ventari " + VERSION, text)
        for section in ("NAME", "SYNOPSIS", "OPTIONS", "ENVIRONMENT", "FILES", "EXIT STATUS",
                        "EXAMPLES"):
            self.assertRegex(text, r"(?m)^" + section + "$")
        synopsis = re.search(r"(?ms)^SYNOPSIS$(.*?)^DESCRIPTION$", text).group(1)
        for option in ("--folder", "--headless", "--check", "--restore", "--pause", "--resume",
                       "--news", "--help", "--version"):
            self.assertIn(option, synopsis)
            self.assertRegex(text, r"(?m)^ +(-\w, )?" + option + r"\b", "described under OPTIONS")
        variables = readme_variables()
        self.assertGreater(len(variables), 3)
        for variable in variables:
            with self.subTest(variable=variable):
                self.assertIn(variable, text)

    def test_sample_settings_files_are_whole(self):
        examples = self.path("share/doc/ventari/examples")
        with open(os.path.join(examples, "ventari.def"), encoding="utf-8") as f:
            host = [line.rstrip("\n").split("\t") for line in f]
        self.assertEqual([len(fields) for fields in host], [2, 2, 2, 2])
        self.assertEqual(host[1][1], "stars.exe")
        with open(os.path.join(examples, "ventari.pla"), encoding="utf-8") as f:
            game = [line.rstrip("\n").split("\t") for line in f]
        self.assertTrue(all(len(fields) == 2 for fields in game))
        players = int(game[6][1])
        self.assertEqual(len(game), 7 + players)
        for label, value in game[7:]:
            name, address = value.split(",")
            self.assertTrue(address == "COMPUTER" or "@" in address, value)


if __name__ == "__main__":
    unittest.main()
