#!/usr/bin/env python3
"""Generates base/charset/charset_tables.cpp and tests/data/charsets/reference_*.txt.

Runs on a developer machine that has the mapping sources installed: glibc's iconv modules,
Python's codecs, Perl's Encode and ICU's uconv (Debian icu-devtools). CI builds from the
committed output and never runs this script.

Each table code page is read from one source: every byte (single-byte pages) or every byte
sequence of one to three bytes (multi-byte pages) is decoded on its own, and every BMP code
unit is encoded on its own, so that one-way mappings and the preferred bytes of characters
with several encodings come from the source too. Sequences that decode to more than one
UTF-16 unit, or to a character outside the BMP, are left out: the tables map single units.
IBM 924, which no local source has, is built from glibc's IBM1047 (see LATIN9_OF_LATIN1).

Usage: tools/gen_charset_tables.py [repo root]
"""

import codecs
import ctypes
import ctypes.util
import os
import subprocess
import sys
import zlib

# code page -> (source kind, source name). Kinds: glibc iconv, python codecs, perl Encode,
# icu uconv, and latin9: a glibc page with its Latin-1 repertoire moved to Latin-9.
SINGLE_BYTE = {
    37: ('glibc', 'IBM037'), 437: ('glibc', 'IBM437'), 500: ('glibc', 'IBM500'),
    708: ('glibc', 'ASMO-708'), 720: ('python', 'cp720'), 737: ('glibc', 'CP737'),
    775: ('glibc', 'IBM775'), 850: ('glibc', 'IBM850'), 852: ('glibc', 'IBM852'),
    855: ('glibc', 'IBM855'), 857: ('glibc', 'IBM857'), 858: ('glibc', 'IBM858'),
    860: ('glibc', 'IBM860'), 861: ('glibc', 'IBM861'), 862: ('glibc', 'IBM862'),
    863: ('glibc', 'IBM863'), 864: ('glibc', 'IBM864'), 865: ('glibc', 'IBM865'),
    866: ('glibc', 'IBM866'), 869: ('glibc', 'IBM869'), 870: ('glibc', 'IBM870'),
    874: ('glibc', 'CP874'), 875: ('glibc', 'CP875'), 1026: ('glibc', 'IBM1026'),
    1047: ('glibc', 'IBM1047'),
    1140: ('glibc', 'IBM1140'), 1141: ('glibc', 'IBM1141'), 1142: ('glibc', 'IBM1142'),
    1143: ('glibc', 'IBM1143'), 1144: ('glibc', 'IBM1144'), 1145: ('glibc', 'IBM1145'),
    1146: ('glibc', 'IBM1146'), 1147: ('glibc', 'IBM1147'), 1148: ('glibc', 'IBM1148'),
    1149: ('glibc', 'IBM1149'),
    1250: ('glibc', 'CP1250'), 1251: ('glibc', 'CP1251'), 1252: ('glibc', 'CP1252'),
    1253: ('glibc', 'CP1253'), 1254: ('glibc', 'CP1254'), 1255: ('glibc', 'CP1255'),
    1256: ('glibc', 'CP1256'), 1257: ('glibc', 'CP1257'), 1258: ('glibc', 'CP1258'),
    10000: ('glibc', 'MACINTOSH'), 10004: ('python', 'mac_arabic'),
    10005: ('perl', 'MacHebrew'), 10006: ('python', 'mac_greek'),
    10007: ('glibc', 'CP10007'), 10010: ('python', 'mac_romanian'),
    10017: ('glibc', 'MAC-UK'), 10021: ('perl', 'MacThai'),
    10029: ('glibc', 'MAC-CENTRALEUROPE'), 10079: ('glibc', 'MAC-IS'),
    10081: ('python', 'mac_turkish'), 10082: ('python', 'mac_croatian'),
    20105: ('glibc', 'ISO_646.IRV:1991'), 20106: ('glibc', 'DIN_66003'),
    20107: ('glibc', 'SEN_850200_B'), 20108: ('glibc', 'NS_4551-1'),
    20127: ('glibc', 'ANSI_X3.4-1968'), 20261: ('glibc', 'T.61-8BIT'),
    20269: ('glibc', 'ISO_6937'),
    20273: ('glibc', 'IBM273'), 20277: ('glibc', 'IBM277'), 20278: ('glibc', 'IBM278'),
    20280: ('glibc', 'IBM280'), 20284: ('glibc', 'IBM284'), 20285: ('glibc', 'IBM285'),
    20290: ('glibc', 'IBM290'), 20297: ('glibc', 'IBM297'), 20420: ('glibc', 'IBM420'),
    20423: ('glibc', 'IBM423'), 20424: ('glibc', 'IBM424'), 20838: ('icu', 'ibm-838'),
    20866: ('glibc', 'KOI8-R'), 20871: ('glibc', 'IBM871'), 20880: ('glibc', 'IBM880'),
    20905: ('glibc', 'IBM905'), 20924: ('latin9', 'IBM1047'), 21025: ('glibc', 'IBM1025'),
    21866: ('glibc', 'KOI8-U'),
    28591: ('glibc', 'ISO-8859-1'), 28592: ('glibc', 'ISO-8859-2'),
    28593: ('glibc', 'ISO-8859-3'), 28594: ('glibc', 'ISO-8859-4'),
    28595: ('glibc', 'ISO-8859-5'), 28596: ('glibc', 'ISO-8859-6'),
    28597: ('glibc', 'ISO-8859-7'), 28598: ('glibc', 'ISO-8859-8'),
    28599: ('glibc', 'ISO-8859-9'), 28603: ('glibc', 'ISO-8859-13'),
    28605: ('glibc', 'ISO-8859-15'), 38598: ('glibc', 'ISO-8859-8'),
}

