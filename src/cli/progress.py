"""The progress line: on a terminal only, once a run has taken a moment."""

import sys
import time


def duration(seconds):
    minutes, seconds = divmod(int(seconds + 0.5), 60)
    hours, minutes = divmod(minutes, 60)
    return f"{hours}:{minutes:02d}:{seconds:02d}" if hours else f"{minutes}:{seconds:02d}"


class Progress:
    DELAY = 0.5
    INTERVAL = 0.1

    def __init__(self, verb, total, shown=True, stream=None, clock=time.monotonic):
        self.verb, self.total, self.done = verb, total, 0
        self.stream = sys.stderr if stream is None else stream
        self.clock = clock
        self.start = self.last = clock()
        self.enabled = shown and self.stream.isatty()
        self.width = 0

    def advance(self, count):
        self.done += count
        now = self.clock()
        if not self.enabled or now - self.start < self.DELAY or now - self.last < self.INTERVAL:
            return
        self.last = now
        line = self.line(now - self.start)
        self.stream.write("\r" + line.ljust(self.width))
        self.stream.flush()
        self.width = len(line)

    def line(self, elapsed):
        rate = self.done / elapsed
        left = (self.total - self.done) / rate if rate else 0.0
        percent = 100 * self.done // max(self.total, 1)
        return (f"{self.verb} {self.done}/{self.total} files ({percent}%), "
                f"{rate:,.0f} files/s, {duration(left)} left")

    def close(self):
        if self.width:
            self.stream.write("\r" + " " * self.width + "\r")
            self.stream.flush()
