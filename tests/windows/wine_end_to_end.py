#!/usr/bin/env python3
"""Drives the Windows program under Wine from the Linux side, each case beside the Linux
program on the same files: outputs must be byte-identical and messages the same but for the
path delimiter. Usage: wine_end_to_end.py --windows tarvix.exe --linux tarvix [--case NAME]."""

import argparse
import os
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time

WINE_ENV = dict(os.environ, WINEDEBUG="-all")
# Wine shows a Windows program ended by Ctrl-C (STATUS_CONTROL_C_EXIT, 0xC000013A) with the
# status's low byte.
CONTROL_C_STATUS = 0xC000013A & 0xFF


def wav_bytes(bits, channels, frames, seed):
    """A PCM WAV file of pseudo-random samples: the same bytes on every run."""
    width = bits // 8
    state = seed * 2654435761 % 2**32 or 1
    data = bytearray()
    for _ in range(frames * channels):
        state = (state * 1103515245 + 12345) % 2**31
        value = state >> (31 - bits) if bits < 31 else state << 1
        data += (value & (2**bits - 1)).to_bytes(width, "little")
    rate = 44100
    fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * channels * width, channels * width, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    # No pad byte after odd data: the program writes none either, so files come back whole.
    body += b"data" + struct.pack("<I", len(data)) + bytes(data)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def write(path, content):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as out:
        out.write(content)


def read(path):
    with open(path, "rb") as source:
        return source.read()


def win(path):
    return path.replace("/", "\\")


class Programs:
    def __init__(self, windows, linux):
        self.windows = windows
        self.linux = linux

    def run_windows(self, args, cwd, stdin=None):
        # Output goes to files, not pipes: Wine's helper processes, started by the first program
        # that needs them, inherit its handles and could keep a pipe open long after it ended.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            done = subprocess.run(["wine", self.windows] + args, cwd=cwd, env=WINE_ENV,
                                  input=stdin, stdout=out, stderr=err, timeout=600)
            out.seek(0)
            err.seek(0)
            return done.returncode, out.read(), err.read()

    def run_linux(self, args, cwd, stdin=None):
        done = subprocess.run([self.linux] + args, cwd=cwd, input=stdin, capture_output=True,
                              timeout=600)
        return done.returncode, done.stdout, done.stderr


class Case:
    """One scenario in a fresh folder, with a folder for each program where it compares them."""

    def __init__(self, programs, root):
        self.p = programs
        self.root = root
        self.failures = []

    def folder(self, name):
        path = os.path.join(self.root, name)
        os.makedirs(path, exist_ok=True)
        return path

    def expect(self, condition, what):
        if not condition:
            self.failures.append(what)

    def expect_equal(self, got, wanted, what):
        if got != wanted:
            self.failures.append(f"{what}: got {got!r}, wanted {wanted!r}")

    def both(self, setup, windows_args, linux_args=None, stdin=None):
        """Runs both programs on copies of one layout; returns (windows, linux) results and
        folders. Windows output has its delimiters turned back for the comparison."""
        wdir, ldir = self.folder("windows"), self.folder("linux")
        for base in (wdir, ldir):
            setup(base)
        w = self.p.run_windows(windows_args, wdir, stdin)
        l = self.p.run_linux(linux_args if linux_args is not None else
                             [a.replace("\\", "/") for a in windows_args], ldir, stdin)
        return w, l, wdir, ldir

    def again(self, args, wdir, ldir):
        """Both programs once more, in the folders of an earlier run."""
        return (self.p.run_windows(args, wdir),
                self.p.run_linux([a.replace("\\", "/") for a in args], ldir))

    def expect_same_messages(self, w, l, what):
        self.expect_equal(w[0], l[0], what + " status")
        self.expect_equal(w[1].replace(b"\\", b"/"), l[1], what + " standard output")
        self.expect_equal(w[2].replace(b"\\", b"/"), l[2], what + " standard error")

    def expect_same_trees(self, wdir, ldir, what, unlike=()):
        wfiles, lfiles = tree(wdir), tree(ldir)
        for name in unlike:  # inputs written for each system in its own way
            wfiles.pop(name, None)
            lfiles.pop(name, None)
        self.expect_equal(sorted(wfiles), sorted(lfiles), what + " names")
        for name in set(wfiles) & set(lfiles):
            if wfiles[name] != lfiles[name]:
                self.failures.append(f"{what}: {name} differs between the programs")


