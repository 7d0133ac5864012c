"""The protocol as a client sees it, against the camera machine: every error the host finds
itself with the reason line after it, the machine's errors with the machine's own reasons,
every keyword, and fuzzed request lines."""

import math
import threading
import unittest

from fuzzlines import fuzz_lines
from hostprocess import LEAK_CHECK_ENV, PROBESYSTEM, load_camera, start_host, unique_name
from lintelclient import ImageFifo


# Why a line's words do not split.
SPLIT = "the words do not split: an open quote, an unknown escape or a quote inside a word"


def error(tid, text, reason):
    """An error line, its info line and the ready line."""
    return ['%04d\terror "%s"' % (tid, text),
            '%04d\tinfo "%s"' % (tid, reason.replace('"', '\\"')), "%04d\tready" % tid]


class ProtocolTest(unittest.TestCase):
    def setUp(self):
        self.host = start_host(self)
        self.client = self.host.client()

    def tearDown(self):
        self.client.close()
        self.assertEqual(self.host.stop(), 0, self.host.stderr())

    def test_raw_lines_of_host_errors(self):
        # One line per reply the host gives; the unit tests take the parser through its forms.
        unnumbered = "0000\terror \"transaction: %s\""
        cases = [
            (b"get time\n", [unnumbered % "t-id missing"]),
            (b"0 get\n", [unnumbered % "t-id invalid"]),
            (b"21\n", error(21, "transaction: command missing or invalid",
                            "the line holds no keyword")),
            (b"22 frobnicate\n", error(22, "transaction: command unknown",
                                       '"frobnicate" is no keyword')),
            (b"23 probe\n", error(23, "transaction: command missing or invalid",
                                  '"probe" needs a further word')),
            (b"24 probe eject 1 1\n", error(24, "transaction: command unknown",
                                            '"probe eject" is no keyword')),
            (b'26 send "open\n', error(26, "syntax invalid", SPLIT)),
            (b"30 receive\n", error(30, "missing argument",
                                    "receive takes 1 argument(s), not 0")),
            (b"31 receive a b\n", error(31, "syntax invalid",
                                        "receive takes 1 argument(s), not 2")),
            (b"32 set scanstep\n", error(32, "syntax invalid", '"scanstep" is no AXIS=VALUE')),
            (b"33 set scanstep=1e\n", error(33, "invalid argument",
                                            '"scanstep=1e" holds no valid number')),
            (b"34 set scanstep=1 scanstep=2\n", error(34, "invalid argument",
                                                      'axis "scanstep" is given twice')),
            (b"35 probe load 1 -2\n", error(35, "invalid argument",
                                            '"-2" is no unsigned 32-bit number')),
            (b"36 probe define 1 1 q=2\n", error(36, "invalid argument",
                                                 'a probe has x, y, z and d, not "q"')),
            (b"37 imagefifo create f 12.5\n", error(37, "invalid argument",
                                                    '"12.5" is no size in bytes')),
            (b"39 abort 77\n", error(39, "t-id unused", "no transaction 77 of this client runs")),
            (b"40 abort 0\n", error(40, "invalid argument", '"0" is no transaction number')),
            # The camera machine does not enable the class of "init".
            (b"41 init\n", error(41, "transaction: command unknown",
                                 "the machine does not offer init (MMachInitCommand)")),
            # A set makes the camera machine check its time axis, which it reports.
            (b"42 set scanstep=2.5\r\n", ['0000\tevent "capabilities changed"', "0042\tready"]),
            (b"  43\tget   scanstep  \r\n", ["0043\tdata 2.5", "0043\tready"]),
            (b"44 autoinfo stop\n", ['0044\twarning "operation with no effect"', "0044\tready"]),
            (b"45 preview window start 0 0 0 10\n", error(
                45, "invalid argument", "the place is LEFT TOP WIDTH HEIGHT, whole numbers, "
                "with a positive width and height")),
            (b"46 " + b"x" * (64 * 1024) + b"\n", ['0000\terror "syntax invalid"']),
            (b"47 get " + b"y" * (64 * 1024 - 7) + b"\r\n", ["0047\tdata nan", "0047\tready"]),
        ]
        for request, expected in cases:
            with self.subTest(request=request[:40]):
                self.client.send_raw(request)
                self.assertEqual([self.client.read_line() for _ in expected], expected)
        # Nothing more came: the next answer is the marker's.
        self.client.send_raw(b"48 version\n")
        self.assertEqual(self.client.read_line(), '0048\tdata "lintelhost 1.0" "1.00-0"')
        self.assertEqual(self.client.read_line(), "0048\tready")

    def test_a_number_in_use_is_invalid_until_its_transaction_ends(self):
        autoinfo = self.client.start("autoinfo start 20 time")
        self.client.send_raw(("%d get time\n" % autoinfo.tid).encode())
        while 'error "transaction: t-id invalid"' not in self.client.unnumbered:
            self.client._pump(self.client._deadline(None))
        self.assertTrue(self.client.call("autoinfo stop").ok)
        self.assertTrue(autoinfo.wait().ok)
        self.client.send_raw(("%d get time\n" % autoinfo.tid).encode())
        self.assertTrue(self.client.read_line().startswith("%04d\tdata " % autoinfo.tid))
        self.assertEqual(self.client.read_line(), "%04d\tready" % autoinfo.tid)


