"""Start and end of lintelhost: signals in the middle of a scan, machines that do not open or
open without their camera, one host per directory, --stdio, and the command line."""

import os
import shutil
import signal
import subprocess
import tempfile
import unittest

from hostprocess import (AREA_CAMERA, CAMERA_MODULE, CLOSED_MODULE, LINTELHOST, PROBESYSTEM,
                         TIMEOUT, HostDidNotStart, HostProcess, load_camera, shm_names,
                         start_host, unique_name)


class SignalTest(unittest.TestCase):
    def test_a_signal_ends_what_runs_and_leaves_nothing_behind(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                before = shm_names()
                host = start_host(self)
                with host.client() as a, host.client() as b:
                    load_camera(self, a, fps=100)
                    scan = a.start("scan time+=100")
                    autoinfo = b.start("autoinfo start 10 time")
                    preview = b.start("preview memory start %s %s 10" % (PROBESYSTEM,
                                                                         unique_name("lhsig")))
                    next(scan.lines())
                    next(autoinfo.lines())
                    b.wait_for_event("preview begin")
                    self.assertEqual(host.stop(sig), 0, host.stderr())
                    # Every client learns how its transactions ended before the connection
                    # goes.
                    for transaction in (scan, autoinfo, preview):
                        reply = transaction.wait()
                        self.assertEqual((reply.errors, reply.info),
                                         (["aborted"], ["the host is shutting down"]))
                self.assertEqual(shm_names() - before, set())


class StartTest(unittest.TestCase):
    def test_a_machine_that_does_not_open(self):
        for errlog_to_file in (False, True):
            with self.subTest(errlog_to_file=errlog_to_file), \
                    tempfile.TemporaryDirectory() as folder:
                env = {"VYX_ERRLOG_FILE": os.path.join(folder, "errlog.txt")} \
                    if errlog_to_file else {}
                with self.assertRaises(HostDidNotStart) as failure:
                    HostProcess(CLOSED_MODULE, env=env)
                self.assertEqual(failure.exception.status, 1)
                text = failure.exception.stderr
                self.assertIn("did not open", text)
                self.assertIn('machine: 0000\terror "closed machine cannot open"', text)
                self.assertIn("ClosedMachine::open_devices(): no device answers", text)
                self.assertIn("ClosedMachine::Open(): open_devices() failed", text)

    def test_a_camera_that_did_not_open_greets_every_client_with_why(self):
        host = start_host(self, camera=AREA_CAMERA + "Connected=0\n")
        for _ in range(2):
            with host.client() as c:
                greeting = c.read_line()
                self.assertTrue(greeting.startswith('0000\tinfo "'), greeting)
                self.assertIn("no camera connected", greeting)
                c.call("probesystem define " + PROBESYSTEM)
                load = c.call("probesystem load %s 1" % PROBESYSTEM)
                self.assertEqual(load.errors, ["internal error"])
                self.assertIn("no camera connected", load.info[0])
        self.assertEqual(host.stop(), 0, host.stderr())

    def test_a_half_open_machine_answers_only_what_it_enables(self):
        # A folder where the probesystem database should be: the machine opens without it.
        directory = os.path.join(tempfile.mkdtemp(prefix="lintelhost-test-"), "host")
        self.addCleanup(shutil.rmtree, os.path.dirname(directory), True)
        os.makedirs(os.path.join(directory, "camera/VX1280M-SIM/SIM0000001/probesystemdb.ini"))
        host = start_host(self, directory=directory)
        with host.client() as c:
            self.assertEqual(c.read_line(), '0000\terror "failed to open probesystem database"')
            self.assertIn("Open(): failed to open probesystem database", c.read_line())
            reply = c.call("imagefifo info")
            self.assertEqual((reply.errors, reply.info),
                             (["transaction: command unknown"],
                              ["the machine does not offer imagefifo info "
                               "(MMachImagefifoInfoCommand)"]))
            self.assertEqual(c.call("version").data, ['"lintelhost 1.0" "1.00-0"'])
        self.assertEqual(host.stop(), 0)

    def test_one_host_per_directory(self):
        host = start_host(self)
        with self.assertRaises(HostDidNotStart) as second:
            HostProcess(directory=host.directory)
        self.assertEqual(second.exception.status, 1)
        self.assertIn("%s is in use by another lintelhost (process %d)"
                      % (host.directory, host.process.pid), second.exception.stderr)
        with host.client() as c:
            self.assertTrue(c.call("get time").ok)  # the first one is undisturbed
        self.assertEqual(host.stop(), 0)
        # Once it ended the directory is free again.
        start_host(self, directory=host.directory)

    def test_command_line(self):
        with tempfile.TemporaryDirectory() as folder:
            cases = [([], 2, b""), (["--dir", folder, "--port", "70000"], 2, b""),
                     (["--dir", folder, "--port", "1", "--stdio"], 2, b""),
                     (["--dir", folder, "--module", os.path.join(folder, "none.so")], 1, b""),
                     (["--version"], 0, b"lintelhost 1.0\n"), (["--help"], 0, b"default 4711")]
            for args, status, output in cases:
                with self.subTest(args=args):
                    run = subprocess.run([LINTELHOST, *args], capture_output=True,
                                         timeout=TIMEOUT)
                    self.assertEqual(run.returncode, status, run.stderr)
                    self.assertIn(output, run.stdout)
                    if not output:
                        self.assertEqual(run.stdout, b"")

    def test_stdio_serves_one_client_until_its_input_ends(self):
        with tempfile.TemporaryDirectory() as folder:
            run = subprocess.run(
                [LINTELHOST, "--dir", folder, "--stdio", "--module", CAMERA_MODULE],
                input=b"1 set scanstep=1.5\n2 get scanstep\r\nbad\n", capture_output=True,
                timeout=TIMEOUT)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stdout.decode().split("\r\n"),
                             ['0000\tevent "capabilities changed"', "0001\tready",
                              "0002\tdata 1.5", "0002\tready",
                              '0000\terror "transaction: t-id missing"', ""])


if __name__ == "__main__":
    unittest.main()
