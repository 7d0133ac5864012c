import socket
import threading
import unittest

from lintelclient.protocol import LintelClient, LintelError, quote, split_words


class TextTest(unittest.TestCase):
    def test_quote_and_split_round_trip(self):
        for text in ["", "plain", "two words", 'a "quoted" word', "back\\slash",
                     "[Camera]\nzoom=2\r\n\tx"]:
            with self.subTest(text=text):
                self.assertEqual(split_words("data " + quote(text) + " 7"), ["data", text, "7"])

    def test_split_refuses_an_open_quote(self):
        with self.assertRaises(ValueError):
            split_words('"never closed')


class ScriptedHost:
    """A one-connection server that answers each request line with scripted bytes."""

    def __init__(self, answers):
        self.answers = answers
        self.server = socket.create_server(("127.0.0.1", 0))
        self.port = self.server.getsockname()[1]
        self.received = []
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        conn, _ = self.server.accept()
        with conn:
            buffer = b""
            while len(self.received) < len(self.answers):
                chunk = conn.recv(4096)
                if not chunk:
                    return
                buffer += chunk
                while b"\n" in buffer:
                    line, buffer = buffer.split(b"\n", 1)
                    self.received.append(line.decode())
                    conn.sendall(self.answers[len(self.received) - 1].encode())

    def close(self):
        self.thread.join(5)
        self.server.close()


class ClientTest(unittest.TestCase):
    def connect(self, answers):
        host = ScriptedHost(answers)
        self.addCleanup(host.close)
        client = LintelClient(port=host.port, timeout=5)
        self.addCleanup(client.close)
        return host, client

    def test_interleaved_lines_reach_their_transactions(self):
        host, client = self.connect([
            "",  # the scan's lines come later, mixed with the get's
            "0001\tdata 1 2\r\n0000\tevent \"measurement begin\"\r\n0002\tdata 5\r\n"
            "0002\tready\r\n0001\tdata 3 4\r\n0001\terror \"aborted\"\r\n0001\tready\r\n",
        ])
        scan = client.start("scan time+=1")
        get = client.call("get x")
        self.assertEqual((get.data, get.ok), (["5"], True))
        self.assertEqual(list(scan.lines()), ["data 1 2", "data 3 4", 'error "aborted"'])
        self.assertEqual((scan.reply.errors, scan.reply.ok), (["aborted"], False))
        self.assertEqual(client.events(), ["measurement begin"])
        self.assertEqual(host.received, ["1 scan time+=1", "2 get x"])

    def test_errors_raise_with_the_reason_of_the_info_line_after_them(self):
        _, client = self.connect([
            '0001\tdata "cam" 3 nan -2.5\r\n0001\twarning "x"\r\n0001\tready\r\n',
            '0002\terror "invalid argument"\r\n0002\tinfo "0 < 0.02"\r\n0002\terror "late"\r\n'
            '0002\tready\r\n'])
        reply = client.call("probesystem list", check=True)
        self.assertEqual((reply.words(), reply.warnings), (["cam", "3", "nan", "-2.5"], ["x"]))
        with self.assertRaises(LintelError) as raised:
            client.call("scan time+=0", check=True)
        self.assertEqual((raised.exception.errors, raised.exception.reason),
                         (["invalid argument", "late"], "0 < 0.02"))
        self.assertEqual(str(raised.exception), "scan time+=0: invalid argument; late (0 < 0.02)")

    def test_a_stream_gets_its_data_lines_in_blocks_whatever_the_chunks(self):
        # The second request makes the host finish a line that the first answer began, so the
        # client sees the line in two receives.
        _, client = self.connect([
            "0001\tdata 1 2\r\n0001\tdata 3 4\r\n0001\tdata 5 ",
            "6\r\n0000\tevent \"e\"\r\n0001\tdata 7 8\r\n0002\tready\r\n0001\tdata 9 10\r\n"
            "0001\tinfo \"i\"\r\n0001\tready\r\n"])
        scan = client.start("scan", stream=True)
        client._pump(client._deadline(None))
        other = client.start("get x")
        rows = [line.split() for block in scan.data_blocks() for line in block.split("\r\n")]
        self.assertEqual(rows, [[str(n), str(n + 1)] for n in range(1, 10, 2)])
        self.assertEqual((scan.reply.lines, client.events(), other.done),
                         (['info "i"'], ["e"], True))

    def test_a_closed_connection_is_an_error_not_a_hang(self):
        _, client = self.connect([""])
        with self.assertRaises(ConnectionError):
            client.call("get x")
