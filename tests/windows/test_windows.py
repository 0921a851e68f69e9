"""The windows and screen-access jobs through the real binary, on private
Xvfb displays with real X clients, without and with a window manager."""
import os
import subprocess
import unittest

from quorvane_test import Xvfb, clean_env, run_capture

PERMISSION = ("Quorvane is not allowed to record the screen yet. Switch it on in System "
              "Settings, Privacy & Security, Screen & System Audio Recording, then reopen "
              "Quorvane.")
KEYS = ["app", "height", "id", "title", "width"]
TITLE = "Grüße — 日本語 Ωμέγα"


def listing(x):
    r = run_capture("windows", env=x.env)
    assert r.returncode == 0, (r.returncode, r.stdout, r.stderr)
    obj = r.object()
    assert list(obj) == ["ok", "windows"] and obj["ok"] is True, obj
    return obj["windows"]


def spawn_utf8(x, *cmd):
    """An X client in a UTF-8 locale, so that it sets non-ASCII titles."""
    p = subprocess.Popen(list(cmd), env=dict(x.env, LANG="C.UTF-8"),
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    x.procs.append(p)
    return p


def start_clients(x):
    """The same clients on either display; returns their window ids by title."""
    x.spawn("xlogo", "-title", "tiny")                              # 100×100
    x.spawn("xlogo", "-title", "narrow", "-geometry", "239x160")
    x.spawn("xlogo", "-title", "limits", "-geometry", "240x160")
    x.spawn("xeyes", "-title", "eyes", "-geometry", "300x200")
    x.spawn("xlogo", "-title", "dock", "-geometry", "500x400")
    x.spawn("xlogo", "-geometry", "600x500", "-xrm", "*overrideRedirect: true")
    spawn_utf8(x, "xterm", "-T", TITLE, "-geometry", "60x20")
    ids = {name: x.wait_for_window(name, timeout=30)
           for name in ["tiny", "narrow", "limits", "eyes", "dock", TITLE]}
    x.wait_for(lambda: "600x500+" in x.run("xwininfo", "-root", "-children"), timeout=30)
    # A dock: ordinary size, but not at the ordinary layer.
    x.run("xprop", "-id", str(ids["dock"]), "-f", "_NET_WM_WINDOW_TYPE", "32a",
          "-set", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DOCK", check=True)
    return ids


class Common:
    """Checks that hold with and without a window manager."""

    def wait_for_listing(self, condition):
        found = []

        def look():
            found[:] = listing(self.x)
            return condition(found)

        self.x.wait_for(look, timeout=30)
        return found

    def test_lists_recordable_windows_with_exact_descriptions(self):
        ids = self.ids
        windows = self.wait_for_listing(
            lambda ws: {w["id"] for w in ws} >= {ids["limits"], ids["eyes"], ids[TITLE]})
        for w in windows:
            self.assertEqual(sorted(w), KEYS)
        by_id = {w["id"]: w for w in windows}
        self.assertEqual(by_id[ids["limits"]],
                         {"id": ids["limits"], "app": "XLogo", "title": "limits",
                          "width": 240, "height": 160})
        self.assertEqual(by_id[ids["eyes"]],
                         {"id": ids["eyes"], "app": "XEyes", "title": "eyes",
                          "width": 300, "height": 200})
        term = by_id[ids[TITLE]]
        self.assertEqual((term["app"], term["title"]), ("XTerm", TITLE))
        self.assertGreater(term["width"], 240)
        # Too small, a dock, an override-redirect window: none is listed.
        self.assertEqual(sorted(by_id), sorted([ids["limits"], ids["eyes"], ids[TITLE]]))
        self.assertNotIn((600, 500), [(w["width"], w["height"]) for w in windows])

    def test_front_most_window_comes_first(self):
        ids = self.ids
        for name in ["eyes", "limits", TITLE, "eyes"]:
            self.raise_window(ids[name])
            self.wait_for_listing(lambda ws: ws and ws[0]["id"] == ids[name])
        windows = listing(self.x)
        self.assertEqual([w["id"] for w in windows[:2]], [ids["eyes"], ids[TITLE]])

    def test_screen_access_is_granted_on_the_display(self):
        for args in ([], ["ask"], ["now", "ask"]):
            r = run_capture("screen-access", *args, env=self.x.env)
            self.assertEqual((r.returncode, r.stdout), (0, '{"granted":true,"ok":true}\n'), args)


class WithoutWindowManager(Common, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = Xvfb().__enter__()
        try:
            cls.ids = start_clients(cls.x)
        except BaseException:
            cls.x.__exit__(None, None, None)
            raise

    @classmethod
    def tearDownClass(cls):
        cls.x.__exit__(None, None, None)

    def raise_window(self, window):
        self.x.run("xdotool", "windowraise", str(window), check=True)

    def test_application_falls_back_to_the_process_name(self):
        x = self.x
        x.spawn("xlogo", "-title", "classless", "-geometry", "400x300")
        window = x.wait_for_window("classless", timeout=30)
        x.run("xprop", "-id", str(window), "-remove", "WM_CLASS", check=True)
        windows = self.wait_for_listing(lambda ws: any(w["id"] == window for w in ws))
        self.assertEqual([w["app"] for w in windows if w["id"] == window], ["xlogo"])
        x.run("xdotool", "windowunmap", "--sync", str(window), check=True)
        self.wait_for_listing(lambda ws: all(w["id"] != window for w in ws))


    def test_window_types_and_states_decide_the_layer(self):
        x = self.x
        x.spawn("xlogo", "-title", "typed", "-geometry", "400x300")
        window = str(x.wait_for_window("typed", timeout=30))
        self.addCleanup(x.run, "xdotool", "windowunmap", window)
        prefix = "_NET_WM_WINDOW_TYPE_"
        cases = [("_NET_WM_WINDOW_TYPE", prefix + name, name in ("NORMAL", "DIALOG"))
                 for name in ["NORMAL", "DIALOG", "DOCK", "DESKTOP", "TOOLBAR", "MENU",
                              "UTILITY", "SPLASH", "POPUP_MENU", "NOTIFICATION", "TOOLTIP"]]
        cases += [("_NET_WM_WINDOW_TYPE", prefix + "NORMAL", True),
                  ("_NET_WM_STATE", "_NET_WM_STATE_ABOVE", False),
                  ("_NET_WM_STATE", "_NET_WM_STATE_MAXIMIZED_VERT", True),
                  ("_NET_WM_STATE", "_NET_WM_STATE_HIDDEN", False)]
        for prop, value, listed in cases:
            x.run("xprop", "-id", window, "-f", prop, "32a", "-set", prop, value, check=True)
            try:
                self.wait_for_listing(lambda ws: (int(window) in [w["id"] for w in ws]) == listed)
            except AssertionError:
                self.fail(f"{value}: expected listed={listed}")
            x.run("xprop", "-id", window, "-remove", prop, check=True)

    def test_windows_that_come_and_go_while_listing_are_tolerated(self):
        x = self.x
        churn = subprocess.Popen(
            ["sh", "-c", "while :; do xlogo -geometry 300x200 & p=$!; sleep 0.05; kill $p; done"],
            env=x.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        self.addCleanup(lambda: (os.killpg(churn.pid, 15), churn.wait()))
        for _ in range(30):
            ids = [w["id"] for w in listing(x)]
            self.assertIn(self.ids["limits"], ids)


class WithOpenbox(Common, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = Xvfb(window_manager=True).__enter__()
        try:
            cls.ids = start_clients(cls.x)
        except BaseException:
            cls.x.__exit__(None, None, None)
            raise

    @classmethod
    def tearDownClass(cls):
        cls.x.__exit__(None, None, None)

    def raise_window(self, window):
        # xeyes takes no focus, so waiting for it to become active would hang;
        # the callers wait for the listing instead.
        self.x.run("xdotool", "windowactivate", str(window), check=True)

    def test_iconified_window_is_not_listed(self):
        x = self.x
        x.spawn("xlogo", "-title", "iconic", "-geometry", "400x300")
        window = x.wait_for_window("iconic", timeout=30)
        self.wait_for_listing(lambda ws: any(w["id"] == window for w in ws))
        x.run("xdotool", "windowminimize", "--sync", str(window), check=True)
        x.wait_for(lambda: "Iconic" in x.run("xprop", "-id", str(window), "WM_STATE"), timeout=30)
        windows = listing(x)
        self.assertNotIn(window, [w["id"] for w in windows])
        self.assertIn(self.ids["limits"], [w["id"] for w in windows])


class WithoutDisplay(unittest.TestCase):
    ENVIRONMENTS = [clean_env(), clean_env(WAYLAND_DISPLAY="wayland-0"), clean_env(DISPLAY="")]

    def test_windows_reports_the_screen_permission_message(self):
        for env in self.ENVIRONMENTS:
            r = run_capture("windows", env=env)
            self.assertEqual(r.returncode, 1)
            self.assertEqual(r.object(), {"ok": False, "error": PERMISSION})
            self.assertEqual(r.stderr, "")

    def test_screen_access_is_not_granted_and_asking_changes_nothing(self):
        for env in self.ENVIRONMENTS:
            for args in ([], ["ask"], ["now", "ask"]):
                r = run_capture("screen-access", *args, env=env)
                self.assertEqual((r.returncode, r.stdout),
                                 (0, '{"granted":false,"ok":true}\n'), args)


if __name__ == "__main__":
    unittest.main()
