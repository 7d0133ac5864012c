"""Every keyword and every error the host finds itself, against the fake machine module."""

import math
import time
import unittest

from hostprocess import FAKE_MODULE, HostProcess, unique_name
from lintelclient import ImageFifo, quote


class KeywordTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = HostProcess(FAKE_MODULE)
        cls.client = cls.host.client()

    @classmethod
    def tearDownClass(cls):
        cls.client.close()
        status = cls.host.stop()
        cls.host.cleanup()
        assert status == 0, "lintelhost exited with %d" % status

    def call(self, command):
        reply = self.client.call(command)
        self.assertTrue(reply.done)
        return reply

    def test_raw_lines_of_host_errors(self):
        # (request line, the lines the host answers)
        cases = [
            (b"get time\n", ['0000\terror "transaction: t-id missing"']),
            (b"\n", ['0000\terror "transaction: t-id missing"']),
            (b"0 get\n", ['0000\terror "transaction: t-id invalid"']),
            (b"10000 get\n", ['0000\terror "transaction: t-id invalid"']),
            (b"12ab get\n", ['0000\terror "transaction: t-id invalid"']),
            (b"-3 get\n", ['0000\terror "transaction: t-id invalid"']),
            (b"21\n", ['0021\terror "transaction: command missing or invalid"', "0021\tready"]),
            (b"22 frobnicate\n", ['0022\terror "transaction: command unknown"', "0022\tready"]),
            (b"23 probe\n", ['0023\terror "transaction: command missing or invalid"',
                             "0023\tready"]),
            (b"24 probe eject 1 1\n", ['0024\terror "transaction: command unknown"',
                                       "0024\tready"]),
            (b"25 preview memory\n", ['0025\terror "transaction: command missing or invalid"',
                                      "0025\tready"]),
            (b'26 send "open\n', ['0026\terror "syntax invalid"', "0026\tready"]),
            (b'27 send "a\\q" x\n', ['0027\terror "syntax invalid"', "0027\tready"]),
            (b'28 send a"b x\n', ['0028\terror "syntax invalid"', "0028\tready"]),
            (b"29 get \x01x\n", ['0029\terror "syntax invalid"', "0029\tready"]),
            (b"30 receive\n", ['0030\terror "missing argument"', "0030\tready"]),
            (b"31 receive a b\n", ['0031\terror "syntax invalid"', "0031\tready"]),
            (b"32 set x\n", ['0032\terror "syntax invalid"', "0032\tready"]),
            (b"33 set x=1e\n", ['0033\terror "invalid argument"', "0033\tready"]),
            (b"34 set x=1 x=2\n", ['0034\terror "invalid argument"', "0034\tready"]),
            (b"35 probe load 1 -2\n", ['0035\terror "invalid argument"', "0035\tready"]),
            (b"36 probe define 1 1 q=2\n", ['0036\terror "invalid argument"', "0036\tready"]),
            (b"37 imagefifo create f 12.5\n", ['0037\terror "invalid argument"',
                                               "0037\tready"]),
            (b"38 scan time=nan\n", ['0038\terror "invalid argument"', "0038\tready"]),
            (b"39 abort 77\n", ['0039\terror "t-id unused"', "0039\tready"]),
            (b"40 abort 0\n", ['0040\terror "invalid argument"', "0040\tready"]),
            (b"41 set x=2.5\r\n", ["0041\tready"]),
            (b"  42\tget   x  \r\n", ["0042\tdata 2.5", "0042\tready"]),
            (b"43 autoinfo stop\n", ['0043\twarning "operation with no effect"', "0043\tready"]),
            (b"44 preview window start 0 0 0 10\n", ['0044\terror "invalid argument"',
                                                     "0044\tready"]),
            (b"45 " + b"x" * (64 * 1024) + b"\n", ['0000\terror "syntax invalid"']),
            (b"46 get " + b"y" * (64 * 1024 - 7) + b"\r\n", ["0046\tdata nan", "0046\tready"]),
        ]
        for request, expected in cases:
            with self.subTest(request=request[:40]):
                self.client.send_raw(request)
                self.assertEqual([self.client.read_line() for _ in expected], expected)
        # Nothing more came: the next answer is the marker's.
        self.client.send_raw(b"47 version\n")
        self.assertEqual(self.client.read_line(), '0047\tdata "lintelhost 1.0" "9.99-0"')
        self.assertEqual(self.client.read_line(), "0047\tready")

    def test_a_number_in_use_is_invalid_until_its_transaction_ends(self):
        autoinfo = self.client.start("autoinfo start 20 x")
        self.client.send_raw(("%d get x\n" % autoinfo.tid).encode())
        while 'error "transaction: t-id invalid"' not in self.client.unnumbered:
            self.client._pump(self.client._deadline(None))
        self.assertTrue(self.call("autoinfo stop").ok)
        self.assertTrue(autoinfo.wait().ok)
        self.client.send_raw(("%d get x\n" % autoinfo.tid).encode())
        self.assertTrue(self.client.read_line().startswith("%04d\tdata " % autoinfo.tid))
        self.assertEqual(self.client.read_line(), "%04d\tready" % autoinfo.tid)

    def test_axes_components_values(self):
        axes = [self.call("axes").words(i) for i in range(8)]
        self.assertEqual([a[0] for a in axes],
                         ["time", "x", "y", "trigger_count", "imageindex", "lock", "framerate",
                          "preview_updates"])
        self.assertEqual(axes[1], ["x", "6", "0", "100", "0.001", "1"])
        self.assertEqual(self.call("components").data,
                         ['"fake.config" "1.00-0" 3', '"fake.resync" "1.00-0" 1'])
        self.assertTrue(self.call("set y=-7.25").ok)
        values = self.call("get y nothing y").numbers()
        self.assertEqual(values[0], -7.25)
        self.assertTrue(math.isnan(values[1]))
        self.assertEqual(self.call("get").data, [""])
        self.assertEqual(self.call("set nothing=1").errors, ["invalid axis"])
        self.assertTrue(self.call("init").ok)
        self.assertEqual(self.call("init x nothing").errors, ["invalid axis"])

    def test_send_receive_keeps_any_text(self):
        text = 'line one\nsecond "quoted"\r\n\ttab \\ backslash'
        self.assertTrue(self.call("send fake.config " + quote(text)).ok)
        self.assertEqual(self.call("receive fake.config").words(), [text])
        self.assertEqual(self.call("receive other").data, ['""'])

    def test_probes_and_probesystems(self):
        self.assertEqual(self.call("probe load 3 1").errors, ["undefined probe"])
        self.assertTrue(self.call("probe define 3 1 x=1 d=2.5").ok)
        self.assertEqual(self.call("probe define 0 1").errors, ["invalid probe number"])
        self.assertTrue(self.call("probe load 3 1").ok)
        self.assertIn("probesystem changed", self.client.events())
        self.assertTrue(self.call("probe change 3 1").ok)
        self.assertTrue(self.call("probe unload").ok)
        self.assertTrue(self.call("probe delete 3 1").ok)
        self.assertEqual(self.call("probe delete 3 1").errors, ["internal error"])
        for _ in range(2):
            self.assertTrue(self.call('probesystem define "two words"').ok)
        listed = self.call("probesystem list")
        self.assertIn('"two words" 2 1.5 0 0 0 0 -0.25', listed.data)
        self.assertEqual(self.call('probesystem list "two words" 2').data,
                         ['"two words" 2 1.5 0 0 0 0 -0.25'])
        self.assertTrue(self.call('probesystem delete "two words" 1').ok)
        self.assertEqual(self.call('probesystem load "two words" 9').errors,
                         ["undefined probesystem id"])
        self.assertEqual(self.call("probesystem load nosuch 1").errors,
                         ["undefined probesystem"])

    def test_image_fifos_and_probesystem_type(self):
        name = unique_name("lhkw")
        self.call("probesystem unload")
        self.assertEqual(self.call("probesystem type").numbers(), [0, 0, 0, 0, 0])
        self.assertEqual(self.call("imagefifo create %s 100000" % name).errors,
                         ["probesystem not loaded"])
        self.call("probesystem define cam")
        self.assertTrue(self.call("probesystem load cam 1").ok)
        self.assertEqual(self.call("probesystem type").numbers(), [3, 64, 32, 0.5, 0.25])
        self.assertEqual(self.call("imagefifo reset").errors, ["no imagefifo active"])
        self.assertTrue(self.call("imagefifo create %s 100000" % name).ok)
        self.assertEqual(self.call("imagefifo info").data, ['"%s" 48 2048 64 32 1 0' % name])
        self.assertTrue(self.call("imagefifo select " + name).ok)
        self.assertEqual(self.call("imagefifo info").data, ['"%s" 48 2048 64 32 1 1' % name])
        with ImageFifo(name) as fifo:
            self.assertEqual((fifo.variant, fifo.num_entries), (32, 48))
        self.assertTrue(self.call("imagefifo reset").ok)
        self.assertTrue(self.call("imagefifo delete " + name).ok)
        self.assertEqual(self.call("imagefifo delete " + name).errors, ["invalid argument"])
        self.assertEqual(self.call("imagefifo info").data, [])

    def test_scan_scanpoint_and_abort(self):
        self.assertEqual(self.call("scandata time nothing").errors, ["invalid axis"])
        self.assertTrue(self.call("scandata trigger_count time").ok)
        self.assertTrue(self.call("set framerate=1000").ok)
        scan = self.call("scan time+=0.05")
        self.assertEqual(scan.errors, [])
        self.assertEqual([float(line.split()[0]) for line in scan.data], list(range(1, 51)))
        self.assertIn("measurement begin", self.client.events())
        self.assertEqual(len(self.call("scanpoint time+=1").data), 1)
        self.assertEqual(self.call("scan x+=1").errors, ["invalid axis"])
        self.assertEqual(self.call("scan time+=0").errors, ["invalid argument"])
        self.assertTrue(self.call("set framerate=10").ok)
        long_scan = self.client.start("scan time+=1000")
        self.assertEqual(self.call("scan time+=1").errors, ["command already active"])
        abort = self.call("abort %d" % long_scan.tid)
        self.assertTrue(long_scan.done)  # its ready line came before the abort's
        self.assertEqual(long_scan.reply.errors, ["aborted"])
        self.assertTrue(abort.ok)

    def test_preview_window_is_redrawn_while_it_runs(self):
        self.assertEqual(self.call("preview window start 0 0 20000 10").errors,
                         ["failed to open preview window"])
        window = self.client.start("preview window start 10 20 320 240")
        before = self.call("get preview_updates").numbers()[0]
        deadline = time.monotonic() + 30
        while self.call("get preview_updates").numbers()[0] < before + 3:
            self.assertLess(time.monotonic(), deadline, "the host does not redraw the preview")
        self.assertFalse(window.done)
        self.assertTrue(self.call("preview window stop").ok)
        self.assertTrue(window.wait().ok)
        self.assertEqual(self.call("preview window stop").warnings, ["operation with no effect"])


if __name__ == "__main__":
    unittest.main()
