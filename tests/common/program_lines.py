"""A program a black-box test starts, its standard output read line by line on a thread of its own,
so that a test can wait for a line with a deadline instead of sleeping."""

import queue
import re
import signal
import subprocess
import threading
import time


class ProgramLines:
    """`proc` is the process; `seen` holds, in order, every line a wait has taken so far."""

    def __init__(self, command, deadline):
        self.deadline = deadline  # seconds allowed for anything the program should do promptly
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        self.seen = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))

    def wait_for_line(self, pattern, timeout=None, after=0):
        """The first line matching `pattern` among those from index `after` on."""
        regex = re.compile(pattern)
        for line in self.seen[after:]:
            if regex.search(line):
                return line
        end = time.monotonic() + (self.deadline if timeout is None else timeout)
        while True:
            left = end - time.monotonic()
            if left <= 0:
                raise AssertionError(f"no line matching {pattern!r}; saw {self.seen!r}")
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            self.seen.append(line)
            if regex.search(line):
                return line

    def stop(self, sig=signal.SIGTERM):
        """Sends `sig` and returns the exit status; a program that does not end in time is killed."""
        self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout=self.deadline)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.reader.join(timeout=self.deadline)
        self.proc.stdout.close()
        self.proc.stderr.close()