class KeywordTest(unittest.TestCase):
    def test_every_keyword_and_the_machines_reasons(self):
        host = start_host(self)
        with host.client() as c:
            listed = c.call("axes")
            self.assertEqual([listed.words(i)[0] for i in range(6)],
                             ["temp_camera", "imageindex", "clock", "lock", "time",
                              "trigger_count"])
            self.assertEqual(listed.words(8), ["scanstep", "6", "0", "100", "0", "0.000001"])
            self.assertEqual([w.split()[0] for w in c.call("components").data],
                             ['"probe.config"', '"probe.hardware"', '"probe.tip"',
                              '"probesystems.config"'])
            self.assertEqual(c.call("get").data, [""])
            values = c.call("get scanstep nothing").numbers()
            self.assertTrue(math.isnan(values[1]))
            # The machine's errors, each with what it logged.
            for request, text, reason in [
                    ("set nothing=1", "invalid axis", "unknown axis: nothing"),
                    ("imagefifo create f 1000", "probesystem not loaded",
                     "is not an optical device"),
                    ("probesystem load nosuch 1", "internal error", "unknown sensor nosuch")]:
                reply = c.call(request)
                self.assertEqual((reply.errors, len(reply.info)), ([text], 1), request)
                self.assertIn(reason, reply.info[0])
            # Without time, thread and place of the log line.
            self.assertEqual(c.call("set nothing=1").info,
                             ["NewMMachSetCommand(): unknown axis: nothing"])
            name, pid = load_camera(self, c, fps=100)
            self.assertEqual(c.call("probesystem list").data,  # all: the one there is
                             ['"%s" %d 0 0 0 0 0 0' % (PROBESYSTEM, pid)])
            self.assertEqual(c.call("probesystem type").numbers()[:3], [3, 320, 240])
            self.assertEqual(c.call("imagefifo info").data[-1].split()[3:],
                             ['320', '240', '1', '1'])
            scan = c.call("scan time+=0")
            self.assertEqual(scan.errors, ["invalid argument"])
            self.assertIn("duration of measurement is smaller than accuracy: 0 < 0.01",
                          scan.info[0])
            for request in ["imagefifo reset", "set gain=2", "probe define 1 1 x=0 y=0 z=0 d=2",
                            "probe load 1 1", "probe change 1 1", "probe unload",
                            "probe delete 1 1"]:
                self.assertTrue(c.call(request).ok, request)
            self.assertEqual(c.call("get gain").numbers(), [2])
            self.assertIn("[Camera]", c.call("receive probe.hardware").words()[0])
            scan = c.call("scan time+=0.5")
            self.assertEqual((scan.errors, len(scan.data)), ([], 50))
            self.assertIn("measurement begin", c.events())
            point = c.call("scanpoint time+=1")
            self.assertEqual(len(point.data), 1)
            with ImageFifo(name) as fifo:
                for line in scan.data + point.data:
                    self.assertTrue(fifo.release(int(float(line.split()[2]))))
            # Previews are the sessions' (test_sessions).
            long_scan = c.start("scan time+=1000")
            abort = c.call("abort %d" % long_scan.tid)
            self.assertTrue(long_scan.done)  # its ready line came before the abort's
            self.assertEqual(long_scan.reply.errors, ["aborted"])
            self.assertEqual(long_scan.reply.info, ["aborted by request %d" % abort.tid])
            self.assertTrue(c.call("imagefifo delete " + name).ok)
            self.assertTrue(c.call("probesystem unload").ok)
            # A preview that cannot get an image fails at once.
            for request in ["preview memory start %s %s 0" % (PROBESYSTEM, unique_name("lhnone")),
                            "preview window start 0 0 100 100"]:
                reply = c.call(request)
                self.assertEqual((reply.errors, reply.info),
                                 (["probesystem not loaded"],
                                  ["no probesystem with a camera is loaded: no image can come"]))
            self.assertTrue(c.call("probesystem delete %s %d" % (PROBESYSTEM, pid)).ok)
        self.assertEqual(host.stop(), 0, host.stderr())


class FuzzTest(unittest.TestCase):
    def test_fuzzed_request_lines(self):
        host = start_host(self, env=LEAK_CHECK_ENV)
        with host.client() as client:
            received = []

            def read():
                while not (len(received) >= 2 and received[-1] == "9998\tready" and
                           received[-2].startswith('9998\tdata "lintelhost')):
                    line = client.read_line()
                    if line is None:
                        return
                    received.append(line)

            reader = threading.Thread(target=read)
            reader.start()
            for line in fuzz_lines(10000):
                client.send_raw(line + b"\n")
            client.send_raw(b"9998 version\n")
            reader.join()
            self.assertTrue(all(len(line) >= 5 and line[:4].isdigit() and line[4] == "\t"
                                for line in received))
        with host.client() as c:
            self.assertTrue(math.isfinite(c.call("get time").numbers()[0]))
        status = host.stop()
        # LeakSanitizer needs process control that some sandboxes refuse; it then says so and
        # exits non-zero without having checked anything.
        if status != 0 and "LeakSanitizer has encountered a fatal error" in host.stderr():
            return  # everything but the leak check passed
        self.assertEqual(status, 0, host.stderr())


if __name__ == "__main__":
    unittest.main()
