#!/usr/bin/env bash
# Workbook uploads through a real web server: a workbook posted from a form
# (curl -F) is charted like the same file asked for by name, a 1 GB upload
# passes through the program in constant memory, and no upload file stays
# behind.
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
# Bodies up to 2 GB, handed to the program while they arrive.
LIGHTTPD_MAX_REQUEST_KB=2097152
LIGHTTPD_EXTRA_CONF='server.stream-request-body = 2'
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
trap 'stop_server; rm -rf "$WORK"' EXIT
start_server || exit 1
cp "$SRC/tests/fixtures/workbooks/obst.xls" "$CGI_DIR/sales.xls"
cp "$SRC/tests/fixtures/workbooks/three-sheets.xls" "$WORK/upload.xls"

no_uploads_left() { [ -z "$(find "$CGI_DIR" -name '*.tmp')" ]; }

# The uploaded workbook is charted, exactly as the same file asked for by name.
curl -s --max-time 30 -D "$WORK/byname.head" -o "$WORK/byname.body" "$BASE_URL?filename=sales.xls&style=3"
(cd "$SRC/tests/fixtures/workbooks" && cp obst.xls "$WORK/sales.xls")
(cd "$WORK" && curl -s --max-time 30 -D "$WORK/upload.head" -o "$WORK/upload.body" \
  -F filename=@sales.xls -F style=3 "$BASE_URL")
check "upload: image/gif" header_has upload "Content-Type: image/gif"
check "upload: the chart of the same file asked for by name" cmp -s "$WORK/upload.body" "$WORK/byname.body"
check "upload: no upload file left" no_uploads_left

# Sheet and look fields come along; a client path is only a name.
(cd "$WORK" && curl -s --max-time 30 -o "$WORK/sheet3.body" \
  -F "filename=@upload.xls;filename=C:\\docs\\..\\..\\upload.xls" -F sheet=3 -F 3D=yes "$BASE_URL")
cp "$WORK/upload.xls" "$CGI_DIR/upload.xls"
curl -s --max-time 30 -o "$WORK/sheet3-byname.body" "$BASE_URL?filename=upload.xls&sheet=3&3D=yes"
check "upload with a client path, sheet 3: same chart as by name" cmp -s "$WORK/sheet3.body" "$WORK/sheet3-byname.body"

# A field that pretends to name an upload is not taken for one.
curl -s --max-time 30 -o "$WORK/fake.body" -F "filename_FILENAME=$CGI_DIR/sales.xls" -F filename=none.xls "$BASE_URL"
check "forged upload field: not found page" grep -qF 'EXCEL file "none.xls" not found' "$WORK/fake.body"

# An upload cut short is no upload: a body without its closing boundary, or
# cut inside a part (announced with its cut length, so the web server hands
# it over as it is), is answered with no chart, and the log says what was
# missing.
cut_upload() {  # cut_upload NAME CUT: the upload's body cut to CUT bytes; answer into $WORK/NAME.answer
  python3 - "$PORT" "$WORK/$1.answer" "$2" "$WORK/sales.xls" <<'PY'
import socket, sys
port, out, cut, workbook = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4]
b = b"----grafoliocut"
body = (b"--" + b + b"\r\nContent-Disposition: form-data; name=\"style\"\r\n\r\n3\r\n--" + b +
        b"\r\nContent-Disposition: form-data; name=\"filename\"; filename=\"sales.xls\"\r\n\r\n" +
        open(workbook, "rb").read() + b"\r\n--" + b + b"--\r\n")
body = body[:cut if cut >= 0 else len(body) + cut]
s = socket.create_connection(("127.0.0.1", port), timeout=30)
s.sendall(b"POST /cgi-bin/grafolio HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
          b"Content-Type: multipart/form-data; boundary=" + b + b"\r\n"
          b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body)
answer = b""
while chunk := s.recv(65536):
    answer += chunk
open(out, "wb").write(answer)
PY
}
no_chart() { ! grep -q "image/gif" "$WORK/$1.answer"; }
cut_upload closing -4   # "--\r\n" of the closing boundary missing
check "upload without its closing boundary: no chart" no_chart closing
cut_upload inside 300   # inside the workbook's bytes
check "upload cut inside the file: no chart" no_chart inside
cut_upload header 60    # inside the file part's header
check "upload cut inside a part header: no chart" no_chart header
check "cut uploads: each logged with what was missing" test "$(grep -c "Multipart body incomplete: no closing boundary" "$CGI_DIR/Log/grafolio.Log")" = 3
cut_upload whole 0
check "the same upload whole: the chart" grep -q "image/gif" "$WORK/whole.answer"
check "cut uploads: no upload file left" no_uploads_left

# An upload the web server aborts (the client goes away mid-body; lighttpd
# then ends the CGI process) leaves no upload file: the file has no name
# from the moment it is made.
python3 - "$PORT" "$CGI_DIR" >"$WORK/abort.out" <<'PY'
import glob, socket, sys, time
port, cgi_dir = int(sys.argv[1]), sys.argv[2]
b = b"----grafolioabort"
head = (b"--" + b + b"\r\nContent-Disposition: form-data; name=\"filename\"; filename=\"big.xls\"\r\n\r\n")
for attempt in range(3):
    s = socket.create_connection(("127.0.0.1", port), timeout=30)
    s.sendall(b"POST /cgi-bin/grafolio HTTP/1.1\r\nHost: localhost\r\n"
              b"Content-Type: multipart/form-data; boundary=" + b + b"\r\n"
              b"Content-Length: " + str(40 << 20).encode() + b"\r\n\r\n" + head)
    for _ in range(8):
        s.sendall(b"x" * (1 << 20))
    time.sleep(0.5)
    if glob.glob(cgi_dir + "/*.tmp"):
        print("an upload file has a name while it is written")
    s.close()
