"""What Windows reads from the programs before they run, and the dialer on a
high-DPI screen.

The manifests are read back from the built images (resource 1 of type 24) and
checked element by element: without a requested execution level a 32-bit program
is virtualised (its writes into Program Files land in the user's VirtualStore),
without Common Controls 6 it keeps the pre-XP look, without DPI awareness it is
bitmap-stretched. Under Wine at 144 DPI (its LogPixels), every control of the main
dialog is measured: its text must fit it."""

import re
import sys
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import dialer_setup as ds  # noqa: E402
import pe_image  # noqa: E402
from harness import (BIN, SHIP_BUILD, SOURCE, TITLE, WIN_BUILD, WineEnv,  # noqa: E402
                     resource_ids)

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
TRUST = ("urn:schemas-microsoft-com:asm.v2", "urn:schemas-microsoft-com:asm.v3")
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"
SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
DESKTOP = r"HKCU\Control Panel\Desktop"


def elements(root, local):
    return [e for e in root.iter() if e.tag.rsplit("}", 1)[-1] == local]


def namespace(element):
    return element.tag[1:].split("}", 1)[0] if element.tag.startswith("{") else ""


class Manifests(unittest.TestCase):
    def read(self, path):
        self.assertTrue(path.exists(), f"{path} is not built")
        text = pe_image.manifest(path)
        self.assertIsNotNone(text, f"{path.name} carries no manifest")
        root = ET.fromstring(text)
        self.assertEqual(root.tag, f"{{{ASM_V1}}}assembly")
        return root

    def check_level_and_systems(self, root):
        levels = elements(root, "requestedExecutionLevel")
        self.assertEqual(len(levels), 1)
        self.assertEqual(levels[0].get("level"), "asInvoker")
        self.assertEqual(levels[0].get("uiAccess", "false").lower(), "false")
        trust = elements(root, "trustInfo")
        self.assertTrue(trust and namespace(trust[0]) in TRUST, "trustInfo outside its namespace")
        supported = {e.get("Id").lower() for e in elements(root, "supportedOS")
                     if namespace(e) == COMPAT}
        missing = [name for guid, name in SUPPORTED_OS.items() if guid not in supported]
        self.assertEqual(missing, [], "supportedOS entries missing")

    def check_dpi(self, root, first):
        aware = [e for e in elements(root, "dpiAware") if namespace(e) == SETTINGS_2005]
        self.assertEqual([e.text.strip().lower() for e in aware], ["true"])
        awareness = [e for e in elements(root, "dpiAwareness") if namespace(e) == SETTINGS_2016]
        self.assertEqual(len(awareness), 1)
        modes = [m.strip().lower() for m in awareness[0].text.split(",")]
        self.assertEqual(modes[0], first)
        # Where per-monitor v2 is unknown (Windows 10 1607) the next entry must not
        # be per-monitor v1, which would leave the dialogs unscaled on a DPI change.
        self.assertNotIn("permonitor", modes)

    def check_common_controls(self, root):
        ids = [e for e in elements(root, "assemblyIdentity")
               if e.get("name") == "Microsoft.Windows.Common-Controls"]
        self.assertEqual(len(ids), 1, "no dependency on Common Controls")
        self.assertEqual(ids[0].get("version"), "6.0.0.0")
        self.assertEqual(ids[0].get("publicKeyToken"), "6595b64144ccf1df")
        self.assertEqual(ids[0].get("type"), "win32")

    def test_dialer_manifest(self):
        # The shipped i686 image, and the image the Wine tests run.
        for image in {SHIP_BUILD / "bin" / "Pondo.exe", BIN / "Pondo.exe"}:
            with self.subTest(image=str(image)):
                root = self.read(image)
                self.check_level_and_systems(root)
                self.check_dpi(root, "permonitorv2")
                self.check_common_controls(root)

    def test_installer_manifest(self):
        setups = [p for p in {SHIP_BUILD / "bin" / "PondoSetup.exe", BIN / "PondoSetup.exe"}
                  if p.exists()]
        self.assertTrue(setups, "PondoSetup.exe is not built")
        for image in setups:
            with self.subTest(image=str(image)):
                root = self.read(image)
                self.check_level_and_systems(root)
                self.check_dpi(root, "permonitorv2")
                self.check_common_controls(root)


def dialog_template():
    """The main dialog's font and its controls' rectangles in dialog units, from
    the resource script: ({id: (x, y, w, h)}, (face, points, charset))."""
    ids = resource_ids(SOURCE / "dialer/resource.h")
    rc = (SOURCE / "dialer/win32/Pondo.rc").read_text()
    block = rc[rc.index("IDD_PONDO_DIALOG DIALOGEX"):]
    block = block[:block.index("\nEND")]
    face = re.search(r'FONT (\d+), "([^"]+)", \d+, \d+, (0x[0-9A-Fa-f]+|\d+)', block)
    rects = {}
    for line in block.splitlines():
        line = re.sub(r'"[^"]*"', '""', line.strip())  # no commas inside texts
        parts = [p.strip() for p in line.split(",")]
        head = parts[0].split()
        if not head or head[0] not in ("LTEXT", "EDITTEXT", "CONTROL", "GROUPBOX", "COMBOBOX",
                                       "PUSHBUTTON", "DEFPUSHBUTTON"):
            continue
        if head[0] in ("EDITTEXT", "COMBOBOX"):  # no text: id, x, y, w, h
            named, numbers = head[1], parts[1:5]
        elif head[0] == "CONTROL":  # text, id, class, style, x, y, w, h
            named, numbers = parts[1], parts[4:8]
        else:  # text, id, x, y, w, h
            named, numbers = parts[1], parts[2:6]
        if named in ids:
            rects[int(ids[named])] = tuple(int(n) for n in numbers)
    return rects, (face.group(2), int(face.group(1)), int(face.group(3), 0))