MULTI_BYTE = {
    932: ('glibc', 'CP932'), 936: ('glibc', 'CP936'), 949: ('glibc', 'CP949'),
    950: ('glibc', 'CP950'), 1361: ('glibc', 'JOHAB'), 10001: ('perl', 'MacJapanese'),
    51932: ('glibc', 'EUC-JP-MS'), 51936: ('glibc', 'EUC-CN'), 51949: ('glibc', 'EUC-KR'),
}

# Table code pages of the charset table with no local source: conversions fail for them.
GAPS = {}

# IBM 924 (Latin 9 EBCDIC) keeps every position of IBM 1047 (Latin 1 EBCDIC) and swaps the
# eight characters that ISO-8859-15 swaps in ISO-8859-1: the byte of the currency sign is the
# euro sign, and so on. The replaced characters have no byte any more.
LATIN9_OF_LATIN1 = {0x00A4: 0x20AC, 0x00A6: 0x0160, 0x00A8: 0x0161, 0x00B4: 0x017D,
                    0x00B8: 0x017E, 0x00BC: 0x0152, 0x00BD: 0x0153, 0x00BE: 0x0178}

# ---------------------------------------------------------------------------------------------
# Sources


class Glibc:
    def __init__(self):
        self.libc = ctypes.CDLL(ctypes.util.find_library('c'), use_errno=True)
        self.libc.iconv_open.restype = ctypes.c_void_p
        self.libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        self.libc.iconv.restype = ctypes.c_size_t
        self.libc.iconv.argtypes = [ctypes.c_void_p] + [ctypes.c_void_p] * 4
        self.out = ctypes.create_string_buffer(64)

    def open(self, to, frm):
        cd = self.libc.iconv_open(to.encode(), frm.encode())
        if cd in (None, ctypes.c_void_p(-1).value, 2**64 - 1):
            raise SystemExit('iconv cannot open %s -> %s' % (frm, to))
        return cd

    def run(self, cd, data):
        self.libc.iconv(cd, None, None, None, None)
        inb = ctypes.create_string_buffer(data, len(data))
        ip = ctypes.c_void_p(ctypes.addressof(inb))
        il = ctypes.c_size_t(len(data))
        op = ctypes.c_void_p(ctypes.addressof(self.out))
        ol = ctypes.c_size_t(64)
        r = self.libc.iconv(cd, ctypes.byref(ip), ctypes.byref(il), ctypes.byref(op),
                            ctypes.byref(ol))
        if r == 2**64 - 1 or il.value:
            return None
        if self.libc.iconv(cd, None, None, ctypes.byref(op), ctypes.byref(ol)) == 2**64 - 1:
            return None
        return self.out.raw[:64 - ol.value]

    def mapping(self, name, sequences):
        dec = self.open('UTF-16LE', name)
        enc = self.open(name, 'UTF-16LE')
        decode = {}
        for seq in sequences:
            out = self.run(dec, seq)
            if out is not None and len(out) == 2:
                decode[seq] = int.from_bytes(out, 'little')
        encode = {}
        for unit in range(1, 0x10000):
            if 0xD800 <= unit < 0xE000:
                continue
            out = self.run(enc, unit.to_bytes(2, 'little'))
            if out:
                encode[unit] = out
        return decode, encode


