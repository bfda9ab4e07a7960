# Before the dialer starts: an Ethernet adapter it can list (named after one of
# this machine's own interfaces), the access server it will dial, and the user
# settings file with the keys the dialer writes.
import dialer_setup

dialer_setup.register_adapters(env, app)  # noqa: F821 (given by scripts/run.py)
(app / "rasapi32-standin.ini").write_text(dialer_setup.access_server(delay=400))  # noqa: F821
(app / "kelsupplicant.conf").write_text("username=\nsavepw=off\npassword=\n")  # noqa: F821
print(f"access server: accepts user name '{dialer_setup.USER}' "
      f"with password '{dialer_setup.PASSWORD}'")
