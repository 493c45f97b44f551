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
on_exit 'rm -rf "$WORK"'
start_server || exit 1
cp "$SRC/tests/fixtures/workbooks/obst.xls" "$CGI_DIR/sales.xls"
cp "$SRC/tests/fixtures/workbooks/three-sheets.xls" "$WORK/upload.xls"

no_uploads_left() { [ -z "$(find "$CGI_DIR" -name '*.tmp')" ]; }
no_chart() { ! grep -q "image/gif" "$WORK/$1.answer"; }

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
  python3 "$SRC/tests/e2e/lib/post_multipart.py" "$PORT" "$2" upload "$1"
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
python3 "$SRC/tests/e2e/lib/post_multipart.py" "$PORT" "$WORK/fields.answer" fields 100
fields_peak=$(cat "$WORK/peak-kb" 2>/dev/null || echo 999999)
echo "program peak resident memory: 100 MB of plain fields ${fields_peak} kB"
check "100 MB of plain fields: no chart" no_chart fields
check "100 MB of plain fields: refused with a log line" grep -q "Multipart body refused: its fields exceed 10000 bytes" "$CGI_DIR/Log/grafolio.Log"
check "100 MB of plain fields: memory stays small (< 4 MB more than for the 32 MB upload)" \
  test "$small" -gt 0 -a "$fields_peak" -lt $((small + 4096))

echo "--- request log"
cat "$CGI_DIR/Log/grafolio.Log" 2>/dev/null
finish
