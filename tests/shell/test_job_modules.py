"""The boundary between quorvane-capture and its job modules, through the real
binary: what the modules export, and which modules the program will run."""
import json
import os
import shutil
import subprocess
import unittest

from quorvane_test import BINARY_DIR, CAPTURE, temp_dir

MODULES = ["camera", "faces", "record-window", "transcribe", "windows"]
STAND_INS = os.path.join(BINARY_DIR, "tests", "shell")


def exported(path):
    """The names a shared object defines for the dynamic linker."""
    out = subprocess.run(["nm", "-D", "--defined-only", path], capture_output=True, text=True,
                         check=True).stdout
    return sorted(line.split()[-1] for line in out.splitlines() if line.strip())


class Exports(unittest.TestCase):
    def test_each_module_exports_its_entries_and_build_text_only(self):
        capture_dir = os.path.dirname(CAPTURE)
        for module in MODULES:
            names = exported(os.path.join(capture_dir, f"quorvane-capture-{module}.so"))
            self.assertIn("quorvane_module_build_id", names, module)
            entries = [n for n in names if n != "quorvane_module_build_id"]
            self.assertTrue(entries, module)
            for name in entries:
                self.assertRegex(name, r"^quorvane_run_[a-z_]+$", module)


class Loading(unittest.TestCase):
    def lone_program(self, modules):
        """A copy of the program in a folder of its own, beside `modules`
        ({file name: path to copy})."""
        d = temp_dir(self)
        program = os.path.join(d, "quorvane-capture")
        shutil.copy(CAPTURE, program)
        for name, source in modules.items():
            shutil.copy(source, os.path.join(d, name))
        return program

    def run_job(self, program, *args):
        r = subprocess.run([program, *args], capture_output=True, text=True, timeout=60)
        lines = [line for line in r.stdout.split("\n") if line]
        self.assertEqual(len(lines), 1, r.stdout)
        return r.returncode, json.loads(lines[0])

    def test_a_module_of_another_build_is_refused(self):
        for stand_in, why in [("other-build", r"comes from another build than .*quorvane-capture\.$"),
                              ("no-build", r"undefined symbol: quorvane_module_build_id")]:
            program = self.lone_program({
                "quorvane-capture-windows.so":
                    os.path.join(STAND_INS, f"quorvane-test-module-{stand_in}.so")})
            for word in ["windows", "screen-access"]:
                status, obj = self.run_job(program, word)
                self.assertEqual(status, 1, (stand_in, word))
                self.assertEqual(sorted(obj), ["error", "ok"])
                self.assertFalse(obj["ok"])
                self.assertTrue(obj["error"].startswith("Quorvane could not load its windows part. "),
                                obj["error"])
                self.assertRegex(obj["error"], why)

    def test_a_module_of_this_build_without_the_entry_is_refused(self):
        # The camera module under the windows module's name: the right build,
        # but no windows entry.
        capture_dir = os.path.dirname(CAPTURE)
        program = self.lone_program({
            "quorvane-capture-windows.so": os.path.join(capture_dir, "quorvane-capture-camera.so")})
        status, obj = self.run_job(program, "windows")
        self.assertEqual(status, 1)
        self.assertTrue(obj["error"].startswith("Quorvane could not load its windows part. "))
        self.assertIn("quorvane_run_windows", obj["error"])

    def test_the_modules_of_this_build_run_from_a_copy(self):
        capture_dir = os.path.dirname(CAPTURE)
        program = self.lone_program({
            "quorvane-capture-windows.so": os.path.join(capture_dir, "quorvane-capture-windows.so")})
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        r = subprocess.run([program, "windows"], capture_output=True, text=True, timeout=60, env=env)
        # Without a display the job itself answers: the screen-permission error.
        self.assertEqual(r.returncode, 1)
        self.assertTrue(json.loads(r.stdout)["error"].startswith(
            "Quorvane is not allowed to record the screen"), r.stdout)

    def test_an_unreadable_program_path_is_an_error_object(self):
        # A private mount namespace whose /proc is empty: /proc/self/exe is gone.
        probe = subprocess.run(["unshare", "--mount", "--fork", "true"], capture_output=True)
        if probe.returncode != 0:
            self.skipTest("no private mount namespace here")
        r = subprocess.run(["unshare", "--mount", "--fork", "sh", "-c",
                            'mount -t tmpfs none /proc && exec "$0" windows', CAPTURE],
                           capture_output=True, text=True, timeout=60)
        if "mount:" in r.stderr:
            self.skipTest("cannot mount in a private namespace here")
        self.assertEqual(r.returncode, 1, r.stderr)
        obj = json.loads(r.stdout)
        self.assertFalse(obj["ok"])
        self.assertTrue(obj["error"].startswith(
            "Quorvane could not load its windows part. Its own program file cannot be found: "),
            obj["error"])


class InstalledLayout(unittest.TestCase):
    """Installed, the program is in bin/ and its modules in lib/quorvane/; a
    module beside the program (the build tree) comes first."""

    def layout(self, beside=None, installed=None):
        d = temp_dir(self)
        os.makedirs(os.path.join(d, "bin"))
        os.makedirs(os.path.join(d, "lib", "quorvane"))
        program = os.path.join(d, "bin", "quorvane-capture")
        shutil.copy(CAPTURE, program)
        name = "quorvane-capture-windows.so"
        if beside:
            shutil.copy(beside, os.path.join(d, "bin", name))
        if installed:
            shutil.copy(installed, os.path.join(d, "lib", "quorvane", name))
        return program

    def test_which_module_runs(self):
        real = os.path.join(os.path.dirname(CAPTURE), "quorvane-capture-windows.so")
        foreign = os.path.join(STAND_INS, "quorvane-test-module-other-build.so")
        permission = "Quorvane is not allowed to record the screen"
        refused = "Quorvane could not load its windows part. "
        cases = [
            ("installed only", None, real, permission),
            ("beside comes first", foreign, real, refused + ".*another build"),
            ("installed of another build", None, foreign, refused + ".*another build"),
            ("neither", None, None, refused + ".*bin/quorvane-capture-windows\\.so"),
        ]
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        for label, beside, installed, expected in cases:
            with self.subTest(label):
                program = self.layout(beside, installed)
                r = subprocess.run([program, "windows"], capture_output=True, text=True,
                                   timeout=60, env=env)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertRegex(json.loads(r.stdout)["error"], "^" + expected)


if __name__ == "__main__":
    unittest.main()
