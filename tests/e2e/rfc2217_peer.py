#!/usr/bin/python3
"""A second RFC 2217 device server beside ser2net, built on pyserial's
serial.rfc2217.PortManager: it listens on loopback, and for each connection
opens DEVICE, applies the line settings the client asks for, and moves bytes
both ways until either side closes. Prints "listening PORT" on stdout once it
accepts connections.

    rfc2217_peer.py DEVICE [--port N] [--dsr on|off]

A pseudo-terminal has no modem lines: the modem state reported is CTS and CD
on and DSR as --dsr says, and DTR and RTS requests are accepted and ignored.
"""

import argparse
import select
import socket
import sys

import serial
import serial.rfc2217


class LineWithoutModemLines(serial.Serial):
    dsr_on = True

    @property
    def cts(self):
        return True

    @property
    def dsr(self):
        return self.dsr_on

    @property
    def ri(self):
        return False

    @property
    def cd(self):
        return True

    def _update_dtr_state(self):
        pass

    def _update_rts_state(self):
        pass


class Connection:
    def __init__(self, sock):
        self.sock = sock

    def write(self, data):
        self.sock.sendall(data)


def serve(listener, device, dsr_on):
    client, _ = listener.accept()
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    line = LineWithoutModemLines()
    line.dsr_on = dsr_on
    line.port = device
    line.timeout = 0
    line.open()
    manager = serial.rfc2217.PortManager(line, Connection(client))
    try:
        while True:
            ready, _, _ = select.select([client, line.fd], [], [], 0.2)
            manager.check_modem_lines()
            if client in ready:
                data = client.recv(4096)
                if not data:
                    return
                line.write(b"".join(manager.filter(data)))
            if line.fd in ready:
                try:
                    data = line.read(4096)
                except serial.SerialException:
                    return  # the machine's end went away
                if data:
                    client.sendall(b"".join(manager.escape(data)))
    except (ConnectionError, OSError):
        return
    finally:
        client.close()
        line.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("device")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--dsr", choices=("on", "off"), default="on")
    args = parser.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(1)
    print("listening %d" % listener.getsockname()[1], flush=True)
    while True:
        serve(listener, args.device, args.dsr == "on")


if __name__ == "__main__":
    sys.exit(main())
