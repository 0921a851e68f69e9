#!/usr/bin/env python3
"""Transcription benchmark: real-time factor and peak memory of
`quorvane-capture transcribe` on long synthetic speech, on every core against
the same build on one core (`taskset -c 0`) in the same call, and word error
rate on flite speech and on the LibriVox clips of pocketsphinx-testdata, side
by side with pocketsphinx's own command-line decoder on the same files.

usage: bench/transcribe/run.py [path/to/quorvane-capture] [minutes]
                               [--speed-only | --accuracy-only]
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FLAGS = [a for a in sys.argv[1:] if a.startswith("--")]
ARGS = [a for a in sys.argv[1:] if not a.startswith("--")]
CAPTURE = ARGS[0] if ARGS else os.path.join(HERE, "../../build/capture/quorvane-capture")
MINUTES = float(ARGS[1]) if len(ARGS) > 1 else 10.0
MODEL = "/usr/share/pocketsphinx/model/en-us"
LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"

SENTENCES = [
    "the quick brown fox jumps over the lazy dog",
    "open the window and let the fresh air into the room",
    "the weather today is sunny with a light breeze from the west",
    "please bring the red book back to the library before friday",
    "the children played in the park until the sun went down",
    "he drove the car to the city and parked it near the bank",
    "my brother works at the hospital as a doctor",
    "we bought fresh bread and milk at the market this morning",
    "the meeting starts at ten and ends before lunch",
    "she wrote a long letter to her friend in london",
    "the train was late because of the heavy snow",
    "turn left at the next corner and walk two blocks",
    "the old house on the hill has a large garden",
    "they are going to visit their parents next week",
    "the teacher asked the students to read the first chapter",
    "it is important to drink water when you exercise",
    "the music was so loud that nobody could hear a thing",
    "we watched a movie about a family that lived on a farm",
    "the company will open a new office in the spring",
    "i would like a cup of coffee with a little sugar",
]


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, check=True, **kw)


def words_of(text):
    return re.sub(r"[^a-z' ]", " ", text.lower()).split()


def edit_distance(ref, hyp):
    prev = list(range(len(hyp) + 1))
    for i, r in enumerate(ref, 1):
        cur = [i]
        for j, h in enumerate(hyp, 1):
            cur.append(min(prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (r != h)))
        prev = cur
    return prev[-1]


def ours(path):
    out = run([CAPTURE, "transcribe", path]).stdout
    return [w["text"] for w in json.loads(out)["words"]]


def theirs(path):
    """pocketsphinx_continuous with its defaults and the same model."""
    out = run(["pocketsphinx_continuous", "-infile", path, "-hmm", MODEL + "/en-us",
               "-lm", MODEL + "/en-us.lm.bin", "-dict", MODEL + "/cmudict-en-us.dict",
               "-logfn", "/dev/null"]).stdout
    return [re.sub(r"\(\d+\)$", "", w) for w in out.split()]


def wer(pairs, decoder):
    errors = total = 0
    start = time.monotonic()
    for path, ref in pairs:
        ref_words = words_of(ref)
        hyp = [w for w in (x.lower() for x in decoder(path)) if w]
        errors += edit_distance(ref_words, hyp)
        total += len(ref_words)
    return 100.0 * errors / total, time.monotonic() - start


def measure(path, seconds, one_core):
    """Wall time, CPU time and peak resident memory of one transcription,
    on every core or pinned to the first one."""
    pin = ["taskset", "-c", "0"] if one_core else []
    start = time.monotonic()
    r = subprocess.run([*pin, "/usr/bin/time", "-f", "%U %S %M", CAPTURE, "transcribe", path],
                       capture_output=True, text=True)
    wall = time.monotonic() - start
    user, system, kb = r.stderr.strip().splitlines()[-1].split()
    obj = json.loads(r.stdout)
    assert obj["ok"], obj
    cpu = float(user) + float(system)
    return {"wall": wall, "rtf": wall / seconds, "cpu": cpu / seconds, "mb": int(kb) / 1024.0,
            "words": obj["words"], "duration": obj["duration"]}


def load():
    """The machine's load, and whether the kernel shares processor time by
    session (autogroup): then, on a loaded machine, a session's threads share
    one session's part, and more threads cannot make a run faster."""
    one, five, fifteen = os.getloadavg()
    text = f"load average {one:.2f} {five:.2f} {fifteen:.2f} on {os.cpu_count()} processors"
    try:
        with open("/proc/sys/kernel/sched_autogroup_enabled") as f:
            if f.read().strip() == "1":
                text += "; processor time shared by session (autogroup)"
    except OSError:
        pass
    return text


