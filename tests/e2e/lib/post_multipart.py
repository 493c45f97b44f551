#!/usr/bin/env python3
"""Posts a multipart body, made while it is sent, to the CGI program behind
the web server on 127.0.0.1:PORT and writes the answer to OUT.
  post_multipart.py PORT OUT upload SIZE   the field style=3 and one file part
                                           of SIZE bytes (every byte value,
                                           dashes and line ends included)
  post_multipart.py PORT OUT fields COUNT  COUNT plain fields of 1 MB each
"""
import socket, sys

port, out, kind, count = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])
boundary = b"----grafolio" + kind.encode()


def part(name, more=b""):
    return b"--" + boundary + b"\r\nContent-Disposition: form-data; name=\"" + name + b"\"" + more + b"\r\n\r\n"


if kind == "upload":
    block = bytes(range(256)) * 4096  # 1 MB
    pieces = [part(b"style") + b"3\r\n",
              part(b"big", b"; filename=\"big.bin\"\r\nContent-Type: application/octet-stream")]
    pieces += [block] * (count // len(block)) + [block[:count % len(block)], b"\r\n"]
else:
    pieces = [part(b"note") + b"n" * (1 << 20) + b"\r\n"] * count
pieces.append(b"--" + boundary + b"--\r\n")
s = socket.create_connection(("127.0.0.1", port), timeout=300)
s.sendall(b"POST /cgi-bin/grafolio HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
          b"Content-Type: multipart/form-data; boundary=" + boundary + b"\r\n"
          b"Content-Length: " + str(sum(map(len, pieces))).encode() + b"\r\n\r\n")
answer = b""
try:
    for piece in pieces:
        s.sendall(piece)
except OSError:
    pass  # a refusal may come (and the connection end) before all is sent
try:
    while chunk := s.recv(65536):
        answer += chunk
except OSError:
    pass
open(out, "wb").write(answer)