def python_mapping(name, sequences):
    decode = {}
    for seq in sequences:
        try:
            text = seq.decode(name)
        except UnicodeDecodeError:
            continue
        if len(text) == 1 and ord(text) < 0x10000:
            decode[seq] = ord(text)
    encode = {}
    for unit in range(1, 0x10000):
        if 0xD800 <= unit < 0xE000:
            continue
        try:
            encode[unit] = chr(unit).encode(name)
        except UnicodeEncodeError:
            pass
    return decode, encode


PERL_DUMP = r'''
use Encode;
my ($name, $multi) = @ARGV;
my $enc = find_encoding($name) or die "no $name";
my @seqs = map { chr($_) } 1..255;
if ($multi) { for my $l (0x80..0xFF) { for my $t (0x21..0xFF) { push @seqs, chr($l).chr($t); } } }
for my $s (@seqs) {
  my $copy = $s;
  my $u = eval { $enc->decode($copy, Encode::FB_CROAK) };
  next if $@ || !defined $u || length($copy) || length($u) != 1;
  my $o = ord($u); next if $o > 0xFFFF;
  printf "D %s %04X\n", unpack("H*", $s), $o;
}
for my $c (1..0xFFFF) {
  next if $c >= 0xD800 && $c < 0xE000;
  my $b = eval { $enc->encode(chr($c), Encode::FB_CROAK) };
  next if $@ || !defined $b || !length($b);
  printf "E %04X %s\n", $c, unpack("H*", $b);
}
'''


def perl_mapping(name, multi):
    text = subprocess.run(['perl', '-e', PERL_DUMP, name, '1' if multi else '0'],
                          check=True, capture_output=True, text=True).stdout
    decode, encode = {}, {}
    for line in text.splitlines():
        kind, a, b = line.split()
        if kind == 'D':
            decode[bytes.fromhex(a)] = int(b, 16)
        else:
            encode[int(a, 16)] = bytes.fromhex(b)
    return decode, encode


def icu_single_byte_mapping(name):
    # uconv is a process per byte; the encode side is the inverse of the decode side.
    decode = {}
    for b in range(1, 256):
        r = subprocess.run(['uconv', '-f', name, '-t', 'UTF-16LE', '--callback', 'stop'],
                           input=bytes([b]), capture_output=True)
        if r.returncode == 0 and len(r.stdout) == 2:
            decode[bytes([b])] = int.from_bytes(r.stdout, 'little')
    encode = {}
    for seq, unit in decode.items():
        r = subprocess.run(['uconv', '-f', 'UTF-16LE', '-t', name, '--callback', 'stop'],
                           input=unit.to_bytes(2, 'little'), capture_output=True)
        if r.returncode == 0 and r.stdout:
            encode[unit] = r.stdout
    return decode, encode


def latin9_mapping(glibc, name, sequences):
    decode, encode = glibc.mapping(name, sequences)
    decode = {seq: LATIN9_OF_LATIN1.get(unit, unit) for seq, unit in decode.items()}
    moved = {LATIN9_OF_LATIN1[unit]: seq for unit, seq in encode.items()
             if unit in LATIN9_OF_LATIN1}
    encode = {unit: seq for unit, seq in encode.items() if unit not in LATIN9_OF_LATIN1}
    encode.update(moved)
    return decode, encode


def multi_byte_sequences(code_page):
    seqs = [bytes([b]) for b in range(1, 256)]
    seqs += [bytes([l, t]) for l in range(0x80, 0x100) for t in range(0x21, 0x100)]
    if code_page == 51932:  # JIS X 0212 after SS3
        seqs += [bytes([0x8F, a, b]) for a in range(0xA1, 0xFF) for b in range(0xA1, 0xFF)]
    return seqs


