"""What /proc tells of a running process, for the tests and the benchmarks."""

import os


def rss_anon_kb(pid):
    """The process's resident anonymous memory: its heaps and stacks, not the files it maps."""
    with open(f"/proc/{pid}/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("RssAnon:"))


def thread_count(pid):
    return len(os.listdir(f"/proc/{pid}/task"))