PY
check "aborted uploads: no upload file has a name while it is written" test ! -s "$WORK/abort.out"
for _ in $(seq 1 100); do pgrep -f "^$CGI_DIR/grafolio" >/dev/null || break; sleep 0.1; done
check "aborted uploads: the CGI processes have ended" test -z "$(pgrep -f "^$CGI_DIR/grafolio")"
check "aborted uploads: no upload file left" no_uploads_left

# 1 GB file part, generated while it is sent. A wrapper starts the program
# and reads its peak resident memory (VmHWM, the kernel's high-water mark of
# the program's own memory) every 20 ms until it ends.
mv "$CGI_DIR/grafolio" "$CGI_DIR/grafolio.bin"
cat >"$CGI_DIR/grafolio" <<PY
#!/usr/bin/env python3
import os, sys, time
pid = os.fork()
if pid == 0:
    os.execv("$CGI_DIR/grafolio.bin", ["grafolio.bin"])
peak = 0
while True:
    done, status = os.waitpid(pid, os.WNOHANG)
    if done:
        break
    try:
        for line in open("/proc/%d/status" % pid):
            if line.startswith("VmHWM:") and "grafolio.bin" in os.readlink("/proc/%d/exe" % pid):
                peak = max(peak, int(line.split()[1]))
    except OSError:
        pass
    time.sleep(0.02)
open("$WORK/peak-kb", "w").write(str(peak))
sys.exit(os.waitstatus_to_exitcode(status))
PY
chmod +x "$CGI_DIR/grafolio"
upload() {  # upload SIZE ANSWER: one file part of SIZE bytes; the peak into $WORK/peak-kb
  python3 - "$PORT" "$2" "$1" <<'PY'
import socket, sys
port, out, size = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
boundary = b"----grafolio1gb"
head = (b"--" + boundary + b"\r\nContent-Disposition: form-data; name=\"style\"\r\n\r\n3\r\n"
        b"--" + boundary + b"\r\nContent-Disposition: form-data; name=\"big\"; filename=\"big.bin\"\r\n"
        b"Content-Type: application/octet-stream\r\n\r\n")
tail = b"\r\n--" + boundary + b"--\r\n"
block = bytes(range(256)) * 4096  # 1 MB; dashes and line ends included
total = len(head) + size + len(tail)
s = socket.create_connection(("127.0.0.1", port), timeout=300)
s.sendall(b"POST /cgi-bin/grafolio HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
          b"Content-Type: multipart/form-data; boundary=" + boundary + b"\r\n"
          b"Content-Length: " + str(total).encode() + b"\r\n\r\n" + head)
for _ in range(size // len(block)):
    s.sendall(block)
s.sendall(block[:size % len(block)])
s.sendall(tail)
answer = b""
while True:
    chunk = s.recv(65536)
    if not chunk:
        break
    answer += chunk
open(out, "wb").write(answer)
PY
}
upload $((32 << 20)) "$WORK/small.answer"
small=$(cat "$WORK/peak-kb" 2>/dev/null || echo 0)
upload $((1 << 30)) "$WORK/big.answer"
peak=$(cat "$WORK/peak-kb" 2>/dev/null || echo 999999)
echo "program peak resident memory: 32 MB upload ${small} kB, 1 GB upload ${peak} kB"
check "1 GB upload: answered with the chart (style from the form)" grep -q "image/gif" "$WORK/big.answer"
check "1 GB upload: memory does not grow with the upload (< 4 MB more than for 32 MB)" \
  test "$small" -gt 0 -a "$peak" -lt $((small + 4096))
# The sanitizers' own memory is not the program's: the absolute bound is for
# the plain build.
if ! ldd "$CGI_DIR/grafolio.bin" | grep -q libasan; then
  check "1 GB upload: peak resident memory below 16 MB" test "$peak" -gt 0 -a "$peak" -lt 16384
fi
check "1 GB upload: no upload file left" no_uploads_left

# 100 MB of plain (non-file) fields: refused once they pass the 10000-byte
# limit, in small memory, without drawing.
python3 - "$PORT" "$WORK/fields.answer" <<'PY'
import socket, sys
port, out = int(sys.argv[1]), sys.argv[2]
b = b"----grafoliofields"
field = b"--" + b + b"\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\n" + b"n" * (1 << 20) + b"\r\n"
tail = b"--" + b + b"--\r\n"
s = socket.create_connection(("127.0.0.1", port), timeout=120)
s.sendall(b"POST /cgi-bin/grafolio HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
          b"Content-Type: multipart/form-data; boundary=" + b + b"\r\n"
          b"Content-Length: " + str(100 * len(field) + len(tail)).encode() + b"\r\n\r\n")
try:
    for _ in range(100):
        s.sendall(field)
    s.sendall(tail)
except OSError:
    pass  # the answer may come (and the connection end) before all is sent
answer = b""
try:
    while chunk := s.recv(65536):
        answer += chunk
except OSError:
    pass
open(out, "wb").write(answer)
PY
fields_peak=$(cat "$WORK/peak-kb" 2>/dev/null || echo 999999)
echo "program peak resident memory: 100 MB of plain fields ${fields_peak} kB"
check "100 MB of plain fields: no chart" no_chart fields
check "100 MB of plain fields: refused with a log line" grep -q "Multipart body refused: its fields exceed 10000 bytes" "$CGI_DIR/Log/grafolio.Log"
check "100 MB of plain fields: memory stays small (< 4 MB more than for the 32 MB upload)" \
  test "$small" -gt 0 -a "$fields_peak" -lt $((small + 4096))

echo "--- request log"
cat "$CGI_DIR/Log/grafolio.Log" 2>/dev/null
finish
