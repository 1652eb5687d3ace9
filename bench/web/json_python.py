#!/usr/bin/env python3
"""python3's json module on the JSON text bench_web builds: json.loads and json.dumps of about
10 MB of arrays of objects, and urllib.parse quote/unquote of 10 MB; prints the median MB/s of
the runs (MB = 2^20 bytes, as Google Benchmark counts them)."""
import json
import statistics
import sys
import time
import urllib.parse

TARGET = 10 * 1024 * 1024


def json_text():
    parts = []
    size = 1
    i = 0
    while size < TARGET:
        n = str(i)
        frac = str(i % 4 * 25) + ("0" if i % 4 == 0 else "")
        rec = ('{"id":' + n + ',"name":"user ' + n + ' \u00e9t\u00e9","score":' + n + '.' + frac +
               ',"active":' + ("true" if i % 2 else "false") + ',"tags":["a' + n + '","b"],"note":null}')
        parts.append(rec)
        size += len(rec.encode()) + (1 if i > 0 else 0)
        i += 1
    return "[" + ",".join(parts) + "]"


def url_text():
    piece = "name=J\u00f6rg & co/ x_1-2.3~ (\u20ac 5) "
    count = -(-TARGET // len(piece.encode()))
    return piece * count


def median_rate(fn, size, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return size / statistics.median(times) / (1024 * 1024)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    doc = json_text()
    data = doc.encode()
    value = json.loads(data)
    encoded_size = len(json.dumps(value, ensure_ascii=False, separators=(",", ":")).encode())
    print("python3 json.loads    %8.1f MB/s" % median_rate(lambda: json.loads(data), len(data), runs))
    print("python3 json.dumps    %8.1f MB/s" % median_rate(
        lambda: json.dumps(value, ensure_ascii=False, separators=(",", ":")).encode(), encoded_size, runs))
    text = url_text()
    raw = text.encode()
    quoted = urllib.parse.quote(raw, safe="-._~")
    print("python3 url quote     %8.1f MB/s" % median_rate(lambda: urllib.parse.quote(raw, safe="-._~"), len(raw), runs))
    print("python3 url unquote   %8.1f MB/s" % median_rate(lambda: urllib.parse.unquote_plus(quoted, errors="strict"),
                                                        len(quoted), runs))


if __name__ == "__main__":
    main()
