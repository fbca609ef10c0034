// The 56-row encoding table: labels, kinds, code pages and the converter names.
#include <array>

#include "text_codec/text_codec.h"

namespace tarnwick {

namespace {

using enum EncodingKind;

constexpr std::array<EncodingRow, 56> kEncodingRows{{
    {"Auto detect (Unicode / Windows-1252)", Auto, 0, ""},
    {"UTF-8", Utf8, 0, ""},
    {"UTF-16 little endian", Utf16Le, 0, ""},
    {"UTF-16 big endian", Utf16Be, 0, ""},
    {"UTF-32 little endian", Utf32Le, 0, ""},
    {"UTF-32 big endian", Utf32Be, 0, ""},
    {"Windows-1252 (Western European)", CodePage, 1252, "WINDOWS-1252"},
    {"Windows-1250 (Central European)", CodePage, 1250, "WINDOWS-1250"},
    {"Windows-1251 (Cyrillic)", CodePage, 1251, "WINDOWS-1251"},
    {"Windows-1253 (Greek)", CodePage, 1253, "WINDOWS-1253"},
    {"Windows-1254 (Turkish)", CodePage, 1254, "WINDOWS-1254"},
    {"Windows-1255 (Hebrew)", CodePage, 1255, "WINDOWS-1255"},
    {"Windows-1256 (Arabic)", CodePage, 1256, "WINDOWS-1256"},
    {"Windows-1257 (Baltic)", CodePage, 1257, "WINDOWS-1257"},
    {"Windows-1258 (Vietnamese)", CodePage, 1258, "WINDOWS-1258"},
    {"Windows-874 (Thai)", CodePage, 874, "CP874"},
    {"Windows-932 (Japanese / Shift JIS)", CodePage, 932, "CP932"},
    {"Windows-936 (Chinese / GBK)", CodePage, 936, "CP936"},
    {"Windows-949 (Korean / UHC)", CodePage, 949, "CP949"},
    {"Windows-950 (Chinese / Big5)", CodePage, 950, "CP950"},
    {"Windows-1361 (Korean / Johab)", CodePage, 1361, "JOHAB"},
    {"GB18030 (Chinese)", CodePage, 54936, "GB18030"},
    {"EUC-JP (Japanese)", CodePage, 51932, "EUC-JP"},
    {"EUC-KR (Korean)", CodePage, 51949, "EUC-KR"},
    {"HZ-GB-2312 (Chinese; OS support required)", CodePage, 52936, "HZ"},
    {"ISO-2022-JP (Japanese)", CodePage, 50220, "ISO-2022-JP"},
    {"ISO-2022-KR (Korean; OS support required)", CodePage, 50225, "ISO-2022-KR"},
    {"KOI8-R (Russian)", CodePage, 20866, "KOI8-R"},
    {"KOI8-U (Ukrainian)", CodePage, 21866, "KOI8-U"},
    {"ISO-8859-1 (Western European)", CodePage, 28591, "ISO-8859-1"},
    {"ISO-8859-2 (Central European)", CodePage, 28592, "ISO-8859-2"},
    {"ISO-8859-3 (South European)", CodePage, 28593, "ISO-8859-3"},
    {"ISO-8859-4 (Baltic)", CodePage, 28594, "ISO-8859-4"},
    {"ISO-8859-5 (Cyrillic)", CodePage, 28595, "ISO-8859-5"},
    {"ISO-8859-6 (Arabic)", CodePage, 28596, "ISO-8859-6"},
    {"ISO-8859-7 (Greek)", CodePage, 28597, "ISO-8859-7"},
    {"ISO-8859-8 (Hebrew)", CodePage, 28598, "ISO-8859-8"},
    {"ISO-8859-9 (Turkish)", CodePage, 28599, "ISO-8859-9"},
    {"ISO-8859-13 (Baltic)", CodePage, 28603, "ISO-8859-13"},
    {"ISO-8859-15 (Western European / euro)", CodePage, 28605, "ISO-8859-15"},
    {"US-ASCII", CodePage, 20127, "ASCII"},
    {"OEM 437 (United States)", CodePage, 437, "CP437"},
    {"OEM 850 (Western European)", CodePage, 850, "CP850"},
    {"OEM 852 (Central European)", CodePage, 852, "CP852"},
    {"OEM 855 (Cyrillic)", CodePage, 855, "CP855"},
    {"OEM 857 (Turkish)", CodePage, 857, "CP857"},
    {"OEM 858 (Western European / euro)", CodePage, 858, "CP858"},
    {"OEM 860 (Portuguese)", CodePage, 860, "CP860"},
    {"OEM 861 (Icelandic)", CodePage, 861, "CP861"},
    {"OEM 862 (Hebrew)", CodePage, 862, "CP862"},
    {"OEM 863 (Canadian French)", CodePage, 863, "CP863"},
    {"OEM 864 (Arabic)", CodePage, 864, "CP864"},
    {"OEM 865 (Nordic)", CodePage, 865, "CP865"},
    {"OEM 866 (Russian)", CodePage, 866, "CP866"},
    {"OEM 869 (Greek)", CodePage, 869, "CP869"},
    {"Mac Roman", CodePage, 10000, "MACINTOSH"},
}};

const EncodingRow* find_row(EncodingChoice choice) {
  for (const EncodingRow& row : kEncodingRows) {
    if (row.kind != choice.kind) continue;
    if (row.kind != CodePage || row.code_page == choice.code_page) return &row;
  }
  return nullptr;
}

}  // namespace

std::span<const EncodingRow> encoding_table() { return kEncodingRows; }

EncodingChoice encoding_choice_for_row(std::size_t row_index) {
  if (row_index >= kEncodingRows.size()) return {};
  const EncodingRow& row = kEncodingRows[row_index];
  return {row.kind, row.code_page};
}

std::optional<std::string_view> encoding_label(EncodingChoice choice) {
  const EncodingRow* row = find_row(choice);
  if (row == nullptr) return std::nullopt;
  return row->label;
}

std::string encoding_display_name(EncodingChoice choice) {
  if (const auto label = encoding_label(choice)) return std::string(*label);
  if (choice.kind == CodePage) return "code page " + std::to_string(choice.code_page);
  return "unknown encoding";
}

Result<std::string> iconv_name_for_code_page(std::int32_t code_page) {
  const EncodingRow* row = find_row({CodePage, code_page});
  if (row == nullptr) return fail("Code page " + std::to_string(code_page) + " is unavailable in this build.");
  return std::string(row->iconv_name);
}

}  // namespace tarnwick
