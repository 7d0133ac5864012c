"""python -m lintelclient COMMAND ...: see lintelclient.cli."""

import sys

from lintelclient.cli import main

sys.exit(main())
