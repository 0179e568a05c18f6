"""Folder runs spread over a Dask cluster: quorvel-cli --out-dir, one task a file.

    >>> from quorvel.dask import convert_tree
    >>> report = convert_tree("textures", "converted", to="directx")
    >>> print(report.summary, end="")
    24 files: 24 written, 0 failed; 9 converted to directx, 15 unchanged, 0 undecided

The files are found and their outputs planned by quorvel-cli's own folder
run (the same clashes refused, the same output names), ``update=True``
skips a file by its rule (its output exists and is not older than it,
as cp -u decides), every other file is one Dask task that runs quorvel-cli's
per-file road on a worker, and the summary is the line quorvel-cli prints.
Nothing here schedules or retries: that is Dask's.
"""

import collections as _collections
import os as _os

from . import _quorvel

__all__ = ["convert_tree", "TreeReport"]

TreeReport = _collections.namedtuple("TreeReport", "summary written up_to_date failures")
TreeReport.__doc__ = """What convert_tree did: the summary line quorvel-cli prints, the outputs written, the inputs
skipped as up to date, and the failures as a dict of input path to the program's message."""


_heap_settled = False


def _convert_one(sources, destination, source, output, threads_by_host, options):
    # A worker's malloc as a plain process has it (keep_buffers_on_the_heap),
    # once a process.
    global _heap_settled
    if not _heap_settled:
        _quorvel.keep_buffers_on_the_heap()
        _heap_settled = True
    # As quorvel-cli shares the processors out among its workers: each file
    # streams on the cores of its machine over the worker threads there.
    from distributed import get_worker
    try:
        host = get_worker().address.rsplit(":", 1)[0]
    except ValueError:
        host = None
    streams = max(1, (_os.cpu_count() or 1) // max(1, threads_by_host.get(host, 1)))
    return _quorvel.convert_file(sources, destination, source, output, streams, **options)


def _threads_by_host(client):
    threads = {}
    for address, worker in client.scheduler_info()["workers"].items():
        host = address.rsplit(":", 1)[0]
        threads[host] = threads.get(host, 0) + worker.get("nthreads", 1)
    return threads


def convert_tree(src, dst, client=None, recursive=True, **options):
    """Converts every picture under ``src`` (a folder, a file, or a list of them) into ``dst`` as
    ``quorvel-cli --out-dir dst [-r] [options] src`` does, one Dask task per file, on ``client``
    (a distributed.Client) or, without one, on a distributed.LocalCluster made for the run and
    closed after it. Options are quorvel-cli's (to="directx", invert_green=True, format="dds",
    update=True, ...). Returns a TreeReport; raises quorvel.Error for what quorvel-cli refuses as
    usage (no such folder, two inputs to one output, a refused option).
    """
    sources = [_os.fspath(s) for s in (src if isinstance(src, (list, tuple)) else [src])]
    destination = _os.fspath(dst)
    options = dict(options, recursive=recursive)
    planned = _quorvel.plan_tree(sources, destination, **options)

    own = None
    if client is None:
        from distributed import Client, LocalCluster
        own = LocalCluster(processes=True, threads_per_worker=1, dashboard_address=None)
        client = Client(own)
    try:
        work = [(i, source, output) for i, (source, output, fresh) in enumerate(planned) if not fresh]
        hosts = _threads_by_host(client)
        futures = [client.submit(_convert_one, sources, destination, source, output, hosts, options, pure=False)
                   for _, source, output in work]
        results = client.gather(futures)
    finally:
        if own is not None:
            client.close()
            own.close()

    outcomes = [("upToDate", "none") if fresh else None for _, _, fresh in planned]
    written, failures = [], {}
    for (i, source, output), (outcome, conversion, lines) in zip(work, results):
        outcomes[i] = (outcome, conversion)
        if outcome == "done":
            written.append(output)
        else:
            failures[source] = lines[-1] if lines else outcome
    summary = _quorvel.folder_summary(sources, destination, outcomes, **options)
    up_to_date = [source for source, _, fresh in planned if fresh]
    return TreeReport(summary, written, up_to_date, failures)
