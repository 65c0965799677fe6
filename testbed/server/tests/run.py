#!/usr/bin/env python3
"""Runs the testbed's own tests. The live tests bind the fixed ports on
127.0.0.x, so outside a private network namespace this re-runs itself
inside one (testbed/netns-run).

    run.py [test name patterns...]   e.g. run.py test_records
"""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))

if __name__ == "__main__":
    if os.environ.get("QRV_NETNS") != "1":
        netns = os.path.join(HERE, "..", "..", "netns-run")
        os.execv(netns, [netns, sys.executable] + sys.argv)
    sys.path.insert(0, HERE)
    sys.path.insert(0, os.path.dirname(HERE))
    loader = unittest.TestLoader()
    names = sys.argv[1:]
    if names:
        suite = unittest.TestSuite(loader.loadTestsFromName(n) for n in names)
    else:
        suite = loader.discover(HERE, pattern="test_*.py", top_level_dir=HERE)
    result = unittest.TextTestRunner(verbosity=1).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
