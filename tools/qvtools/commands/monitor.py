"""qv monitor: follow a running case."""


def register(sub):
    s = sub.add_parser("monitor", help="follow a running case")
    s.add_argument("run", nargs="?", default=".", help="run directory")
    s.add_argument("--interval", type=float, default=10.0, help="seconds between polls")
    s.add_argument("--once", action="store_true", help="print one reading and stop")
    s.add_argument("--count", type=int, help="stop after this many readings")
    s.add_argument("--plot", help="PNG of the loads, redrawn as the run goes on")
    s.set_defaults(func=run)
    return s


def run(args):
    from ..monitor import monitor
    monitor(args.run, args.interval, args.once, args.count, args.plot)
    return 0
