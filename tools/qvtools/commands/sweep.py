"""qv sweep: write, run and summarise parameter sweeps, or a Slurm script for them."""

import os
import sys

from .. import sweep

ACTIONS = ("run", "summary", "slurm")


def register(sub):
    s = sub.add_parser(
        "sweep", help="parameter sweeps: write, run, summarise, Slurm script",
        description="qv sweep --recipe R --vary KEY=A:STEP:B --out DIR writes one case "
                    "per value; qv sweep run DIR runs them (resumable); qv sweep summary "
                    "DIR tabulates and plots them; qv sweep slurm DIR writes a job-array "
                    "script.")
    s.add_argument("action", nargs="*", metavar="run|summary|slurm DIR",
                   help="what to do with the sweep in DIR (nothing: write a new sweep)")
    s.add_argument("--recipe", help="recipe of the cases (new sweep)")
    s.add_argument("--vary", help="KEY=A:STEP:B or KEY=v1,v2,... (new sweep)")
    s.add_argument("--out", help="sweep directory to write (new sweep)")
    s.add_argument("--set", dest="overrides", action="append", default=[],
                   metavar="KEY=VALUE", help="recipe override for every case (repeatable)")
    s.add_argument("--force", action="store_true", help="write over an existing sweep")
    s.add_argument("--jobs", type=int, help="cases at a time (run; default: the cores)")
    s.add_argument("--case", help="run only this case, by index from 0 or name (run)")
    s.add_argument("--program", help="the solver (default: $QV_PROGRAM or build/quivel_vib8)")
    s.add_argument("--tmin", type=float, help="analysis window start (summary; default: "
                                               "each case's settled start)")
    s.add_argument("-o", "--output", help="figure of the summary, .png, .pdf or .svg by the "
                                          "extension (default DIR/sweep_summary.png)")
    s.add_argument("--title", help="title of the summary figure")
    s.add_argument("--size", type=float, nargs=2, metavar=("W", "H"),
                   help="size of the summary figure in inches")
    s.add_argument("--dpi", type=int, help="resolution of a PNG summary figure")
    s.add_argument("--time", default="24:00:00", help="Slurm time limit per case")
    s.add_argument("--partition", help="Slurm partition")
    s.add_argument("--account", help="Slurm account")
    s.add_argument("--python", help="interpreter on the nodes (slurm; default: python3 on "
                                    "the PATH the preamble sets up)")
    s.add_argument("--preamble", action="append", default=[], metavar="COMMAND",
                   help="site command before the task, e.g. 'module load gcc' (slurm; repeatable)")
    s.add_argument("--threads", type=int, default=1,
                   help="cores per task, OMP_NUM_THREADS of the program (slurm; default 1)")
    s.add_argument("--mem", help="memory per task, Slurm's --mem (slurm), e.g. 2G")
    s.add_argument("--throttle", type=int, help="most tasks at a time (slurm: --array=...%%N)")
    s.set_defaults(func=run)
    return s


def run(args):
    act = args.action
    if not act:
        if not (args.vary and args.out):
            raise ValueError("a new sweep needs --vary KEY=A:STEP:B and --out DIR")
        rec = sweep.create(args.out, args.recipe, args.vary, args.overrides, args.force)
        for c in rec["cases"]:
            for w in c["warnings"]:
                print(f"qv: warning: {c['name']}: {w}", file=sys.stderr)
        values = ", ".join(f"{c['value']:g}" for c in rec["cases"])
        print(f"wrote {len(rec['cases'])} cases of {rec['key']} = {values} to {args.out}")
        print(f"run them with: tools/qv sweep run {args.out}")
        return 0
    if len(act) != 2 or act[0] not in ACTIONS:
        raise ValueError(f"use: qv sweep {{run|summary|slurm}} DIR, not {' '.join(act)}")
    what, folder = act
    if what == "run":
        failed = sweep.run(folder, args.jobs, args.program, args.case)
        return 1 if failed else 0
    if what == "summary":
        key, rows = sweep.summary_rows(folder, args.tmin)
        print(sweep.format_rows(key, rows))
        csv = sweep.write_csv(key, rows, os.path.join(folder, "sweep_summary.csv"), folder)
        print(f"wrote {csv}")
        if any(r["state"] in ("done", "UNSETTLED") for r in rows):
            png = sweep.plot_rows(key, rows, args.output or os.path.join(folder, "sweep_summary.png"),
                                  args.title or f"{os.path.basename(os.path.abspath(folder))}: "
                                                f"response against {key}",
                                  {"size": args.size, "dpi": args.dpi})
            print(f"wrote {png}")
        return 0
    path = sweep.slurm_script(folder, args.program, args.time, args.partition, args.account,
                              python=args.python, preamble=args.preamble, threads=args.threads,
                              mem=args.mem, throttle=args.throttle)
    print(f"wrote {path}; submit with: sbatch {path}")
    return 0