def read_mapping(glibc, code_page, source, multi):
    kind, name = source
    sequences = multi_byte_sequences(code_page) if multi else [bytes([b]) for b in range(1, 256)]
    if kind == 'glibc':
        return glibc.mapping(name, sequences)
    if kind == 'latin9':
        return latin9_mapping(glibc, name, sequences)
    if kind == 'python':
        return python_mapping(name, sequences)
    if kind == 'perl':
        return perl_mapping(name, multi)
    if kind == 'icu':
        return icu_single_byte_mapping(name)
    raise ValueError(kind)


# ---------------------------------------------------------------------------------------------
# Compact forms


def code_of(seq):
    return int.from_bytes(seq, 'big')


def derived_encode(decode):
    """The encoder the runtime builds from the decode entries alone: lowest code wins."""
    derived = {}
    for seq in sorted(decode, key=lambda s: (len(s), code_of(s))):
        derived.setdefault(decode[seq], seq)
    return derived


def overrides(decode, encode, ascii_compatible):
    """Encoder entries where the source differs from the derived inverse (b'' = unmapped)."""
    derived = derived_encode(decode)
    result = {}
    for unit in sorted(set(derived) | set(encode)):
        if ascii_compatible and unit < 0x80:
            continue
        want = encode.get(unit, b'')
        if derived.get(unit, b'') != want:
            result[unit] = want
    return result


def is_ascii_compatible(decode):
    # Decided by the decoder alone: bytes below 0x80 of such a table are written for code
    # units below 0x80 without a lookup, even where a source prefers another byte (Python's
    # mac_arabic writes U+0020 as A0).
    return all(decode.get(bytes([b])) == b for b in range(1, 0x80))


def varint(value, out):
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return


def zigzag(delta):
    return (delta << 1) if delta >= 0 else ((-delta) << 1) - 1


def pack_multi_byte(decode, extra):
    """Entry count, then per entry the code delta and the zigzag unit delta (varints), then
    the override count and per override the unit delta and the code (0 = unmapped)."""
    out = bytearray()
    entries = sorted((code_of(s), u) for s, u in decode.items())
    varint(len(entries), out)
    prev_code, prev_unit = 0, 0
    for code, unit in entries:
        varint(code - prev_code, out)
        varint(zigzag(unit - prev_unit), out)
        prev_code, prev_unit = code, unit
    varint(len(extra), out)
    prev_unit = 0
    for unit in sorted(extra):
        varint(unit - prev_unit, out)
        varint(code_of(extra[unit]) if extra[unit] else 0, out)
        prev_unit = unit
    return bytes(out)


def c_bytes(data, indent='    ', per_line=24):
    lines = []
    for i in range(0, len(data), per_line):
        lines.append(indent + ','.join(str(b) for b in data[i:i + per_line]) + ',')
    return '\n'.join(lines)


