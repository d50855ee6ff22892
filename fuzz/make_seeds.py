#!/usr/bin/env python3
"""Adds the seed inputs to the corpora under fuzz/corpus/ (files named seed-*; the rest of a
corpus is what fuzzing added and merging kept): small WAV files made by sox, NCW files converted
from them by the release build of the program (cmake --workflow --preset release), a few NCW
files with what only a reader meets (sum/difference blocks, Bits 0, the older signature), list
files of both forms, and command-line inputs that pack these files (see fuzz_command_line.cpp).
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TARVIX = os.path.join(ROOT, "build", "release", "tarvix")
CORPUS = os.path.join(HERE, "corpus")


def sox_wav(path, bits, channels, frames, signal, kind="wav"):
    encoding = "unsigned-integer" if bits == 8 else "signed-integer"
    subprocess.run(["sox", "-r", "22050", "-n", "-r", "22050", "-b", str(bits), "-c", str(channels), "-e", encoding,
                    "-t", kind, path, "synth", f"{frames}s"] + signal, check=True)
    with open(path, "rb") as f:
        return f.read()


def with_valid_bits(wav, valid):
    """An extensible header with another wValidBitsPerSample (24 bits in 32-bit containers)."""
    data = bytearray(wav)
    struct.pack_into("<H", data, 38, valid)
    return bytes(data)


def with_odd_chunk(wav, pad):
    """A 'junk' chunk of odd size between fmt and data, with or without its pad byte."""
    fmt_end = 20 + struct.unpack_from("<I", wav, 16)[0]
    chunk = b"junk" + struct.pack("<I", 3) + b"abc" + (b"\0" if pad else b"")
    data = bytearray(wav[:fmt_end] + chunk + wav[fmt_end:])
    struct.pack_into("<I", data, 4, len(data) - 8)
    return bytes(data)


def chunk_before_fmt(wav, chunk_id, body):
    """A chunk between "WAVE" and "fmt " (JUNK, bext), with its pad byte."""
    chunk = chunk_id + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")
    data = bytearray(wav[:12] + chunk + wav[12:])
    struct.pack_into("<I", data, 4, len(data) - 8)
    return bytes(data)


def fmt18(wav):
    """The 16-byte PCM fmt chunk as the common 18-byte form with cbSize 0."""
    data = bytearray(wav[:36] + b"\0\0" + wav[36:])
    struct.pack_into("<I", data, 16, 18)
    struct.pack_into("<I", data, 4, len(data) - 8)
    return bytes(data)


def streamed(wav, riff_size, data_size, pad=False):
    """Sizes that a writer to a pipe leaves (ffmpeg 0xFFFFFFFF, sox 0x7FFFF000), and the pad
    byte sox writes after data of odd length."""
    data = bytearray(wav + (b"\0" if pad else b""))
    struct.pack_into("<I", data, 4, riff_size)
    struct.pack_into("<I", data, wav.index(b"data") + 4, data_size)
    return bytes(data)


def nopad_before_data():
    """An odd LIST chunk without its pad byte right before data that starts with a zero byte."""
    fmt = struct.pack("<HHIIHH", 1, 1, 44100, 88200, 2, 16)
    samples = [0] * 10 + list(range(1, 523))
    pcm = struct.pack("<%dh" % len(samples), *samples)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt + b"LIST" + struct.pack("<I", 5) + b"INFOx"
            + b"data" + struct.pack("<I", len(pcm)) + pcm)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def to_rf64(wav):
    """The RIFF file as RF64: a ds64 chunk after "WAVE" holds the sizes, the 32-bit ones are
    0xFFFFFFFF."""
    data_at = wav.index(b"data")
    data_size = struct.unpack_from("<I", wav, data_at + 4)[0]
    ds64 = b"ds64" + struct.pack("<IQQQI", 28, 0, data_size, 0, 0)
    out = bytearray(b"RF64" + struct.pack("<I", 0xFFFFFFFF) + b"WAVE" + ds64 + wav[12:])
    struct.pack_into("<Q", out, 20, len(out) - 8)
    struct.pack_into("<I", out, data_at + len(ds64) + 4, 0xFFFFFFFF)
    return bytes(out)


def tagged(wav):
    """Chunks an NCW file cannot keep: a LIST before the data, loop points and an identifier of
    control bytes after it."""
    fmt_end = 20 + struct.unpack_from("<I", wav, 16)[0]
    info = b"INFOISFT" + struct.pack("<I", 6) + b"tarvix"
    after = (b"smpl" + struct.pack("<I", 36) + bytes(36) + b"\x1b[2J" + struct.pack("<I", 3) + b"esc\0"
             + b"cue " + struct.pack("<I", 4) + bytes(4))
    data = bytearray(wav[:fmt_end] + b"LIST" + struct.pack("<I", len(info)) + info + wav[fmt_end:] + after)
    struct.pack_into("<I", data, 4, len(data) - 8)
    return bytes(data)


def reader_forms(wavs, work):
    """Well-formed files in the forms that only some writers make."""
    s16 = wavs["s16_stereo_300"]
    forms = {
        "s16_junk_before_fmt": chunk_before_fmt(s16, b"JUNK", bytes(28)),
        "s16_bext_odd_before_fmt": chunk_before_fmt(s16, b"bext", b"odd"),
        "s16_fmt18": fmt18(s16),
        "s16_ffmpeg_pipe_sizes": streamed(s16, 0xFFFFFFFF, 0xFFFFFFFF),
        "u8_sox_pipe_sizes_pad": streamed(sox_wav(os.path.join(work, "a.wav"), 8, 1, 301, ["sine", "440"]),
                                          0x7FFFF024, 0x7FFFF000, pad=True),
        "s16_trailing_bytes": s16 + b"TAG\x01\x02\x03",
        "s16_cut_inside_frame": s16[:len(s16) - 3],
        "s16_nopad_before_data": nopad_before_data(),
        "s32_pcm_stereo_300": sox_wav(os.path.join(work, "a.wav"), 32, 2, 300, ["sine", "440"], "wavpcm"),
    }
    return forms | channel_and_container_forms(work)


def channel_and_container_forms(work):
    """Up to six channels, valid bits below the container, RF64, metadata chunks and float (which
    is refused, by name)."""
    tone = ["sine", "440"]
    s16 = sox_wav(os.path.join(work, "a.wav"), 16, 2, 300, tone, "wavpcm")
    return {
        "s16_6ch_extensible_300": sox_wav(os.path.join(work, "a.wav"), 16, 6, 300, tone),
        "u8_3ch_pcm_200": sox_wav(os.path.join(work, "a.wav"), 8, 3, 200, tone, "wavpcm"),
        "s24in32_4ch_100": with_valid_bits(sox_wav(os.path.join(work, "a.wav"), 32, 4, 100, tone), 24),
        "s20in24_stereo_300": with_valid_bits(sox_wav(os.path.join(work, "a.wav"), 24, 2, 300, tone), 20),
        "s16_rf64_stereo_300": to_rf64(s16),
        "s16_tagged_stereo_300": tagged(s16),
        "f32_stereo_100": subprocess.run(
            ["sox", "-n", "-r", "22050", "-e", "floating-point", "-b", "32", "-c", "2", "-t", "wav", "-",
             "synth", "100s", "sine", "440"], check=True, capture_output=True).stdout,
    }


def to_ncw(wav, work):
    src = os.path.join(work, "in.wav")
    out = os.path.join(work, "out.ncw")
    with open(src, "wb") as f:
        f.write(wav)
    if os.path.exists(out):
        os.remove(out)
    subprocess.run([TARVIX, "-rw", src, out], check=True, stdout=subprocess.DEVNULL)
    with open(out, "rb") as f:
        return f.read()


def channel_blocks(ncw):
    """(offset, header) of every channel block, walking the block table."""
    channels, bits = struct.unpack_from("<HH", ncw, 8)
    frames, table, data_offset = struct.unpack_from("<III", ncw, 16)
    entries = (data_offset - table) // 4
    result = []
    for k in range(entries - 1):
        pos = data_offset + struct.unpack_from("<i", ncw, table + 4 * k)[0]
        for _ in range(channels):
            width = struct.unpack_from("<h", ncw, pos + 8)[0]
            result.append(pos)
            pos += 16 + 64 * (abs(width) if width != 0 else bits)
    return result


def sum_difference(ncw):
    """ChannelMode 1 in the second channel block of every block: the pair is then read as
    sum and difference, which the encoder never writes."""
    data = bytearray(ncw)
    blocks = channel_blocks(ncw)
    for pos in blocks[1::2]:
        struct.pack_into("<H", data, pos + 10, 1)
    return bytes(data)


def old_signature(ncw):
    data = bytearray(ncw)
    data[4] = 0x30
    return bytes(data)


def bits_zero(ncw):
    """Plain blocks written with Bits 0, which a reader takes as plain at the container width."""
    data = bytearray(ncw)
    bits = struct.unpack_from("<H", ncw, 10)[0]
    for pos in channel_blocks(ncw):
        if struct.unpack_from("<h", ncw, pos + 8)[0] == -bits:
            struct.pack_into("<h", data, pos + 8, 0)
    return bytes(data)


def pack_command_line(options, flags, files, rest=b""):
    """files: (name byte, content) pairs; see the layout in fuzz_command_line.cpp."""
    out = bytes([options]) + bytes(flags) + bytes([len(files) - 1])
    for name, content in files:
        out += bytes([name]) + struct.pack("<H", len(content)) + content
    return out + rest


FLAG = {f: i for i, f in enumerate(
    ["-r", "-rec", "-rw", "-rewrite", "-w2n", "-n2w", "-whs", "-whe", "-wha", "-l"])}


def options(flags, mode, terminal=False, opt1=False, opt2=False):
    return len(flags) | mode << 3 | terminal << 5 | opt1 << 6 | opt2 << 7


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def main():
    if not os.path.exists(TARVIX):
        sys.exit("build the program first: cmake --workflow --preset release")
    random.seed(1)
    work = tempfile.mkdtemp()
    try:
        tone = ["sine", "440"]
        pair = ["sine", "440", "whitenoise", "vol", "0.3"]
        wavs = {
            "u8_mono_300": sox_wav(os.path.join(work, "a.wav"), 8, 1, 300, tone),
            "u8_stereo_700": sox_wav(os.path.join(work, "a.wav"), 8, 2, 700, pair),
            "s16_mono_1024": sox_wav(os.path.join(work, "a.wav"), 16, 1, 1024, tone),
            "s16_stereo_300": sox_wav(os.path.join(work, "a.wav"), 16, 2, 300, pair),
            "s24_mono_700": sox_wav(os.path.join(work, "a.wav"), 24, 1, 700, ["whitenoise"]),
            "s24_stereo_300": sox_wav(os.path.join(work, "a.wav"), 24, 2, 300, pair),
            "s32_mono_300": sox_wav(os.path.join(work, "a.wav"), 32, 1, 300, tone),
            "s16_silence_600": sox_wav(os.path.join(work, "a.wav"), 16, 1, 600, ["sine", "0", "vol", "0"]),
        }
        wavs["s24in32_stereo_300"] = with_valid_bits(
            sox_wav(os.path.join(work, "a.wav"), 32, 2, 300, pair), 24)
        wavs["s16_odd_chunk_pad"] = with_odd_chunk(wavs["s16_stereo_300"], True)
        wavs["s16_odd_chunk_nopad"] = with_odd_chunk(wavs["s16_stereo_300"], False)
        for name, data in list(wavs.items()) + list(reader_forms(wavs, work).items()):
            write("fuzz_wav_reader", name + ".wav", data)

        ncws = {}
        for name, data in wavs.items():
            ncws[name] = to_ncw(data, work)
        ncws["s16_stereo_300_sumdiff"] = sum_difference(ncws["s16_stereo_300"])
        ncws["u8_mono_300_oldsig"] = old_signature(ncws["u8_mono_300"])
        ncws["s24_mono_700_bits0"] = bits_zero(ncws["s24_mono_700"])
        for name, data in ncws.items():
            write("fuzz_ncw_decoder", name + ".ncw", data)

        for i, size in enumerate([3, 16, 64, 200, 600, 1500, 3000, 4900]):
            write("fuzz_bits_roundtrip", f"random_{i}", bytes(random.getrandbits(8) for _ in range(size)))

        lists = {
            "list1_lf": b"@tarvixlist1\na.wav\nsub/b.ncw\n",
            "list2_crlf": b"@tarvixlist2\r\na.wav\r\nout/a.ncw\r\nb.NCW\r\nb.wav\r\n",
            "list1_blanks_cr": b"  \t\r@tarvixlist1\r\r  c d.WAV \t\rx.Ncw",
            "list2_odd": b"@tarvixlist2\na.wav\n",
            "list2_case": b"@tarvixlist2\na.wav\na.NCW\n",
            "list_bad_ext": b"@tarvixlist1\na.txt\n",
            "list_no_magic": b"a.wav\nb.ncw\n",
            "list_nul": b"@tarvixlist1\na.wav\0b.wav\n",
        }
        for name, data in lists.items():
            write("fuzz_list_file", name, data)

        w16, w24, w8 = wavs["s16_stereo_300"], wavs["s24_mono_700"], wavs["u8_mono_300"]
        n16, n24, nsd = ncws["s16_stereo_300"], ncws["s24_mono_700"], ncws["s16_stereo_300_sumdiff"]
        name = lambda base, ext=0, folder=0, missing=False: base | ext << 3 | folder << 5 | missing << 7
        cases = {
            # file mode: one WAV; WAV, its output name, another WAV; NCW files to WAV, extended
            "file_wav": pack_command_line(options([], 0), [], [(name(0), w16)]),
            "file_wav_outputs": pack_command_line(
                options([FLAG["-rw"]], 0, opt1=True), [FLAG["-rw"]],
                [(name(0), w16), (name(1, folder=1), w24)]),
            "file_ncw_terminal": pack_command_line(
                options([FLAG["-whe"]], 0, terminal=True), [FLAG["-whe"]],
                [(name(2), n16), (name(4, ext=1), n24), (name(0, missing=True), nsd)]),
            "file_ncw_auto": pack_command_line(options([FLAG["-wha"]], 0), [FLAG["-wha"]],
                                               [(name(3), n24), (name(0), nsd)]),
            # directory mode: recursive WAV to NCW into another folder; NCW to WAV in place
            "dir_w2n_recursive": pack_command_line(
                options([FLAG["-w2n"], FLAG["-r"]], 1, opt1=True), [FLAG["-w2n"], FLAG["-r"]],
                [(name(0), w16), (name(1, folder=1), w8), (name(2, folder=2), w24)]),
            "dir_n2w": pack_command_line(
                options([FLAG["-n2w"], FLAG["-rec"]], 1, terminal=True, opt1=True, opt2=True),
                [FLAG["-n2w"], FLAG["-rec"]], [(name(0), n16), (name(5, folder=3), n24)]),
            "dir_no_direction": pack_command_line(options([], 1), [], [(name(0), w16)]),
            # list mode: names; pairs with CR LF; a name converted and then its output converted
            "list1": pack_command_line(options([FLAG["-l"]], 2), [FLAG["-l"]],
                                       [(name(0), w16), (name(1), n24)]),
            "list2_crlf": pack_command_line(
                options([FLAG["-l"], FLAG["-rw"]], 2, opt1=True, opt2=True),
                [FLAG["-l"], FLAG["-rw"]], [(name(0), w24), (name(6, folder=1), nsd)]),
            "list1_chain": pack_command_line(options([], 2, terminal=True), [],
                                             [(name(0), w8)], b"a.ncw\n a.wav \n\nzz.ncw\n"),
        }
        for case, data in cases.items():
            write("fuzz_command_line", case, data)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
