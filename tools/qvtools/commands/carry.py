"""qv carry: pack an ended run into one small file, or unpack it elsewhere."""


def register(sub):
    s = sub.add_parser("carry", help="pack an ended run small enough to move, or unpack it",
                       description="pack: write the final field in single precision, the "
                                   "statistics as span means and every other small file of "
                                   "RUN into one xz-compressed file.  unpack: write that run "
                                   "again as an ended run folder, which a plain restart "
                                   "(qv restart --steps N) continues; an exact continuation "
                                   "needs the run's own folder.")
    s.add_argument("action", choices=("pack", "unpack"))
    s.add_argument("source", help="pack: the ended run folder; unpack: the carry file")
    s.add_argument("--out", required=True,
                   help="pack: the carry file to write (.tar.xz); unpack: a new folder")
    s.set_defaults(func=run)
    return s


def run(args):
    import os

    from ..carry import pack, unpack
    if args.action == "pack":
        m = pack(args.source, args.out)
        print(f"wrote {args.out} ({os.path.getsize(args.out) / 1e6:.1f} MB): {args.source} "
              f"at t = {m['t']:.6g}, {len(m['files'])} files beside the field and the statistics")
        return 0
    m = unpack(args.source, args.out)
    print(f"wrote {args.out}: the run carried at t = {m['t']:.6g} (field in single precision, "
          f"statistics as span means)")
    print(f"continue it with a plain restart: qv restart {args.out} --out NEXT --steps N")
    return 0