def c_units(units, indent='    ', per_line=12):
    lines = []
    for i in range(0, len(units), per_line):
        lines.append(indent + ','.join('0x%04X' % u for u in units[i:i + per_line]) + ',')
    return '\n'.join(lines)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(
        os.path.abspath(__file__)))
    glibc = Glibc()
    parts = []
    rows = []
    reference = []
    for code_page in sorted(SINGLE_BYTE):
        source = SINGLE_BYTE[code_page]
        decode, encode = read_mapping(glibc, code_page, source, False)
        # Two-byte encodings (the diacritic prefixes of T.61 and ISO 6937) do not fit a
        # single-byte table.
        encode = {u: s for u, s in encode.items() if len(s) == 1}
        ascii = is_ascii_compatible(decode)
        units = [decode.get(bytes([b]), 0) for b in range(256)]
        first = 0x80 if ascii else 0
        extra = overrides(decode, encode, ascii)
        parts.append('const uint16_t kDecode%d[%d] = {\n%s\n};' %
                     (code_page, 256 - first, c_units(units[first:])))
        if extra:
            pairs = []
            for unit, seq in sorted(extra.items()):
                pairs += [unit, seq[0] if seq else 0]
            parts.append('const uint16_t kExtra%d[%d] = {\n%s\n};' %
                         (code_page, len(pairs), c_units(pairs)))
        rows.append((code_page, '    {%d, TableKind::kSingleByte, %s, kDecode%d, %s, %d, nullptr, 0, 0},' %
                    (code_page, 'true' if ascii else 'false', code_page,
                     'kExtra%d' % code_page if extra else 'nullptr', len(extra))))
        reference.append('%d %s:%s %s' % (code_page, source[0], source[1],
                                          ' '.join('%04X' % u for u in units)))
        print(code_page, source, 'ascii' if ascii else '', len(extra), file=sys.stderr)

    mb_reference = []
    for code_page in sorted(MULTI_BYTE):
        source = MULTI_BYTE[code_page]
        decode, encode = read_mapping(glibc, code_page, source, True)
        ascii = is_ascii_compatible(decode)
        if ascii:
            decode = {s: u for s, u in decode.items() if not (len(s) == 1 and s[0] < 0x80)}
            assert all(s[0] >= 0x80 for s in decode), code_page
        assert all(len(s) <= 3 for s in decode), code_page
        extra = overrides(decode, encode, ascii)
        packed = pack_multi_byte(decode, extra)
        compressed = zlib.compress(packed, 9)
        parts.append('const uint8_t kPacked%d[%d] = {\n%s\n};' %
                     (code_page, len(compressed), c_bytes(compressed)))
        rows.append((code_page, '    {%d, TableKind::kMultiByte, %s, nullptr, nullptr, 0, kPacked%d, %d, %d},' %
                    (code_page, 'true' if ascii else 'false', code_page, len(compressed),
                     len(packed))))
        # Every 16th entry of the source, for the differential test of sources the test
        # cannot call.
        sample = sorted((code_of(s), len(s), u) for s, u in decode.items())[::16]
        mb_reference.append('%d %s:%s %s' % (code_page, source[0], source[1], ' '.join(
            '%0*X=%04X' % (2 * n, c, u) for c, n, u in sample)))
        print(code_page, source, 'ascii' if ascii else '', len(decode), len(extra),
              len(packed), len(compressed), file=sys.stderr)

    gaps = ''.join('\n// %d %s' % (cp, why) for cp, why in sorted(GAPS.items()))
    if gaps:
        gaps = ' Code pages of the charset table without a local source:' + gaps
    text = '''// Generated by tools/gen_charset_tables.py; do not edit. The mapping data of the table
// code pages: single-byte pages as 128 (ASCII-compatible) or 256 UTF-16 units, multi-byte
// pages as zlib-compressed delta lists, each with the encoder entries that differ from the
// inverse of its decoder.%s
#include "base/charset/codec_table.h"

namespace quillon {
namespace {

%s

}  // namespace

const CodePageData kCodePageData[] = {
%s
};
const size_t kCodePageDataCount = sizeof(kCodePageData) / sizeof(kCodePageData[0]);

}  // namespace quillon
''' % (gaps, '\n\n'.join(parts), '\n'.join(row for _, row in sorted(rows)))
    with open(os.path.join(root, 'base', 'charset', 'charset_tables.cpp'), 'w') as f:
        f.write(text)
    data_dir = os.path.join(root, 'tests', 'data', 'charsets')
    os.makedirs(data_dir, exist_ok=True)
    header = '# Generated by tools/gen_charset_tables.py straight from each source.\n'
    with open(os.path.join(data_dir, 'reference_single_byte.txt'), 'w') as f:
        f.write(header + '# code page, source, the UTF-16 unit of bytes 00-FF (0000 = none)\n')
        f.write('\n'.join(reference) + '\n')
    with open(os.path.join(data_dir, 'reference_multi_byte.txt'), 'w') as f:
        f.write(header + '# code page, source, every 16th decodable sequence = its unit\n')
        f.write('\n'.join(mb_reference) + '\n')


