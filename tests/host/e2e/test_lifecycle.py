"""Start and end of lintelhost with the fake machine module: signals in the middle of a scan,
a machine that does not open, --stdio, and the command line."""

import os
import signal
import subprocess
import tempfile
import time
import unittest

from hostprocess import (FAKE_MODULE, LINTELHOST, TIMEOUT, HostDidNotStart, HostProcess,
                         shm_names, unique_name)


class SignalTest(unittest.TestCase):
    def run_until_signal(self, sig):
        before = shm_names()
        host = HostProcess(FAKE_MODULE)
        self.addCleanup(host.cleanup)
        mine = unique_name("lhsig")
        with host.client() as a, host.client() as b:
            for request in ["probesystem define cam", "probesystem load cam 1",
                            "imagefifo create %s 300000" % mine, "imagefifo select " + mine,
                            "scandata trigger_count imageindex", "set framerate=100"]:
                self.assertTrue(a.call(request).ok, request)
            scan = a.start("scan time+=100")
            autoinfo = b.start("autoinfo start 10 x")
            preview = b.start("preview memory start cam %s_p 10" % mine)
            next(scan.lines())
            next(autoinfo.lines())
            self.assertEqual(host.stop(sig), 0, host.stderr())
            # Every client learns how its transactions ended before the connection goes.
            self.assertEqual(scan.wait().errors, ["aborted"])
            self.assertEqual(autoinfo.wait().errors, ["aborted"])
            self.assertEqual(preview.wait().errors, ["aborted"])
        journal = host.journal()
        order = ["scan aborted", "autoinfo stopped", "preview memory cam stopped",
                 "closed: autoinfo stopped, previews 0", "deleted: autoinfo stopped, previews 0",
                 "module unloaded"]
        positions = [next(i for i, line in enumerate(journal) if line.startswith(o))
                     for o in order]
        self.assertEqual(positions, sorted(positions), journal)
        self.assertEqual(journal[-1], "module unloaded")
        self.assertEqual(shm_names() - before, set())

    def test_sigterm_during_a_scan(self):
        self.run_until_signal(signal.SIGTERM)

    def test_sigint_during_a_scan(self):
        self.run_until_signal(signal.SIGINT)


class StartTest(unittest.TestCase):
    def test_a_machine_that_does_not_open(self):
        for errlog_to_file in (False, True):
            with self.subTest(errlog_to_file=errlog_to_file), \
                    tempfile.TemporaryDirectory() as folder:
                env = {"FAKEMACHINE_OPEN": "fail"}
                if errlog_to_file:
                    env["VYX_ERRLOG_FILE"] = os.path.join(folder, "errlog.txt")
                with self.assertRaises(HostDidNotStart) as failure:
                    HostProcess(FAKE_MODULE, env=env)
                self.assertEqual(failure.exception.status, 1)
                text = failure.exception.stderr
                self.assertIn('did not open', text)
                self.assertIn('machine: 0000\terror "fake machine cannot open"', text)
                self.assertIn("FakeMachine::open_devices(): no device answers", text)
                self.assertIn("FakeMachine::Open(): open_devices() failed", text)

    def test_what_the_machine_said_while_opening_greets_every_client(self):
        host = HostProcess(FAKE_MODULE, env={"FAKEMACHINE_OPEN": "degraded"})
        self.addCleanup(host.cleanup)
        for _ in range(2):
            with host.client() as c:
                self.assertEqual(c.read_line(), '0000\terror "failed to open probe manager"')
        self.assertEqual(host.stop(), 0)

    def test_command_line_errors(self):
        with tempfile.TemporaryDirectory() as folder:
            cases = [([], 2), (["--dir", folder, "--port", "70000"], 2),
                     (["--dir", folder, "--port", "1", "--stdio"], 2),
                     (["--dir", folder, "--module", os.path.join(folder, "none.so")], 1)]
            for args, status in cases:
                with self.subTest(args=args):
                    run = subprocess.run([LINTELHOST, *args], capture_output=True,
                                         timeout=TIMEOUT)
                    self.assertEqual(run.returncode, status, run.stderr)
                    self.assertEqual(run.stdout, b"")

    def test_stdio_serves_one_client_until_its_input_ends(self):
        with tempfile.TemporaryDirectory() as folder:
            run = subprocess.run(
                [LINTELHOST, "--dir", folder, "--stdio", "--module", FAKE_MODULE],
                input=b"1 set x=1.5\n2 get x\r\nbad\n", capture_output=True, timeout=TIMEOUT)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stdout.decode().split("\r\n"),
                             ["0001\tready", "0002\tdata 1.5", "0002\tready",
                              '0000\terror "transaction: t-id missing"', ""])
            with open(os.path.join(folder, "fakemachine.log")) as f:
                self.assertEqual(f.read().splitlines()[-1], "module unloaded")


if __name__ == "__main__":
    unittest.main()
