"""Command line: `run` reads a list of drawings on a Dask cluster into part files, `gather`
prints the parts as one serial `dxftext --format jsonl --paths-from LIST` would."""

import argparse
import os
import shutil
import sys

from . import plan

USAGE = """\
python3 -m wqdxfrdr_dist run (--scheduler-file FILE | --local N) --out DIR [OPTION]... LIST
                             [-- DXFTEXT_OPTION...]
python3 -m wqdxfrdr_dist gather DIR"""

# Options of dxftext the worker mode sets itself.
RESERVED = ("-f", "--format", "-r", "--records", "--paths-from", "-j", "--jobs", "--timeout",
            "-H", "--with-filename", "--no-filename", "-h", "--help", "-V", "--version")


def reserved(option):
    """Whether a dxftext option is one the worker mode sets, in any spelling (-j4, --jobs=4)."""
    short = option[:1] == "-" and option[1:2] != "-"
    return option.split("=")[0] in RESERVED or (short and option[:2] in RESERVED)


def default_dxftext():
    """dxftext on the PATH, else the one this checkout builds."""
    found = shutil.which("dxftext")
    if found:
        return found
    here = os.path.dirname(os.path.abspath(__file__))
    return os.path.normpath(os.path.join(here, "..", "..", "..", "build", "bin", "dxftext"))


def parser():
    top = argparse.ArgumentParser(prog="python3 -m wqdxfrdr_dist", usage=USAGE,
                                  description=__doc__.split("\n")[0])
    commands = top.add_subparsers(dest="command", required=True)
    run = commands.add_parser(
        "run", help="read LIST into DIR/part-NNNNNN.jsonl, one part per batch",
        description="Reads the drawings LIST names (one path a line) in batches, each a "
                    "task that runs dxftext. Only the parts DIR lacks are read, so a run "
                    "that stopped is finished by running it again. Exit status 0 when "
                    "every part is written, 1 when some are missing, 2 on a usage error.")
    where = run.add_mutually_exclusive_group(required=True)
    where.add_argument("--scheduler-file", metavar="FILE",
                       help="connect to the scheduler this file names (dask scheduler "
                            "--scheduler-file)")
    where.add_argument("--local", metavar="N", type=positive_int,
                       help="start N worker processes on this machine, on 127.0.0.1")
    run.add_argument("--out", metavar="DIR", required=True, help="the folder of the parts")
    run.add_argument("--batch", metavar="N", type=positive_int,
                     help=f"documents per task (default {plan.DEFAULT_BATCH}, or DIR's own)")
    run.add_argument("--timeout", metavar="SECONDS", type=positive_float, default=60.0,
                     help="give up a document after this long (default 60)")
    run.add_argument("--dxftext", metavar="PATH", default=default_dxftext(),
                     help="the dxftext to run (default: on the PATH, else the build's)")
    run.add_argument("--dashboard", action="store_true",
                     help="with --local, serve the dashboard on 127.0.0.1 at a free port")
    run.add_argument("list", metavar="LIST", help="the paths of the drawings, one a line")
    gather = commands.add_parser("gather", help="print the parts of DIR in list order")
    gather.add_argument("out", metavar="DIR")
    return top


def positive_int(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"needs a whole number from 1, not {text}")
    return value


def positive_float(text):
    value = float(text)
    if not value > 0:
        raise argparse.ArgumentTypeError(f"needs a number of seconds above 0, not {text}")
    return value


def gather(out_dir):
    """Copies every part to standard output in order; returns the exit status."""
    manifest = plan.load_manifest(out_dir)
    missing = manifest["parts"] - len(plan.finished_parts(out_dir, manifest["parts"]))
    if missing:
        raise plan.PlanError(f"{out_dir}: {missing} of {manifest['parts']} parts missing: "
                             "finish them with run first")
    out = sys.stdout.buffer
    for part in range(manifest["parts"]):
        with open(os.path.join(out_dir, plan.part_name(part)), "rb") as data:
            shutil.copyfileobj(data, out, 1 << 20)
    out.flush()
    return 0


def main(argv):
    options = []
    if "--" in argv:
        argv, options = argv[:argv.index("--")], argv[argv.index("--") + 1:]
    args = parser().parse_args(argv)
    try:
        if args.command == "gather":
            return gather(args.out)
        clash = [option for option in options if reserved(option)]
        if clash:
            parser().error(f"the worker mode sets {', '.join(clash)} itself")
        args.options = options
        if os.sep in args.dxftext:
            args.dxftext = os.path.abspath(args.dxftext)
        from . import driver  # only run needs Dask
        return driver.run(args)
    except plan.PlanError as error:
        print(f"wqdxfrdr_dist: {error}", file=sys.stderr)
        return 2
    except BrokenPipeError:
        return 1
    except KeyboardInterrupt:
        print("wqdxfrdr_dist: interrupted: run again to read the missing parts", file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
