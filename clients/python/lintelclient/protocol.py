"""The line protocol of lintelhost (host/lintelhost/PROTOCOL.md).

A request is "TID KEYWORD ARGUMENTS"; its reply lines start with the TID, four digits and a
tab, and end with the line "TID\tready". Lines starting with "0000" belong to no transaction
(events, and errors the host finds before it knows a transaction number); they are collected
in `LintelClient.unnumbered` in the order they came.
"""

import socket
import time

_ESCAPES = {"\\": "\\\\", '"': '\\"', "\n": "\\n", "\r": "\\r", "\t": "\\t"}
_UNESCAPES = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "t": "\t"}


def quote(text):
    """A text argument: double-quoted, with backslash, quote, LF, CR and tab escaped."""
    return '"' + "".join(_ESCAPES.get(c, c) for c in text) + '"'


def split_words(text):
    """Splits the words of a line: bare words and quoted texts, unescaped."""
    words, i, n = [], 0, len(text)
    while i < n:
        if text[i] in " \t":
            i += 1
            continue
        if text[i] != '"':
            j = i
            while j < n and text[j] not in " \t":
                j += 1
            words.append(text[i:j])
            i = j
            continue
        out, i = [], i + 1
        while i < n and text[i] != '"':
            if text[i] == "\\" and i + 1 < n:
                out.append(_UNESCAPES.get(text[i + 1], text[i + 1]))
                i += 2
            else:
                out.append(text[i])
                i += 1
        if i >= n:
            raise ValueError("unterminated quoted text: " + text)
        words.append("".join(out))
        i += 1
    return words


def parse_numbers(payload):
    """The numbers of a data line's payload ("data 1 2.5 nan" -> [1.0, 2.5, nan])."""
    return [float(word) for word in payload.split()[1:]]


class Reply:
    """Everything one transaction answered."""

    def __init__(self, tid):
        self.tid = tid
        self.lines = []  # every payload, in order ("data 1 2", 'error "..."', ...)
        self.done = False

    @property
    def data(self):
        """The data lines' payloads without "data "."""
        return [line[5:] for line in self.lines if line.startswith("data")]

    @property
    def errors(self):
        return [split_words(line[6:])[0] for line in self.lines if line.startswith("error ")]

    @property
    def warnings(self):
        return [split_words(line[8:])[0] for line in self.lines if line.startswith("warning ")]

    @property
    def info(self):
        """The reasons the host gives after an error (its "info" lines)."""
        return [split_words(line[5:])[0] for line in self.lines if line.startswith("info ")]

    @property
    def ok(self):
        return self.done and not self.errors

    def numbers(self, index=0):
        """The numbers of data line `index`."""
        return [float(word) for word in self.data[index].split()]

    def words(self, index=0):
        """The words (texts unquoted) of data line `index`."""
        return split_words(self.data[index])


class Transaction:
    """A request in flight; its lines arrive as the client reads."""

    def __init__(self, client, tid, command):
        self.client = client
        self.tid = tid
        self.command = command
        self.reply = Reply(tid)
        self._unread = []  # payloads not yet handed out by lines()

    @property
    def done(self):
        return self.reply.done

    def _add(self, payload):
        if payload == "ready":
            self.reply.done = True
        else:
            self.reply.lines.append(payload)
            self._unread.append(payload)

    def wait(self, timeout=None):
        """Reads until the ready line; the whole reply. Raises TimeoutError."""
        deadline = self.client._deadline(timeout)
        while not self.done:
            self.client._pump(deadline)
        return self.reply

    def lines(self, timeout=None):
        """Yields each payload as it arrives, until the ready line. `timeout` bounds the wait
        for each next line."""
        while True:
            if self._unread:
                yield self._unread.pop(0)
                continue
            if self.done:
                return
            self.client._pump(self.client._deadline(timeout))


class LintelClient:
    """One connection to lintelhost."""

    def __init__(self, host="127.0.0.1", port=4711, timeout=30.0):
        self.timeout = timeout
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.unnumbered = []  # payloads of "0000" lines
        self._buffer = b""
        self._raw = []  # complete lines, when read_line is used
        self._running = {}
        self._next_tid = 1
        self.closed = False

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if not self.closed:
            self.closed = True
            self.sock.close()

    # ---- requests ----

    def start(self, command):
        """Sends "TID command" with a free transaction number."""
        for _ in range(9999):
            tid = self._next_tid
            self._next_tid = tid % 9999 + 1
            if tid not in self._running:
                break
        else:
            raise RuntimeError("every transaction number is in use")
        transaction = Transaction(self, tid, command)
        self._running[tid] = transaction
        self.send_raw(("%d %s\n" % (tid, command)).encode())
        return transaction

    def call(self, command, timeout=None):
        """Sends a request and waits for its whole reply."""
        return self.start(command).wait(timeout)

    def events(self):
        """The texts of the event lines received so far, in order."""
        return [split_words(line[6:])[0] for line in self.unnumbered if line.startswith("event ")]

    def wait_for_event(self, text, timeout=None):
        deadline = self._deadline(timeout)
        while text not in self.events():
            self._pump(deadline)

    # ---- raw access, for tests of the protocol itself ----

    def send_raw(self, data):
        self.sock.sendall(data)

    def read_line(self, timeout=None):
        """The next line as the host sent it (without CR LF), bypassing the transaction
        bookkeeping; None when the host closed the connection."""
        deadline = self._deadline(timeout)
        while not self._raw:
            if not self._receive(deadline, raw=True):
                return None
        return self._raw.pop(0)

    # ---- reading ----

    def _deadline(self, timeout):
        return time.monotonic() + (self.timeout if timeout is None else timeout)

    def _pump(self, deadline):
        if not self._receive(deadline, raw=False):
            raise ConnectionError("lintelhost closed the connection")

    def _receive(self, deadline, raw):
        left = deadline - time.monotonic()
        if left <= 0:
            raise TimeoutError("no reply from lintelhost in time")
        self.sock.settimeout(left)
        try:
            chunk = self.sock.recv(1 << 20)
        except socket.timeout:
            raise TimeoutError("no reply from lintelhost in time") from None
        if not chunk:
            return False
        self._buffer += chunk
        *lines, self._buffer = self._buffer.split(b"\r\n")
        for line in lines:
            text = line.decode("utf-8", "replace")
            if raw:
                self._raw.append(text)
            else:
                self._dispatch(text)
        return True

    def _dispatch(self, text):
        prefix, _, payload = text.partition("\t")
        if prefix == "0000" or not prefix.isdigit():
            self.unnumbered.append(payload)
            return
        transaction = self._running.get(int(prefix))
        if transaction is None:
            self.unnumbered.append(payload)
            return
        transaction._add(payload)
        if transaction.done:
            del self._running[transaction.tid]