def tree(base):
    files = {}
    for folder, _, names in os.walk(base):
        for name in names:
            path = os.path.join(folder, name)
            files[os.path.relpath(path, base)] = read(path)
    return files


# A corpus of every width, one to six channels and odd lengths.
CORPUS = [(bits, channels, frames) for bits in (8, 16, 24, 32) for channels in range(1, 7)
          for frames in (1, 511, 4097)]


def make_corpus(base):
    for index, (bits, channels, frames) in enumerate(CORPUS):
        write(os.path.join(base, "corpus", f"w{bits}_c{channels}_f{frames}.wav"),
              wav_bytes(bits, channels, frames, index + 1))


def case_corpus_is_byte_identical(c):
    w, l, wdir, ldir = c.both(make_corpus, ["-w2n", "-rec", "corpus", "ncw"])
    c.expect_same_messages(w, l, "to NCW")
    c.expect_same_messages(*c.again(["-n2w", "-verify", "-rec", "ncw", "back"], wdir, ldir),
                           "back to WAV")
    c.expect_same_trees(wdir, ldir, "corpus")
    for name in os.listdir(os.path.join(wdir, "corpus")):
        c.expect(read(os.path.join(wdir, "corpus", name)) ==
                 read(os.path.join(wdir, "back", name)), f"{name} came back changed")


def case_backslashes_and_drive_letters(c):
    wdir = c.folder("windows")
    write(os.path.join(wdir, "Kit", "KICK.wav"), wav_bytes(16, 2, 1000, 7))
    drive = "Z:" + win(wdir)  # Wine shows the Linux root as Z:
    runs = [
        (["Kit\\KICK.wav"], "Kit/KICK.ncw"),
        (["Kit/KICK.wav", "Kit\\slash.ncw"], "Kit/slash.ncw"),
        ([drive + "\\Kit\\KICK.wav", drive + "\\Kit\\absolute.ncw"], "Kit/absolute.ncw"),
        (["Z:Kit\\KICK.wav", "Z:Kit\\drive-relative.ncw"], "Kit/drive-relative.ncw"),
    ]
    for args, output in runs:
        status, out, err = c.p.run_windows(args, wdir)
        c.expect_equal(status, 0, f"{args} status ({err!r})")
        c.expect(os.path.exists(os.path.join(wdir, output)), f"{args} made no {output}")
        c.expect(b"/" not in out.replace(b"Kit/KICK", b""), f"{args} printed '/': {out!r}")
    status, out, _ = c.p.run_windows(["-w2n", "-rec", "Kit", "Out\\Deeper"], wdir)
    c.expect_equal(status, 0, "directory mode status")
    c.expect(b"Kit\\KICK.wav..." in out, f"found paths are written with '\\': {out!r}")
    c.expect(os.path.exists(os.path.join(wdir, "Out", "Deeper", "KICK.ncw")), "mirrored output")
    # A drive alone is its current folder: the found names keep that form.
    drive_only = c.folder("drive-only")
    write(os.path.join(drive_only, "x.wav"), wav_bytes(16, 1, 100, 8))
    status, out, _ = c.p.run_windows(["-w2n", "Z:"], drive_only)
    c.expect_equal((status, out.splitlines()[0]), (0, b"Z:x.wav..."), "directory mode on 'Z:'")
    c.expect(os.path.exists(os.path.join(drive_only, "x.ncw")), "output in the drive's folder")


def case_letter_case_collisions(c):
    wdir = c.folder("windows")
    write(os.path.join(wdir, "Kit", "kick.wav"), wav_bytes(16, 1, 300, 3))
    write(os.path.join(wdir, "Kit", "KICK.NCW"), b"kept")
    status, out, _ = c.p.run_windows(["Kit\\kick.wav"], wdir)
    c.expect_equal(status, 0, "status")
    c.expect(b"  note: 'Kit\\kick.ncw' exists; written as 'Kit\\kick_1.ncw'" in out,
             f"numbered as the name exists in another case: {out!r}")
    c.expect_equal(read(os.path.join(wdir, "Kit", "KICK.NCW")), b"kept", "existing file")
    c.expect(os.path.exists(os.path.join(wdir, "Kit", "kick_1.ncw")), "numbered output")
    status, out, _ = c.p.run_windows(["-skip", "Kit\\kick.wav"], wdir)
    c.expect(b"skipped" in out, f"-skip passes over a name taken in another case: {out!r}")


