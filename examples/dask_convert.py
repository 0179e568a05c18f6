#!/usr/bin/python3
"""Converts a folder of normal maps on a Dask cluster with quorvel.dask.convert_tree.

    examples/dask_convert.py SRC DST [--scheduler tcp://host:8786] [--to directx] [--update]

Without --scheduler it starts a LocalCluster of two workers on this machine.
"""
import argparse
import sys

from distributed import Client, LocalCluster

from quorvel.dask import convert_tree


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("src")
    parser.add_argument("dst")
    parser.add_argument("--scheduler", help="a running scheduler's address (default: a local cluster)")
    parser.add_argument("--to", choices=["opengl", "directx"])
    parser.add_argument("--format", help="the output format (bmp, png, tga, tif, dds)")
    parser.add_argument("--update", action="store_true", help="skip files whose output is up to date")
    arguments = parser.parse_args()

    cluster = None if arguments.scheduler else LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None)
    with Client(arguments.scheduler or cluster) as client:
        report = convert_tree(arguments.src, arguments.dst, client=client, to=arguments.to,
                              format=arguments.format, update=arguments.update)
    if cluster:
        cluster.close()
    print(report.summary, end="")
    for path, message in report.failures.items():
        print(f"failed: {path}: {message}", file=sys.stderr)
    return 1 if report.failures else 0


if __name__ == "__main__":
    sys.exit(main())
