#!/usr/bin/env python3
"""The project's servers on one machine, for testing and demonstrating the
client: primary and secondary assignment servers, work servers and the core
download host, with a switch for every failure the client must survive.

    qrv_testbed.py [serve] [--config FILE] [--cores DIR] [--control H:P]
                   [--ready-file FILE]
    qrv_testbed.py ctl [--control H:P] METHOD PATH [JSON]

Run it inside testbed/netns-run: it binds fixed ports (8080, 80) on
127.0.0.x addresses.
"""

import argparse
import json
import os
import signal
import sys
import threading
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from qrvtb import config, control, testbed  # noqa: E402


def write_atomically(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def serve(args):
    base_dir = "."
    user = {}
    if args.config:
        try:
            with open(args.config) as f:
                user = json.load(f)
        except (OSError, ValueError) as e:
            print("qrv_testbed: cannot read %s: %s" % (args.config, e), file=sys.stderr)
            return 2
        base_dir = os.path.dirname(os.path.abspath(args.config))
    if args.control:
        user["control"] = args.control
    if args.cores:
        user.setdefault("servers", {})
        for name, s in config.DEFAULT_CONFIG["servers"].items():
            if s["role"] == "download":
                user["servers"].setdefault(name, {})
        for name, s in user["servers"].items():
            role = (s or {}).get("role") or \
                config.DEFAULT_CONFIG["servers"].get(name, {}).get("role")
            if s is not None and role == "download":
                s["root"] = os.path.abspath(args.cores)
    try:
        cfg = config.build(user)
    except (config.ConfigError, ValueError) as e:
        print("qrv_testbed: bad configuration: %s" % e, file=sys.stderr)
        return 2
    tb = testbed.Testbed(cfg, base_dir)
    done = threading.Event()
    try:
        tb.start()
        ctl = control.ControlServer(tb, done.set)
    except config.ConfigError as e:
        tb.stop()
        print("qrv_testbed: bad configuration: %s" % e, file=sys.stderr)
        return 2
    except OSError as e:
        tb.stop()
        print("qrv_testbed: cannot listen: %s (run it inside testbed/netns-run)" % e,
              file=sys.stderr)
        return 3
    ctl.start()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: done.set())
    ready = {"control": "%s:%d" % tb.control, "pid": os.getpid()}
    if args.ready_file:
        write_atomically(args.ready_file, json.dumps(ready) + "\n")
    print("qrv_testbed: ready, control on http://%s/" % ready["control"], flush=True)
    while not done.wait(0.5):
        pass
    ctl.shutdown()
    ctl.server_close()
    tb.stop()
    return 0


def ctl(args):
    """A command-line client of the control interface, for scripts and for
    tests in languages without an HTTP client at hand."""
    url = "http://%s%s" % (args.control, args.path)
    data = args.json.encode() if args.json is not None else None
    if args.method == "POST" and data is None:
        data = b""
    req = urllib.request.Request(url, data=data, method=args.method)
    req.add_header("Content-Type", "application/json")
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    try:
        with opener.open(req, timeout=30) as r:
            sys.stdout.buffer.write(r.read())
            return 0
    except urllib.error.HTTPError as e:
        sys.stdout.buffer.write(e.read())
        return 1
    except OSError as e:
        print("qrv_testbed ctl: %s" % e, file=sys.stderr)
        return 2


def main(argv):
    if argv[:1] == ["ctl"]:
        c = argparse.ArgumentParser(prog="qrv_testbed.py ctl")
        c.add_argument("--control", default="127.0.0.1:8999")
        c.add_argument("method", choices=["GET", "POST"])
        c.add_argument("path", help="for example /summary or /servers/ws1")
        c.add_argument("json", nargs="?", help="JSON body of a POST")
        return ctl(c.parse_args(argv[1:]))
    if argv[:1] == ["serve"]:
        argv = argv[1:]
    p = argparse.ArgumentParser(prog="qrv_testbed.py")
    p.add_argument("--config", help="JSON configuration file")
    p.add_argument("--cores", help="folder of core bundles for the download host")
    p.add_argument("--control", help="control address, default 127.0.0.1:8999")
    p.add_argument("--ready-file", help="written with the control address once serving")
    return serve(p.parse_args(argv))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
