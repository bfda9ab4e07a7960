"""scripts/setup against a scripted package system: stand-ins for dpkg, dpkg-query,
apt-get and apt-cache on the PATH, so every path of the script runs without
touching this machine. It must install only what is missing, leave no apt
preferences behind, and hold versions only for the packages whose architectures
the archives offer at different versions, only when a plain install failed."""

import os
import stat
import subprocess
import tempfile
import textwrap
import unittest
from pathlib import Path

SOURCE = Path(os.environ.get("PONDO_SOURCE_DIR") or Path(__file__).resolve().parents[2])
SETUP = SOURCE / "scripts" / "setup"
OLD_PIN = "Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n"

# The apt-get of a machine whose security archive has built libgstreamer1.0-0 for
# amd64 but not yet for i386: a plain install of the Wine packages fails as apt
# says it does, naming a skewed package and one that is not.
UNMET = textwrap.dedent("""\
    Some packages could not be installed. This may mean that you have
    requested an impossible situation.

    The following packages have unmet dependencies:
     libgstreamer-plugins-base1.0-0:i386 : Depends: libgstreamer1.0-0:i386 (>= 1.22.0) but it is not going to be installed
     libgstreamer1.0-0:i386 : Breaks: libgstreamer1.0-0 (!= 1.22.0-2) but 1.22.0-2+deb12u1 is to be installed
     wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed
    E: Unable to correct problems, you have held broken packages.
    """)

STUBS = {
    "id": 'echo 0\n',
    "dpkg-query": 'grep -qxF -- "${@: -1}" "$STATE/installed" && echo "install ok installed"\n'
                  'exit 0\n',
    "dpkg": textwrap.dedent("""\
        case $1 in
          --print-foreign-architectures) cat "$STATE/foreign" 2>/dev/null ;;
          --print-architecture) echo amd64 ;;
          --add-architecture) echo "$2" >> "$STATE/foreign"; echo "dpkg $*" >> "$STATE/calls" ;;
        esac
        """),
    "apt-cache": textwrap.dedent("""\
        [ "$1" = madison ] || exit 1
        f="$STATE/madison/$2"
        [ -f "$f" ] || exit 0
        while read -r v; do echo " ${2%%:*} | $v | http://deb.debian.org/debian bookworm/main"; done < "$f"
        """),
    "apt-get": textwrap.dedent("""\
        echo "apt-get $*" >> "$STATE/calls"
        prefs=""
        for a in "$@"; do case $a in Dir::Etc::Preferences=*) prefs=${a#*=} ;; esac; done
        if [ -n "$prefs" ]; then cp "$prefs" "$STATE/prefs-used"; echo "$prefs" > "$STATE/prefs-path"; fi
        case " $* " in
          *" wine "*)
            if [ -z "$prefs" ] && [ -f "$STATE/wine-fails" ]; then cat "$STATE/wine-fails"; exit 100; fi ;;
        esac
        exit 0
        """),
}