class HighDpi(unittest.TestCase):
    def measure(self, env, face, points, charset):
        out, _ = env.winctl("fit", TITLE, face, points, charset, main=True)
        lines = out.strip().splitlines()
        head = dict(line.split(" ", 1) for line in lines[:3])
        controls = {}
        for line in lines[3:]:
            cid, cls, style, window, client, text = line.split("\t")
            controls[int(cid)] = {
                "cls": cls, "style": int(style, 16),
                "window": tuple(map(int, window.split())), "client": tuple(map(int, client.split())),
                "text": tuple(map(int, text.split())),
            }
        return int(head["dpi"]), tuple(map(int, head["base"].split())), int(head["check"]), controls

    @staticmethod
    def laid_out_in(rects, controls, bx, by):
        """Whether every control's size is its template size in these dialog units."""
        for cid, (_, _, w, h) in rects.items():
            if cid not in controls:
                continue
            got_w, got_h = controls[cid]["window"]
            if abs(got_w - (w * bx + 2) // 4) > 1:
                return False
            if controls[cid]["cls"].lower() != "combobox" and abs(got_h - (h * by + 4) // 8) > 1:
                return False
        return True

    def check_fit(self, env, shot):
        rects, (face, points, charset) = dialog_template()
        # The font is rebuilt from the template: with its character set, as Windows
        # builds a dialog's font, and with the default one, as Wine does. The one
        # whose dialog units give every control its size is the dialog's font (the
        # measurement's premise); the texts are measured in that one.
        fonts = [self.measure(env, face, points, cs) for cs in dict.fromkeys((charset, 1))]
        matching = [f for f in fonts if self.laid_out_in(rects, f[3], *f[1])]
        self.assertTrue(matching, "no rebuilt font lays the dialog out as it is: "
                        + "; ".join(f"base {f[1]}" for f in fonts))
        env.screenshot(shot)
        for font in matching:
            self.check_texts(*font)

    def check_texts(self, dpi, base, check, controls):
        self.assertEqual(dpi, 144, "Wine did not take the 144 DPI setting")
        scale = dpi / 96
        by = base[1]
        # The dialog grew with the DPI: the font is not the 96 DPI one.
        self.assertGreaterEqual(by, round(12 * scale) - 1)
        misfits = []
        for cid, c in controls.items():
            cls, style = c["cls"].lower(), c["style"]
            width, height = c["client"]
            text_w, text_h = c["text"]
            kind = style & 0xF
            if cls == "static" and (style & 0x1F) in (0, 1, 2):  # wrapping text
                room = (width, height)
            elif cls == "button" and kind in (2, 3, 5, 6):  # check box, radio button
                room = (width - check - round(4 * scale), height)
            elif cls == "button" and kind == 7:  # group box: text over the frame
                room = (width - round(16 * scale), height)
            elif cls == "button":  # push button: edges and a little air
                room = (width - round(6 * scale), height - round(4 * scale))
            elif cls in ("edit", "combobox"):
                # Their text scrolls; the line must fit the height.
                room = (10 ** 6, height)
                text_h = by
                if cls == "combobox":
                    continue  # its height is the drop-down's; its edit part is sized by the font
            else:
                continue
            if text_w > room[0] or text_h > room[1]:
                misfits.append(f"{cid} {cls}: text {text_w}x{text_h} in {room[0]}x{room[1]}")
        self.assertEqual(misfits, [], "texts that do not fit their controls")

    def run_dialer(self, env, texts, shot):
        env.reg_set_for_test(DESKTOP, "LogPixels", 144, "REG_DWORD")
        app = env.app(ostrel="standin", standins=("rasapi32", "packet"), files={
            "KELSupplicant.ini": texts.read_bytes(),
            "rasapi32-standin.ini": ds.ACCESS_SERVER,
        })
        ds.register_adapters(env, app)
        proc = env.start(app, "Pondo.exe")
        self.assertTrue(env.wait_window(TITLE, timeout=60, main=True), "the dialer did not open")
        self.check_fit(env, shot)
        env.winctl("close", TITLE, main=True)
        self.assertIsNotNone(env.wait_exit(proc, timeout=30))

    def test_main_dialog_at_144_dpi_english(self):
        with WineEnv(self) as env:
            self.run_dialer(env, WIN_BUILD / "installer" / "KELSupplicant.ini", "dialer-144dpi")

    def test_main_dialog_at_144_dpi_chinese(self):
        with WineEnv(self) as env:
            env.chinese_locale()
            self.run_dialer(env, WIN_BUILD / "installer" / "zh_CN" / "KELSupplicant.ini",
                            "dialer-144dpi-chinese")


if __name__ == "__main__":
    unittest.main()
