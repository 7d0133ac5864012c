import contextlib
import io
import types
import unittest
from unittest import mock

from lintelclient import cli
from tests.test_protocol import ScriptedHost


class CliTest(unittest.TestCase):
    def test_record_runs_its_own_module_and_says_when_it_is_missing(self):
        missing = ModuleNotFoundError("no", name="lintelclient.recording")
        with mock.patch.object(cli.importlib, "import_module", side_effect=missing):
            with self.assertRaisesRegex(SystemExit, "record command is not installed here "
                                        r"\(lintelclient/recording.py is missing\)"):
                cli.main(["record", "--seconds", "1"])
        recorder = types.SimpleNamespace(main=mock.Mock(return_value=3))
        with mock.patch.object(cli.importlib, "import_module", return_value=recorder):
            self.assertEqual(cli.main(["record", "--seconds", "1", "DIR"]), 3)
        recorder.main.assert_called_once_with(["--seconds", "1", "DIR"])

    def test_set_says_which_axes_the_machine_ignored(self):
        host = ScriptedHost(['0001\tdata "gain" 16 1 1 1 1\r\n0001\tdata "imageheight" 6 8 1024 1'
                             ' 2\r\n0001\tready\r\n', "0002\tdata 0 1024\r\n0002\tready\r\n",
                             "0003\tready\r\n", "0004\tdata 0 100\r\n0004\tready\r\n"])
        self.addCleanup(host.close)
        out, err = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            status = cli.main(["set", "gain=3", "imageheight=100", "--port", str(host.port)])
        self.assertEqual((status, host.received[2:]), (1, ["3 set gain=3.0 imageheight=100.0",
                                                           "4 get gain imageheight"]))
        self.assertEqual(out.getvalue(), "gain 0\nimageheight 100\n")
        self.assertIn("gain not changed: it is not available (flags 16)", err.getvalue())