UNICODE_NAMES = ["Caf\u00e9 cr\u00e8me", "\u65e5\u672c\u8a9e", "\U0001f3b9 keys", "\u0411\u0430\u0441"]


def case_unicode_names(c):
    def setup(base):
        for index, name in enumerate(UNICODE_NAMES):
            write(os.path.join(base, "Lib", name, name + ".wav"), wav_bytes(24, 2, 257, index))
    w, l, wdir, ldir = c.both(setup, ["-w2n", "-rec", "Lib", "Out"])
    c.expect_same_messages(w, l, "directory mode")
    c.expect_same_trees(wdir, ldir, "unicode outputs")
    for name in UNICODE_NAMES:
        c.expect(name.encode() in w[1], f"{name} printed as UTF-8 on a pipe")
        single = os.path.join("Lib", name, name + ".wav")
        status, _, err = c.p.run_windows(["-rw", win(single)], wdir)
        c.expect_equal(status, 0, f"file mode on {name} ({err!r})")


def case_names_longer_than_260(c):
    parts = [f"a-folder-with-a-long-name-{level:02d}" for level in range(10)]
    relative = os.path.join(*parts)
    def setup(base):
        write(os.path.join(base, relative, "kick.wav"), wav_bytes(16, 2, 2000, 11))
    w, l, wdir, ldir = c.both(setup, ["-w2n", "-rec", parts[0], "Out"])
    c.expect(len(os.path.join(wdir, "Out", relative, "kick.ncw")) > 300, "a long name")
    c.expect_same_messages(w, l, "directory mode")
    c.expect_same_trees(wdir, ldir, "long names")
    status, _, err = c.p.run_windows([win(os.path.join(relative, "kick.wav"))], wdir)
    c.expect_equal(status, 0, f"file mode ({err!r})")
    c.expect(os.path.exists(os.path.join(wdir, relative, "kick.ncw")), "file mode output")


def case_list_files(c):
    def setup(base):
        write(os.path.join(base, "Kit", "a.wav"), wav_bytes(16, 2, 100, 1))
        write(os.path.join(base, "Kit", "sub", "b.wav"), wav_bytes(8, 1, 101, 2))
        write(os.path.join(base, "Kit", "\u00e9t\u00e9.wav"), wav_bytes(24, 1, 99, 3))
    names = ["Kit\\a.wav", "Kit/sub\\b.wav", "Kit\\\u00e9t\u00e9.wav", "Kit\\missing.wav"]
    wdir, ldir = c.folder("windows"), c.folder("linux")
    setup(wdir)
    setup(ldir)
    write(os.path.join(wdir, "list.txt"), b"\xef\xbb\xbf" + "\r\n".join(names).encode() + b"\r\n")
    write(os.path.join(ldir, "list.txt"), "\n".join(n.replace("\\", "/") for n in names).encode())
    w = c.p.run_windows(["-w2n", "-l", "list.txt"], wdir)
    l = c.p.run_linux(["-w2n", "-l", "list.txt"], ldir)
    c.expect_same_messages(w, l, "list mode")
    c.expect_same_trees(wdir, ldir, "list mode outputs", unlike=["list.txt"])


def case_read_only_target_with_rw(c):
    def setup(base):
        write(os.path.join(base, "Kit", "KICK.wav"), wav_bytes(16, 2, 100, 5))
        write(os.path.join(base, "Kit", "KICK.ncw"), b"kept")
        os.chmod(os.path.join(base, "Kit", "KICK.ncw"), stat.S_IRUSR | stat.S_IRGRP)
    w, l, wdir, _ = c.both(setup, ["-rw", "Kit\\KICK.wav"])
    c.expect_same_messages(w, l, "-rw over a read-only file")
    c.expect_equal(w[0], 1, "status")
    c.expect_equal(read(os.path.join(wdir, "Kit", "KICK.ncw")), b"kept", "read-only file")


