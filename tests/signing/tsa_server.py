"""A throwaway RFC 3161 time-stamp server for the signing tests.

tsa_server.py CONFIG [silent]: listens on 127.0.0.1 on a free port, which it
prints as its first line, and answers each POSTed time-stamp query with the
reply of `openssl ts -reply -config CONFIG`; silent, it never answers at all.
"""
import http.server
import subprocess
import sys
import tempfile
import time


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.NamedTemporaryFile() as query_file, \
                tempfile.NamedTemporaryFile() as reply_file:
            query_file.write(query)
            query_file.flush()
            subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[1],
                            "-queryfile", query_file.name,
                            "-out", reply_file.name], check=True)
            reply = reply_file.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampHandler)
print(server.server_address[1], flush=True)
if sys.argv[2:] == ["silent"]:
    # Connections queue up unaccepted, as at a server that hangs.
    while True:
        time.sleep(60)
server.serve_forever()