class Setup(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="pondo-setup-test-"))
        self.addCleanup(subprocess.run, ["rm", "-rf", str(self.dir)])
        self.state = self.dir / "state"
        (self.state / "madison").mkdir(parents=True)
        self.bin = self.dir / "bin"
        self.bin.mkdir()
        for name, body in STUBS.items():
            path = self.bin / name
            path.write_text("#!/bin/bash\n" + body)
            path.chmod(path.stat().st_mode | stat.S_IXUSR)
        self.apt_etc = self.dir / "etc-apt"
        (self.apt_etc / "preferences.d").mkdir(parents=True)
        self.tmp = self.dir / "tmp"
        self.tmp.mkdir()
        (self.state / "installed").write_text("")
        (self.state / "foreign").write_text("i386\n")

    def packages(self):
        """Every package the script checks, in its own words."""
        text = SETUP.read_text()
        names = []
        for array in ("pkgs", "wine_pkgs"):
            body = text.split(f"\n{array}=(", 1)[1].split(")", 1)[0]
            names += [w for line in body.splitlines() for w in line.split("#")[0].split()]
        return names

    def run_setup(self):
        env = dict(os.environ, PATH=f"{self.bin}:/usr/bin:/bin", STATE=str(self.state),
                   PONDO_SETUP_APT_ETC=str(self.apt_etc), TMPDIR=str(self.tmp))
        return subprocess.run(["bash", str(SETUP)], env=env, capture_output=True, text=True,
                              timeout=60)

    def calls(self):
        path = self.state / "calls"
        return path.read_text().splitlines() if path.exists() else []

    def madison(self, package, *versions):
        (self.state / "madison" / package).write_text("".join(v + "\n" for v in versions))

    def test_nothing_missing_changes_nothing(self):
        (self.state / "installed").write_text("\n".join(self.packages()) + "\n")
        run = self.run_setup()
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(self.calls(), [])

    def test_plain_install_sets_no_preferences(self):
        (self.state / "installed").write_text("cmake\nwine\n")
        run = self.run_setup()
        self.assertEqual(run.returncode, 0, run.stderr)
        calls = self.calls()
        self.assertEqual(calls[0], "apt-get update -qq")
        installs = [c for c in calls if " install " in c]
        self.assertEqual(len(installs), 2, calls)
        self.assertFalse(any("Preferences" in c for c in calls), calls)
        self.assertEqual(list((self.apt_etc / "preferences.d").iterdir()), [])
        self.assertEqual(list(self.tmp.iterdir()), [], "temporary files left")

    def test_versions_that_differ_between_architectures_are_held_for_one_install(self):
        (self.state / "wine-fails").write_text(UNMET)
        # Skewed: the security update exists for amd64 only.
        self.madison("libgstreamer1.0-0:amd64", "1.22.0-2+deb12u1", "1.22.0-2")
        self.madison("libgstreamer1.0-0:i386", "1.22.0-2")
        # Named in the complaint too, but alike for both: no pin.
        self.madison("libwine:amd64", "8.0~repack-4")
        self.madison("libwine:i386", "8.0~repack-4")
        self.madison("libgstreamer-plugins-base1.0-0:amd64", "1.22.0-3+deb12u2")
        self.madison("libgstreamer-plugins-base1.0-0:i386", "1.22.0-3+deb12u2")
        (self.apt_etc / "preferences").write_text("Package: foo\nPin: release a=stable\n"
                                                  "Pin-Priority: 700\n")
        run = self.run_setup()
        self.assertEqual(run.returncode, 0, run.stderr)
        wine = [c for c in self.calls() if " wine " in f"{c} "]
        self.assertEqual(len(wine), 2, self.calls())
        self.assertNotIn("Preferences", wine[0])
        self.assertIn("-o Dir::Etc::Preferences=", wine[1])
        used = (self.state / "prefs-used").read_text()
        # The machine's own preferences stay in force, and one package is held,
        # of both architectures, at the version both have.
        self.assertTrue(used.startswith("Package: foo\n"), used)
        records = [r for r in used.split("\n\n") if r.strip()][1:]
        self.assertEqual(records, ["Package: libgstreamer1.0-0:any\nPin: version 1.22.0-2\n"
                                   "Pin-Priority: 1001\n"])
        self.assertIn("libgstreamer1.0-0=1.22.0-2", run.stderr)
        self.assertFalse(Path((self.state / "prefs-path").read_text().strip()).exists(),
                         "the preferences of the one install were left behind")
        self.assertEqual(list((self.apt_etc / "preferences.d").iterdir()), [])
        self.assertEqual(list(self.tmp.iterdir()), [])

    def test_a_failure_of_another_kind_fails_without_a_retry(self):
        (self.state / "wine-fails").write_text("E: Unable to locate package wine32:i386\n")
        run = self.run_setup()
        self.assertNotEqual(run.returncode, 0)
        self.assertEqual(len([c for c in self.calls() if " wine " in f"{c} "]), 1)
        self.assertIn("Unable to locate package", run.stderr)
        self.assertEqual(list(self.tmp.iterdir()), [])

    def test_the_earlier_setups_pin_is_taken_back_only_when_unchanged(self):
        (self.state / "installed").write_text("\n".join(self.packages()) + "\n")
        for content, kept in ((OLD_PIN, False), (OLD_PIN.replace("100", "50"), True)):
            with self.subTest(content=content):
                pin = self.apt_etc / "preferences.d" / "pondo-security"
                pin.write_text(content)
                run = self.run_setup()
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(pin.exists(), kept)
                pin.unlink(missing_ok=True)


if __name__ == "__main__":
    unittest.main()
