"""Runs a command in a network of its own (only a loopback interface), when this process may.

    private_network.py COMMAND [ARGS...]

The black-box tests bind the client's fixed port, 40123, and wine keeps its sockets in the
wineserver, which starts in the network of its first client; so the whole run, wineserver
included, goes into one namespace, where nothing else on the machine can take or send its
datagrams. Without root it runs the command as it is, in the machine's network, and says so."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "robustness"))
from support import isolate_network  # noqa: E402


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    if not isolate_network():
        print("private_network: running in the machine's own network (port 40123 must be free)", file=sys.stderr)
    os.execvp(sys.argv[1], sys.argv[1:])


if __name__ == "__main__":
    sys.exit(main())