# Real-text HTML samples: (file, charset label, Python codec that writes the bytes, text).
# The codecs are the Windows variants pages are written in under these labels.
SAMPLES = [
    ('windows-1252.html', 'windows-1252', 'cp1252',
     'Caf\u00e9 cr\u00e8me \u2013 \u201cSm\u00f6rg\u00e5sbord\u201d co\u00fbte 12\u20ac '
     '\u2026 na\u00efve Stra\u00dfe, \u0152uvre \u2122 \u00a9 2024 \u2018quoted\u2019 \u2022'),
    ('iso-8859-2.html', 'iso-8859-2', 'iso8859_2',
     'Za\u017c\u00f3\u0142\u0107 g\u0119\u015bl\u0105 ja\u017a\u0144. P\u0159\u00edli\u0161 '
     '\u017elu\u0165ou\u010dk\u00fd k\u016f\u0148 \u00fap\u011bl \u010f\u00e1belsk\u00e9 \u00f3dy. '
     '\u0150rizd meg \u0171rlapot.'),
    ('koi8-r.html', 'koi8-r', 'koi8_r',
     '\u0421\u044a\u0435\u0448\u044c \u0436\u0435 \u0435\u0449\u0451 \u044d\u0442\u0438\u0445 '
     '\u043c\u044f\u0433\u043a\u0438\u0445 \u0444\u0440\u0430\u043d\u0446\u0443\u0437\u0441\u043a\u0438\u0445 '
     '\u0431\u0443\u043b\u043e\u043a, \u0434\u0430 \u0432\u044b\u043f\u0435\u0439 \u0447\u0430\u044e. '
     '\u2500\u2502\u2554\u2557 \u00b0 \u00b2'),
    ('shift_jis.html', 'shift_jis', 'cp932',
     '\u65e5\u672c\u8a9e\u306e\u30da\u30fc\u30b8\u3067\u3059\u3002\u30ab\u30bf\u30ab\u30ca '
     '\uff76\uff80\uff76\uff85 \u2460\u2461\u2462 \u3231 \uff5e \u2225 \uffe2 \\ \u9ad9 '
     '\u6f22\u5b57\u3068\u3072\u3089\u304c\u306a\u3002'),
    ('euc-jp.html', 'euc-jp', 'euc_jp',
     '\u6771\u4eac\u90fd\u5343\u4ee3\u7530\u533a\u3002\u30b3\u30f3\u30d4\u30e5\u30fc\u30bf '
     '\uff7a\uff9d\uff8b\uff9f\uff6d\uff70\uff80 \u5f0c\u4e02 \u3042\u3044\u3046\u3048\u304a'),
    ('gb2312.html', 'gb2312', 'gbk',
     '\u4e2d\u534e\u4eba\u6c11\u5171\u548c\u56fd\u3002\u6b22\u8fce\u8bbf\u95ee\u6211\u4eec\u7684'
     '\u7f51\u7ad9\uff01\u9555\u7b80\u4f53\u4e2d\u6587 \u2014 \u201c\u5f15\u53f7\u201d'),
    ('big5.html', 'big5', 'cp950',
     '\u81fa\u7063\u7e41\u9ad4\u4e2d\u6587\u7db2\u9801\u3002\u6b61\u8fce\u5149\u81e8\uff01 '
     '\u300c\u5f15\u865f\u300d\u2026\u7063'),
    ('euc-kr.html', 'euc-kr', 'euc_kr',
     '\ub300\ud55c\ubbfc\uad6d \ud55c\uad6d\uc5b4 \uc6f9 \ud398\uc774\uc9c0\uc785\ub2c8\ub2e4. '
     '\u6f22\u5b57 \u2460 \u3131\u314f'),
]


def write_samples(root):
    data_dir = os.path.join(root, 'tests', 'data', 'charsets')
    for name, label, codec, text in SAMPLES:
        page = ('<!DOCTYPE html>\n<html><head>\n<meta http-equiv="Content-Type" '
                'content="text/html; charset=%s">\n<title>%s</title>\n</head>\n<body>\n'
                '<h1>%s</h1>\n<p>%s</p>\n<p>%s</p>\n</body></html>\n' %
                (label, text[:12], text[:20], text, text[::-1]))
        with open(os.path.join(data_dir, name), 'wb') as f:
            f.write(page.encode(codec))


if __name__ == '__main__':
    main()
    write_samples(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(
        os.path.abspath(__file__))))