def speed(clips, work):
    # Long speech: the sentences over and over, with short pauses.
    gap = os.path.join(work, "gap.wav")
    run(["sox", "-n", "-r", "16000", "-c", "1", "-b", "16", gap, "trim", "0", "0.6"])
    one_round = os.path.join(work, "round.wav")
    run(["sox", *[p for c in clips for p in (c[0], gap)], one_round])
    round_len = float(run(["soxi", "-D", one_round]).stdout)
    rounds = max(1, int(MINUTES * 60 / round_len + 0.999))
    longer = os.path.join(work, "long.wav")
    run(["sox", *([one_round] * rounds), longer])
    length = float(run(["soxi", "-D", longer]).stdout)
    short = os.path.join(work, "short.wav")
    run(["sox", *([one_round] * max(1, rounds // 5)), short])
    short_len = float(run(["soxi", "-D", short]).stdout)

    print(f"long clip: {length:.1f} s of flite speech ({rounds} rounds of {len(SENTENCES)} sentences)")
    print(f"  before: {load()}")
    short_run = measure(short, short_len, False)
    print(f"  short {short_len:7.1f} s, every core: real-time factor {short_run['rtf']:.3f} (wall), "
          f"{short_run['cpu']:.3f} (CPU); peak memory {short_run['mb']:.0f} MB")
    # The anchor is the same build on one core (taskset -c 0), in turn with
    # the run on every core, best of two each.
    runs = {True: [], False: []}
    for _ in range(2):
        for one_core in (True, False):
            r = measure(longer, length, one_core)
            runs[one_core].append(r)
            label = "one core (taskset -c 0)" if one_core else "every core"
            print(f"  long  {length:7.1f} s, {label}: real-time factor {r['rtf']:.3f} (wall), "
                  f"{r['cpu']:.3f} (CPU), {r['cpu'] / r['rtf']:.2f} cores busy; "
                  f"peak memory {r['mb']:.0f} MB; {len(r['words'])} words")
    print(f"  after: {load()}")
    best = min(runs[False], key=lambda r: r["wall"])
    anchor = min(runs[True], key=lambda r: r["wall"])
    same = all(r["words"] == anchor["words"] for r in runs[True] + runs[False])
    peak = max(r["mb"] for r in runs[True] + runs[False] + [short_run])
    print(f"  real-time factor, long clip, every core (best of two): {best['rtf']:.3f}   goal <= 0.06")
    print(f"  wall time against one core (best of two each): {best['wall']:.1f} s / "
          f"{anchor['wall']:.1f} s = {best['wall'] / anchor['wall']:.2f}x   goal <= 0.55x")
    print(f"  peak memory, any length: {peak:.0f} MB   goal < 300 MB")
    print(f"  transcripts on one core and on every core identical: {same}")


def accuracy(clips):
    sets = [("flite (20 sentences)", clips, 9.2)]
    if os.path.isdir(LIBRIVOX):
        refs = []
        with open(os.path.join(LIBRIVOX, "transcription")) as f:
            for line in f:
                text, _, name = line.strip().rpartition(" (")
                text = text.replace("<s>", "").replace("</s>", "")
                refs.append((os.path.join(LIBRIVOX, name.rstrip(")") + ".wav"), text))
        sets.append(("LibriVox (pocketsphinx-testdata, 5 clips)", refs, 28.2))
    else:
        print("pocketsphinx-testdata is not installed: LibriVox WER skipped")
    have_theirs = shutil.which("pocketsphinx_continuous") is not None
    for name, pairs, before in sets:
        ours_wer, ours_t = wer(pairs, ours)
        line = f"WER {name}: quorvane {ours_wer:.1f}% ({ours_t:.1f} s), goal <= {before}%"
        if have_theirs:
            theirs_wer, theirs_t = wer(pairs, theirs)
            line += f"; pocketsphinx_continuous {theirs_wer:.1f}% ({theirs_t:.1f} s)"
        print(line)
    if not have_theirs:
        print("pocketsphinx_continuous is not installed (Debian package pocketsphinx): no comparison")


def main():
    work = tempfile.mkdtemp(prefix="quorvane-bench-")
    try:
        clips = []
        for i, text in enumerate(SENTENCES):
            path = os.path.join(work, f"s{i:02}.wav")
            run(["flite", "-voice", "slt", "-t", text, "-o", path])
            clips.append((path, text))
        if "--accuracy-only" not in FLAGS:
            speed(clips, work)
        if "--speed-only" not in FLAGS:
            accuracy(clips)
    finally:
        shutil.rmtree(work, True)


if __name__ == "__main__":
    main()
