"""Client side of lintelhost: a camera to take frames from (`Camera`), the line protocol, the
image FIFOs and preview memories in shared memory, and a PNG writer. Standard library only;
numpy, when installed, makes frames numpy arrays."""

from lintelclient.camera import Axis, Camera, Frame, Scan
from lintelclient.imagefifo import ImageFifo
from lintelclient.png import write_png
from lintelclient.previewmemory import PreviewMemory
from lintelclient.protocol import (LintelClient, LintelError, Reply, Transaction, quote,
                                   split_words)

__all__ = ["Axis", "Camera", "Frame", "ImageFifo", "LintelClient", "LintelError",
           "PreviewMemory", "Reply", "Scan", "Transaction", "quote", "split_words", "write_png"]
