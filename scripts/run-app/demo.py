# Once the window is open: sign in as the access server's user, follow the dial
# until the window hides behind the tray icon, then bring it back as a click on
# the icon does, connected.
import time

import dialer_setup
from harness import BIN, TITLE

env.winctl("settext", TITLE, 1016, dialer_setup.USER, main=True)  # noqa: F821
env.winctl("settext", TITLE, 1017, dialer_setup.PASSWORD, main=True)  # noqa: F821
env.winctl("check", TITLE, 1028, 1, main=True)  # noqa: F821
env.click(TITLE, 1003, main=True)  # noqa: F821
print("Connect pressed: dialing the stand-in access server ...")
if env.wait_hidden(TITLE, timeout=30):  # noqa: F821
    time.sleep(1)
    env.run(app, BIN / "drivers" / "trayclick.exe", [TITLE])  # noqa: F821
    env.wait_window(TITLE, timeout=10, main=True)  # noqa: F821
    status = env.control(TITLE, 1010)["text"]  # noqa: F821
    print(f"connected; the tray icon brought the window back, status line: {status!r}")
else:
    print("the dial did not connect; status line:",
          env.control(TITLE, 1010)["text"])  # noqa: F821
