#!/usr/bin/python3
# Test fixture: a real FTP server on loopback with a temporary user and folder,
# and a listener that accepts connections and never answers.
#   ftp_fixture.py start <info file>   starts both in the background
#   ftp_fixture.py stop <info file>    stops them
# The info file holds "<ftp port> <silent port> <user> <password> <folder>".
import os
import shutil
import signal
import socket
import sys
import tempfile
import time


def serve(info_path):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

    folder = tempfile.mkdtemp(prefix="korvanta-ftp-")
    authorizer = DummyAuthorizer()
    authorizer.add_user("crashtest", "upload-password-123", folder, perm="elradfmw")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.passive_ports = range(40000, 40400)
    server = FTPServer(("127.0.0.1", 0), handler)
    ftp_port = server.socket.getsockname()[1]

    silent = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    silent.bind(("127.0.0.1", 0))
    silent.listen(8)
    silent_port = silent.getsockname()[1]

    with open(info_path + ".tmp", "w") as f:
        f.write(f"{ftp_port} {silent_port} crashtest upload-password-123 {folder}\n")
    os.replace(info_path + ".tmp", info_path)
    # Bounded: the fixture ends by itself after an hour at the latest (a
    # test run may start the programs that use it only after the long play runs).
    deadline = time.time() + 3600
    while time.time() < deadline:
        server.serve_forever(timeout=0.2, blocking=False)
    server.close_all()


def main():
    action, info_path = sys.argv[1], os.path.abspath(sys.argv[2])
    pid_path = info_path + ".pid"
    if action == "start":
        if os.path.exists(info_path):
            os.remove(info_path)
        pid = os.fork()
        if pid == 0:
            os.setsid()
            devnull = os.open(os.devnull, os.O_RDWR)
            for fd in (0, 1, 2):
                os.dup2(devnull, fd)
            serve(info_path)
            os._exit(0)
        with open(pid_path, "w") as f:
            f.write(str(pid))
        for _ in range(200):
            if os.path.exists(info_path):
                return 0
            time.sleep(0.05)
        print("ftp fixture did not start", file=sys.stderr)
        return 1
    if action == "stop":
        try:
            with open(pid_path) as f:
                os.kill(int(f.read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        try:
            with open(info_path) as f:
                folder = f.read().split()[4]
            if os.path.basename(folder).startswith("korvanta-ftp-"):
                shutil.rmtree(folder, ignore_errors=True)
        except (OSError, IndexError):
            pass
        return 0
    return 2


if __name__ == "__main__":
    sys.exit(main())
