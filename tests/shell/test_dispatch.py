"""The command shell through the real binary."""
import json
import os
import shutil
import subprocess
import unittest

from quorvane_test import CAPTURE, run_capture, temp_dir

PROFILE_KEYS = ["chip", "efficiencyCores", "lowPowerMode", "memoryGB", "performanceCores",
                "thermalState", "tier"]


class Dispatch(unittest.TestCase):
    def test_no_arguments_prints_the_hardware_profile(self):
        for args in ([], ["hardware"], ["hardware", "extra", "--x"]):
            r = run_capture(*args)
            self.assertEqual(r.returncode, 0)
            self.assertEqual(r.stderr, "")
            line = r.stdout
            self.assertTrue(line.startswith('{"command":"hardware","hardware":{"chip":'), line)
            self.assertTrue(line.endswith("}\n"))
            obj = json.loads(line)
            self.assertTrue(obj["ok"])
            profile = obj["hardware"]
            self.assertEqual([k for k in profile if k != "gpuCores"], PROFILE_KEYS)
            self.assertIsInstance(profile["memoryGB"], int)
            self.assertGreater(profile["memoryGB"], 0)
            self.assertGreater(profile["performanceCores"], 0)
            self.assertIn(profile["thermalState"], ["nominal", "fair", "serious", "critical"])

    def test_version_is_exact(self):
        r = run_capture("version", "ignored")
        self.assertEqual(r.returncode, 0)
        self.assertEqual(r.stdout, '{"command":"version","ok":true,"version":"0.0.2"}\n')

    def test_unknown_words_are_answered_with_status_zero(self):
        for word in ["HARDWARE", "Version", "record", "", "wïndows/x", "a\"b"]:
            r = run_capture(word)
            self.assertEqual(r.returncode, 0, word)
            self.assertEqual(r.stderr, "")
            self.assertEqual(r.object(), {"ok": False, "error": "unknown command " + word})
        self.assertEqual(run_capture("").stdout, '{"error":"unknown command ","ok":false}\n')
        self.assertEqual(run_capture("a/b").stdout, '{"error":"unknown command a\\/b","ok":false}\n')

    def test_a_missing_job_module_is_an_error_object(self):
        d = temp_dir(self)
        lone = os.path.join(d, "quorvane-capture")
        shutil.copy(CAPTURE, lone)
        for word, module in [("windows", "windows"), ("record-camera", "camera")]:
            r = subprocess.run([lone, word], capture_output=True, text=True, timeout=30)
            self.assertEqual(r.returncode, 1)
            obj = json.loads(r.stdout)
            self.assertFalse(obj["ok"])
            self.assertTrue(obj["error"].startswith(f"Quorvane could not load its {module} part. "))
        # The answers that need no job still work without any module.
        r = subprocess.run([lone, "version"], capture_output=True, text=True, timeout=30)
        self.assertEqual(r.stdout, '{"command":"version","ok":true,"version":"0.0.2"}\n')

    def test_a_closed_reader_ends_with_status_one(self):
        # The answer did not arrive: that is not a success.
        read_end, write_end = os.pipe()
        os.close(read_end)
        p = subprocess.Popen([CAPTURE, "version"], stdout=write_end)
        os.close(write_end)
        self.assertEqual(p.wait(10), 1)


if __name__ == "__main__":
    unittest.main()
