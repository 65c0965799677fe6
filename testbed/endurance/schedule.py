"""The fault schedule: random, reproducible from the seed, overlapping.

Each kind arrives as a Poisson process at its own rate per simulated day
and lasts a duration drawn between its bounds (log-uniform, so short
faults are common and day-long ones happen). Faults of different kinds
overlap freely; two faults of the same kind on the same target are merged
by the injector (the later end wins), so a schedule is a plain list.
"""

import math
import random

MINUTE, HOUR, DAY = 60.0, 3600.0, 86400.0

# The exit codes of the core contract a core can end with, besides 100.
CORE_EXIT_CODES = (99, 101, 102, 110, 111, 112, 113, 114, 115, 116, 117, 120)

# kind: (per simulated day, shortest, longest)
KINDS = {
    "assign_down":   (0.25, 10 * MINUTE, 2 * DAY),
    "work_down":     (0.25, 10 * MINUTE, 2 * DAY),
    "refuse":        (0.5, 5 * MINUTE, 6 * HOUR),
    "garbage":       (0.5, 5 * MINUTE, 6 * HOUR),
    "drip":          (0.5, 5 * MINUTE, 6 * HOUR),
    "cut":           (0.5, 5 * MINUTE, 6 * HOUR),
    "link_down":     (0.3, 5 * MINUTE, 12 * HOUR),
    "kill9":         (2.0, 1 * MINUTE, 5 * MINUTE),     # duration: the restart delay
    "stop_start":    (1.0, 1 * MINUTE, 30 * MINUTE),
    "core_crash":    (0.6, 10 * MINUTE, 3 * HOUR),
    "core_hang":     (0.3, 10 * MINUTE, 1 * HOUR),
    "core_exit":     (1.0, 10 * MINUTE, 3 * HOUR),
    "disk_full":     (0.25, 5 * MINUTE, 6 * HOUR),
    "clock_forward": (0.1, 1 * DAY, 3 * DAY),            # duration: the step
    "clock_back":    (0.2, 1 * HOUR, 6 * HOUR),
    "bad_bundle":    (0.15, 30 * MINUTE, 12 * HOUR),
}

# Work server switches for the faults that damage replies. Delays are in
# simulated milliseconds; the injector converts them to the servers' real
# time.
REPLY_FAULTS = {
    "refuse": [{"http_status": 503}, {"http_status": 500}, {"http_status": 404}],
    "garbage": [{"framing": "raw"}, {"extra_bytes": 700}, {"leading_crlf": 3, "http_status": 502},
                {"declared_size": 999999}],
    "drip": [{"piece_size": 7, "piece_delay_ms": 20000}, {"piece_size": 64, "piece_delay_ms": 90000},
             {"delay_ms": 400000}],
    "cut": [{"drop": True}, {"truncate": 40}, {"truncate": 0, "lie_length": True},
            {"truncate": 300, "lie_length": True}],
}
# Which servers a reply fault hits.
REPLY_TARGETS = (("primary", "secondary"), ("ws1",), ("cores",), ("primary", "secondary", "ws1"))


def draw_duration(rng, low, high):
    return math.exp(rng.uniform(math.log(low), math.log(high)))


def make_schedule(seed, days, quiet_tail, intensity=1.0, kinds=None):
    """[(start, kind, duration, params)] in simulated seconds from the
    run's start, sorted by start. Nothing starts in the last quiet_tail
    seconds (the drain: what is queued gets finished and returned).
    intensity multiplies every rate (a short run with as many faults as a
    long one); kinds, when given, keeps only those kinds."""
    rng = random.Random(seed)
    horizon = days * DAY - quiet_tail
    faults = []
    for kind in sorted(KINDS):
        rate, low, high = KINDS[kind]
        rate *= intensity if kinds is None or kind in kinds else 0.0
        t = rng.expovariate(rate / DAY) if rate > 0 else horizon
        while t < horizon:
            faults.append((t, kind, draw_duration(rng, low, high), params_for(rng, kind)))
            t += rng.expovariate(rate / DAY)
    faults.sort(key=lambda f: f[0])
    return faults


def params_for(rng, kind):
    if kind in REPLY_FAULTS:
        return {"switches": rng.choice(REPLY_FAULTS[kind]),
                "servers": list(rng.choice(REPLY_TARGETS))}
    if kind == "core_exit":
        return {"code": rng.choice(CORE_EXIT_CODES)}
    if kind == "core_crash":
        return {"signal": rng.choice(("SEGV", "ABRT", "KILL", "BUS"))}
    if kind in ("kill9", "stop_start"):
        return {}
    return {}
