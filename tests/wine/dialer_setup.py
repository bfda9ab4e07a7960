"""What the dialer's Wine tests (and scripts/run) set up around Pondo.exe: a test
adapter named after one of the machine's real Ethernet interfaces (so the IP helper
table marks it as Ethernet with its address), in the registry's network adapter
class key and in the packet.dll stand-in's list, and the access server's script."""

from harness import ID, TITLE

CLASS_KEY = r"HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E972-E325-11CE-BFC1-08002BE10318}"
ADAPTER_DESC = "Realtek PCIe GbE Family Controller"
PPPOE_DEVICE = "WAN Miniport (PPPOE)"
USER = "alice"
PASSWORD = "secret"
SUFFIX = "wop736905"



def access_server(delay=150, accept=(USER, PASSWORD + SUFFIX), extra=""):
    """The rasapi32 stand-in's script: a modem and the PPPoE device, the accepted
    credentials (None: any), the time between dial states, and any further
    directives."""
    return (f"# the access server the dialer dials\n"
            f"device modem Standard 56000 bps Modem\n"
            f"device pppoe {PPPOE_DEVICE}\n"
            + (f"accept {accept[0]} {accept[1]}\n" if accept else "")
            + f"delay {delay}\n{extra}")


ACCESS_SERVER = access_server()


def ethernet_adapter(env, cwd):
    """(adapter name, mac text) of the first Ethernet adapter with an address."""
    rc, out, _ = env.run(cwd, env.bin / "drivers" / "adapters.exe")
    assert rc == 0, "the IP helper table could not be read"
    for line in out.splitlines():
        parts = line.split(" ", 3)
        if len(parts) >= 3 and parts[1] == "6" and parts[2] != "00:00:00:00:00:00":
            return parts[0], parts[2]
    raise AssertionError("no Ethernet adapter in the IP helper table:\n" + out)


def register_adapters(env, cwd, standin_folder=None):
    """Registers the test adapter (and a remote-access miniport that must stay
    unlisted) and names both in the list of the packet stand-in in standin_folder
    (default: cwd); answers the adapter's (name, mac)."""
    name, mac = ethernet_adapter(env, cwd)
    env.reg_add(CLASS_KEY + r"\0100", "DriverDesc", ADAPTER_DESC)
    env.reg_add(CLASS_KEY + r"\0100\Linkage", "Export", "\\Device\\" + name, "REG_MULTI_SZ")
    miniport = "{5E2A0F1B-0000-4000-8000-000000000001}"
    env.reg_add(CLASS_KEY + r"\0101", "DriverDesc", "WAN Miniport (IP)")
    env.reg_add(CLASS_KEY + r"\0101\Linkage", "Export", "\\Device\\" + miniport, "REG_MULTI_SZ")
    env.reg_add(CLASS_KEY + r"\0101\Ndi", "Service", "NdisWan")
    env.write_files(standin_folder or cwd,
                    {"packet-standin.ini": f"adapter {name}\nadapter {miniport}\n"})
    return name, mac


def reg_import(env, cwd, entries):
    """Writes {key: {value name: text}} through a UTF-16 .reg file, so that texts
    outside ASCII arrive exactly (reg add takes its arguments in the code page)."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in entries.items():
        lines.append("[" + key.replace("HKLM", "HKEY_LOCAL_MACHINE", 1) + "]")
        for name, text in values.items():
            escaped = text.replace("\\", "\\\\").replace('"', '\\"')
            lines.append(f'"{name}"="{escaped}"')
        lines.append("")
    path = cwd / "test-adapters.reg"
    path.write_bytes(("\r\n".join(lines) + "\r\n").encode("utf-16"))
    rc, _, err = env.run(cwd, "regedit", ["/S", str(path.name)])
    assert rc == 0, err


def start_and_connect(test, env, app):
    """Starts Pondo.exe in app, types the test credentials and connects; returns
    the process once the window has hidden to the tray (the link is up)."""
    proc = env.start(app, "Pondo.exe")
    test.assertTrue(env.wait_window(TITLE, timeout=60, main=True), "the dialer did not open")
    env.winctl("settext", TITLE, ID.IDC_USERNAME, USER, main=True)
    env.winctl("settext", TITLE, ID.IDC_PASSWORD, PASSWORD, main=True)
    env.click(TITLE, ID.IDC_CONNECT, main=True)
    test.assertTrue(env.wait_hidden(TITLE, timeout=30), "the connection did not come up")
    return proc
