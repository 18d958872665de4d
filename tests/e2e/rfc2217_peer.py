#!/usr/bin/python3
# A second RFC 2217 device server beside ser2net, built on pyserial's
# serial.rfc2217.PortManager: it listens on loopback, and for each connection
# opens DEVICE, applies the line settings the client asks for, and moves bytes
# both ways until either side closes. Prints "listening PORT" on stdout once it
# accepts connections.

#     rfc2217_peer.py DEVICE

# A pseudo-terminal has no modem lines: the modem state reported is CTS, DSR
# and CD on, and DTR and RTS requests are accepted and ignored.

import select
import socket
import sys

import serial
import serial.rfc2217


class LineWithoutModemLines(serial.Serial):
    cts = dsr = cd = True
    ri = False

    def _update_dtr_state(self):
        pass

    def _update_rts_state(self):
        pass


class Connection:
    def __init__(self, sock):
        self.write = sock.sendall


def serve(listener, device):
    client, _ = listener.accept()
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    line = LineWithoutModemLines()
    line.port, line.timeout = device, 0
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
                client.sendall(b"".join(manager.escape(line.read(4096))))
    except (ConnectionError, OSError, serial.SerialException):
        return  # either end went away
    finally:
        client.close()
        line.close()


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    print("listening %d" % listener.getsockname()[1], flush=True)
    while True:
        serve(listener, sys.argv[1])


if __name__ == "__main__":
    sys.exit(main())
