#!/usr/bin/env python3
"""Clients that cost a server without asking it anything useful.

  hostile_clients.py trickle <port> <connections> <seconds> <line interval s>
      Slow-header clients: each opens a connection, sends a request line and
      then one header line per interval, never ending the head; a connection
      the server closed is opened again at its next interval. Starts are
      spread over one interval, as attack tools open connections at a rate.
  hostile_clients.py noread <port> <connections> <seconds> <user:password>
      Each connection sends pipelined requests (half of them without
      credentials, half PROPFINDs with them) as fast as the server takes them
      and never reads an answer.
  hostile_clients.py listings <port> <connections> <seconds> <user:password> <folder>
      Each connection asks once for a PROPFIND Depth 1 of the folder with the
      credentials and never reads the answer; kept open for the time given.

Prints one line of counts at the end.
"""
import base64
import random
import selectors
import socket
import sys
import time


def trickle(port, count, seconds, interval):
    now = time.monotonic()
    end = now + seconds
    clients = [{"sock": None, "due": now + random.uniform(0, interval)} for _ in range(count)]
    opened = closed = lines = 0
    while time.monotonic() < end:
        now = time.monotonic()
        for client in clients:
            if client["due"] > now:
                continue
            client["due"] = now + interval
            sock = client["sock"]
            if sock is not None:
                try:
                    sock.send(b"X-Trickle: %d\r\n" % lines)
                    lines += 1
                    continue
                except OSError:
                    sock.close()
                    client["sock"] = None
                    closed += 1
            try:
                sock = socket.create_connection(("127.0.0.1", port), timeout=2)
                sock.setblocking(False)
                sock.send(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n")
                client["sock"] = sock
                opened += 1
            except OSError:
                pass
        # A closed connection shows as readable (EOF or reset): notice it early.
        for client in clients:
            sock = client["sock"]
            if sock is None:
                continue
            try:
                sock.recv(4096)  # an answer (408) or the end: either way the server is done with it
            except BlockingIOError:
                continue
            except OSError:
                pass
            sock.close()
            client["sock"] = None
            closed += 1
        time.sleep(0.05)
    print(f"trickle: {opened} connections opened, {closed} closed by the server, {lines} header lines sent")


def noread(port, count, seconds, credentials):
    auth = base64.b64encode(credentials.encode()).decode()
    anonymous = b"GET /many/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
    listing = (f"PROPFIND /many/ HTTP/1.1\r\nHost: 127.0.0.1\r\nDepth: 1\r\n"
               f"Authorization: Basic {auth}\r\n\r\n").encode()
    burst = (anonymous + listing) * 64
    selector = selectors.DefaultSelector()
    for _ in range(count):
        sock = socket.create_connection(("127.0.0.1", port))
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        sock.setblocking(False)
        selector.register(sock, selectors.EVENT_WRITE)
    sent = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for key, _ in selector.select(timeout=0.5):
            try:
                sent += key.fileobj.send(burst)
            except BlockingIOError:
                pass
            except OSError:
                selector.unregister(key.fileobj)
    print(f"noread: {sent / 1048576:.1f} MiB of requests sent, none of the answers read")


def listings(port, count, seconds, credentials, folder):
    auth = base64.b64encode(credentials.encode()).decode()
    request = (f"PROPFIND {folder} HTTP/1.1\r\nHost: 127.0.0.1\r\nDepth: 1\r\n"
               f"Authorization: Basic {auth}\r\n\r\n").encode()
    sockets = []
    for _ in range(count):
        sock = socket.socket()
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        sock.connect(("127.0.0.1", port))
        sock.sendall(request)
        sockets.append(sock)
    time.sleep(seconds)
    closed = 0
    for sock in sockets:
        sock.setblocking(False)
        try:
            closed += sock.recv(1, socket.MSG_PEEK) == b""
        except BlockingIOError:
            pass
        except OSError:
            closed += 1
        sock.close()
    print(f"listings: {count} PROPFINDs of {folder} never read, {closed} connections closed by the server")


if __name__ == "__main__":
    mode, port = sys.argv[1], int(sys.argv[2])
    if mode == "trickle":
        trickle(port, int(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5]))
    elif mode == "noread":
        noread(port, int(sys.argv[3]), float(sys.argv[4]), sys.argv[5])
    elif mode == "listings":
        listings(port, int(sys.argv[3]), float(sys.argv[4]), sys.argv[5], sys.argv[6])
    else:
        sys.exit(__doc__)