def case_skip_reruns(c):
    w, l, wdir, ldir = c.both(make_corpus, ["-w2n", "-rec", "corpus", "out"])
    c.expect_same_messages(w, l, "first run")
    w, l = c.again(["-skip", "-w2n", "-rec", "corpus", "out"], wdir, ldir)
    c.expect_same_messages(w, l, "rerun with -skip")
    c.expect(f"{len(CORPUS)} skipped".encode() in w[1], f"everything skipped: {w[1][-200:]!r}")
    c.expect_same_trees(wdir, ldir, "after the rerun")


def case_pipes(c):
    source = wav_bytes(16, 2, 5000, 9)
    wdir, ldir = c.folder("windows"), c.folder("linux")
    w = c.p.run_windows(["-", "piped.ncw"], wdir, stdin=source)
    l = c.p.run_linux(["-", "piped.ncw"], ldir, stdin=source)
    c.expect_same_messages(w, l, "standard input")
    c.expect_same_trees(wdir, ldir, "from standard input")
    status, out, _ = c.p.run_windows(["piped.ncw", "-"], wdir)
    c.expect_equal(status, 0, "to standard output")
    c.expect(out == source, "standard output carries the WAV file, byte for byte")


def big_source(base, copies):
    """A few hundred megabytes behind several names, so that a run lasts long enough to be
    stopped midway."""
    frames = 36_000_000
    block = wav_bytes(24, 2, 4096, 1)[44:]
    first = os.path.join(base, "big0.wav")
    with open(first, "wb") as out:
        data = frames * 6
        out.write(wav_bytes(24, 2, 0, 0)[:44])
        written = 0
        while written < data:
            piece = block[: data - written]
            out.write(piece)
            written += len(piece)
        out.seek(0)
        out.write(b"RIFF" + struct.pack("<I", 36 + data))
        out.seek(40)
        out.write(struct.pack("<I", data))
    names = ["big0.wav"]
    for index in range(1, copies):
        os.link(first, os.path.join(base, f"big{index}.wav"))
        names.append(f"big{index}.wav")
    return names


def case_stopped_runs_leave_no_temporary_file(c):
    for how, sig in (("killed", signal.SIGKILL), ("interrupted", signal.SIGINT)):
        base = c.folder(how)
        names = big_source(base, 4)
        process = subprocess.Popen(["wine", c.p.windows, "-j1"] + names, cwd=base, env=WINE_ENV,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 60
        while time.time() < deadline and not any(n.endswith(".tmp") for n in os.listdir(base)):
            time.sleep(0.05)
        c.expect(any(n.endswith(".tmp") for n in os.listdir(base)), f"{how}: a run in progress")
        time.sleep(0.3)
        process.send_signal(sig)
        status = process.wait(timeout=60)
        if sig == signal.SIGINT:
            c.expect_equal(status, CONTROL_C_STATUS, f"{how}: status")
        time.sleep(0.5)  # the Wine server closes the handles of a killed process
        left = [n for n in os.listdir(base) if n.endswith(".tmp")]
        c.expect_equal(left, [], f"{how}: temporary files left")
        finished = [n for n in os.listdir(base) if n.endswith(".ncw")]
        c.expect(len(finished) < len(names), f"{how}: stopped before the end")
        shutil.rmtree(base)


CASES = {name[len("case_"):]: function for name, function in sorted(globals().items())
         if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows", required=True)
    parser.add_argument("--linux", required=True)
    parser.add_argument("--case", action="append")
    args = parser.parse_args()
    for program in (args.windows, args.linux):
        if not os.path.exists(program):
            sys.exit(f"no program at {program}: build it first")
    programs = Programs(os.path.abspath(args.windows), os.path.abspath(args.linux))
    failed = 0
    for name in args.case or CASES:
        root = tempfile.mkdtemp(prefix="tarvix-wine-")
        case = Case(programs, root)
        started = time.time()
        try:
            CASES[name](case)
        except Exception as error:  # a case that breaks is a failure, not the end of the run
            case.failures.append(f"raised {error!r}")
        finally:
            shutil.rmtree(root, ignore_errors=True)
        verdict = "ok" if not case.failures else "FAILED"
        print(f"[{verdict}] {name} ({time.time() - started:.1f} s)")
        for failure in case.failures:
            print("    " + failure)
        failed += bool(case.failures)
    print(f"{len(args.case or CASES) - failed} of {len(args.case or CASES)} cases passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
