# Before the dialer starts: an Ethernet adapter it can list (named after one of
# this machine's own interfaces), the access server it will dial, and the user
# settings file with the keys the dialer writes. The access server takes any user
# name and password, so a person can dial with whatever they type.
import dialer_setup

dialer_setup.register_adapters(env, app)  # noqa: F821 (given by scripts/run.py)
(app / "rasapi32-standin.ini").write_text(  # noqa: F821
    dialer_setup.access_server(delay=400, accept=None))
(app / "kelsupplicant.conf").write_text("username=\nsavepw=off\npassword=\n")  # noqa: F821
print("access server: accepts any user name and password")
