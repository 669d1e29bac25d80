"""A hostile NTS key establishment server for the tests: TLS 1.3 with ALPN ntske/1 and a
certificate the test made, then, once the client's request has come, a response of its MODE:

    fake_ke_server.py MODE CERT KEY ADDRESS PORT

error         an error record (bad request), then end of message
error-no-eom  an error record (bad request), then it closes without end of message
trickle       a non-critical record of an unknown type every 5 ms, never an end of message
endless       such records without a body, each in a TLS record of its own, as fast as the
              connection takes them
flood         such records without a body, 64 to a TLS record, as fast as the connection
              takes them

Prints "ready" once it listens and one line per client it served.
"""
import socket
import ssl
import struct
import sys
import threading
import time

END_OF_MESSAGE, ERROR = 0, 2
CRITICAL = 0x8000
UNKNOWN_TYPE = 1000


def record(kind, body=b"", critical=False):
    return struct.pack("!HH", kind | (CRITICAL if critical else 0), len(body)) + body


def serve(connection, mode):
    with connection:
        request = b""
        while len(request) < 16:  # next protocol, AEAD algorithm, end of message
            more = connection.recv(16 - len(request))
            if not more:
                return
            request += more
        if mode.startswith("error"):
            connection.sendall(record(ERROR, struct.pack("!H", 1), critical=True))
            if mode == "error":
                connection.sendall(record(END_OF_MESSAGE, critical=True))
            return
        noise = record(UNKNOWN_TYPE, bytes(16 if mode == "trickle" else 0))
        try:
            while True:
                connection.sendall(noise * (64 if mode == "flood" else 1))
                if mode == "trickle":
                    time.sleep(0.005)
        except OSError:
            pass  # the client gave up


def main():
    mode, cert, key, address, port = sys.argv[1:6]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_3
    context.load_cert_chain(cert, key)
    context.set_alpn_protocols(["ntske/1"])
    listener = socket.create_server((address, int(port)))
    print("ready", flush=True)
    while True:
        client, peer = listener.accept()
        try:
            connection = context.wrap_socket(client, server_side=True)
        except (OSError, ssl.SSLError):
            client.close()
            continue
        print("serving", mode, "to", peer, flush=True)
        threading.Thread(target=serve, args=(connection, mode), daemon=True).start()


if __name__ == "__main__":
    main()
