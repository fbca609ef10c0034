#!/usr/bin/env python3
"""Independent oracle for the code-page tests: Python's own codecs.

Prints one line per fact, fields separated by spaces, bytes and texts in hex:
  B <code page> <byte> <UTF-8 of the decoded character, or - when Python refuses>
  S <code page> <UTF-8 of a sample text> <its encoded bytes, or - when Python refuses>
"""
import sys

# Windows code-page number -> Python codec name, for every code page of the table.
CODECS = {
    1252: "cp1252", 1250: "cp1250", 1251: "cp1251", 1253: "cp1253", 1254: "cp1254",
    1255: "cp1255", 1256: "cp1256", 1257: "cp1257", 1258: "cp1258", 874: "cp874",
    932: "cp932", 936: "gbk", 949: "cp949", 950: "cp950", 1361: "johab",
    54936: "gb18030", 51932: "euc_jp", 51949: "euc_kr", 52936: "hz",
    50220: "iso2022_jp", 50225: "iso2022_kr", 20866: "koi8_r", 21866: "koi8_u",
    28591: "latin_1", 28592: "iso8859_2", 28593: "iso8859_3", 28594: "iso8859_4",
    28595: "iso8859_5", 28596: "iso8859_6", 28597: "iso8859_7", 28598: "iso8859_8",
    28599: "iso8859_9", 28603: "iso8859_13", 28605: "iso8859_15", 20127: "ascii",
    437: "cp437", 850: "cp850", 852: "cp852", 855: "cp855", 857: "cp857",
    858: "cp858", 860: "cp860", 861: "cp861", 862: "cp862", 863: "cp863",
    864: "cp864", 865: "cp865", 866: "cp866", 869: "cp869", 10000: "mac_roman",
}

SAMPLES = [
    "Plain ASCII text, 42 lines.\r\n\tTabbed",
    "Déjà vu: façade, naïve, Ørsted, Größe",
    "Zażółć gęślą jaźń; Příliš žluťoučký kůň",
    "Съешь же ещё этих мягких булок",
    "Їжак ґава є",
    "Καλημέρα κόσμε",
    "Türkçe: ğüşıöç İĞÜŞÖÇ",
    "שלום עולם",
    "مرحبا بالعالم",
    "Lietuvių kalba: ąčęėįšųūž",
    "Tiếng Việt có dấu",
    "ภาษาไทย",
    "日本語のテキスト、カタカナ",
    "中文简体字符测试",
    "中文繁體字元測試",
    "한국어 텍스트",
    "Euro € sign",
    "Box ─│┌┐ and ░▒▓",
    "Greek letter α in Western text",
]


def main():
    for code_page, codec in CODECS.items():
        for byte in range(256):
            try:
                text = bytes([byte]).decode(codec)
                print("B", code_page, "%02x" % byte, text.encode("utf-8").hex() or "=")
            except UnicodeDecodeError:
                print("B", code_page, "%02x" % byte, "-")
        for sample in SAMPLES:
            try:
                encoded = sample.encode(codec).hex()
            except UnicodeEncodeError:
                encoded = "-"
            print("S", code_page, sample.encode("utf-8").hex(), encoded)
    return 0


if __name__ == "__main__":
    sys.exit(main())
