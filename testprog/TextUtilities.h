// Text utilities of the test program: two number parsers that understand a
// base suffix, four formatters for numbers and durations, and four routines
// that fit a string or a file path into a column of fixed width.
//
// All routines are free functions without state; none allocates. Texts are
// NUL-terminated 8-bit strings and no pointer may be null. Destination
// buffers belong to the caller, who sizes them: no routine takes a buffer
// size other than the column width.
#ifndef VARNOX_TESTPROG_TEXTUTILITIES_H
#define VARNOX_TESTPROG_TEXTUTILITIES_H

#include <cstdint>

namespace varnox::testprog {

// Reads an unsigned number whose base is chosen by its last character:
// lower-case 'h' is hexadecimal, lower-case 'b' binary, anything else decimal
// ('H' and 'B' are not suffixes). The conversion is strtoul's, so leading
// white space and a sign are accepted, and "0x"/"0X" in base 16 ("0x1Fh" is
// 31). With a suffix the digits must run exactly up to it; without one they
// must fill the whole text.
//
// Returns 0 and stores the value; -1 for an empty text; -2 when nothing was
// converted or characters are left over. On -1 and -2 *result is unchanged.
//
// There is no overflow test, but a value is never wrapped into a small one:
// the result is what strtoul gives where unsigned long has 32 bits. A
// magnitude above 4294967295 gives 4294967295 ("4294967297" and
// "-4294967296" both do), and a minus sign negates in 32 bits ("-1" gives
// 4294967295, "-4294967295" gives 1). Callers that want a range check it
// themselves. errno is left as it was.
int ParseUnsigned(const char* text, std::uint32_t* result);

// As ParseUnsigned, with strtol and a signed result ("-1Fh" is -31). A value
// beyond the 32-bit range gives what strtol gives where long has 32 bits:
// 2147483647 above it, -2147483648 below it ("80000000h" gives 2147483647).
int ParseSigned(const char* text, std::int32_t* result);

// Writes `value` with as many decimals as give `digits` significant digits:
// returns sprintf(destination, format, precision, value) with
// precision = digits - 1 - floor(log10(value)), at least 0. The format must
// take that precision with '*' and then convert a double, as "%.*f" does.
// With 4 digits, 123.456 gets precision 1 ("123.5") and 0.01234 precision 5.
//
// Where the logarithm is not finite: a negative value counts by its
// magnitude (-123.456 with 4 digits is "-123.5"); 0 counts as a value of
// order 1 (precision digits - 1, so 0 with 4 digits is "0.000"); NaN and the
// infinities get precision 0 and come out as sprintf writes them ("nan",
// "inf", "-inf"). The precision can reach 450 (digits 127, the smallest
// subnormal), so the caller sizes the destination for the digits it asks for.
int FormatSignificant(char* destination, const char* format, double value, std::int8_t digits);

// Writes seconds as hours, minutes and seconds with one decimal, the hours in
// a field of two: 3725.5 gives " 1:02:05.5". Only the seconds field is
// rounded, so 119.96 gives " 0:01:60.0". Returns the character count.
//
// The layout holds values below 4294967296 whole minutes (257698037760 s,
// about 8000 years), the range of a 32-bit minute count. A negative value
// within that range is written as its magnitude with a minus sign in front
// of the hours ("-1:02:05.5"); -0 is written as 0. NaN, the infinities and
// values beyond the range are written with "%.1le" ("nan", "inf",
// "2.6e+11"). No text is longer than 17 characters, so 18 bytes always do.
int FormatSeconds(char* destination, double seconds);

// Writes a time given in hundredths of a second as hours, minutes, seconds
// and hundredths, the hours in a field of two: 550 gives " 0:00:05.50",
// 4294967295 gives "11930:27:52.95". Returns the character count; at most 14
// characters, so 15 bytes always do.
int FormatHundredths(char* destination, std::uint32_t hundredths);

// Widens the caller's format for one seconds value (such as "%.1f") to
// minutes and hours: with "%.1f", 59.9 gives "59.9", 65.5 gives "1:05.5" and
// 3725.5 gives "1:02:05.5". Returns the character count.
//
// The seconds field is zero-filled to the precision after the format's first
// '.' plus 3 (a field of 2 when that precision is 0 or absent), and takes the
// format from that '.' on, or else from the conversion letter (the first f, F,
// e, E, g, G, a or A after the '%').
// Anything before that (text, flags, a width) only counts when the caller's
// format is used alone. The format must hold exactly one double conversion
// and its first '.' must be that conversion's; the digits right after the
// point are the precision (a sign or blank there is not read as one).
//
// The caller's format is used alone, with the seconds value, when the value
// cannot be widened: below 60 s, negative, NaN, from 2147483648 s (the range
// of a 32-bit second count) on, or infinite. The same happens when the widened
// format would not fit its buffer (19 characters for minutes, 31 for hours):
// such a format is refused, never cut, since a cut could end inside the
// conversion. With "%.1f" any suffix of up to 10 characters is widened to
// minutes, and up to 17 characters to hours.
int FormatDuration(char* destination, const char* format, double seconds);

// Copies the source, sets positions start .. width - 1 to blanks and ends the
// text at position width. With the source's length as start the result is the
// source filled with blanks to exactly width characters; a start at or beyond
// width fills nothing and cuts the text to width characters. The destination
// needs max(source length, width) + 1 bytes and may be the source itself.
void PadRight(char* destination, const char* source, unsigned width, unsigned start);

// Writes ".." and the last width - 2 characters of the source, so the result
// is exactly width characters; `length` is the source's length. A width below
// 2 gives as many dots as fit ("" or "."). A source shorter than width - 2 is
// kept whole after the dots, so the result is then shorter than width. The
// destination needs width + 1 bytes.
void ShortenTail(char* destination, const char* source, unsigned width, unsigned length);

// Fits a path of backslash-separated directories into width characters by
// replacing directories in the middle with "..", keeping the start up to the
// first backslash (or the drive colon before it) and as much of the end as
// fits from a backslash on: "D:\Program Files\Vendor\Tool\bin\tool.exe" in
// 20 gives "D:\..\bin\tool.exe". The backslash after a drive colon stays when
// there is room for it ("D:..\bin\tool.exe" in 17).
//
// A path that fits is copied unchanged and its length returned. A path
// without a backslash, or without one far enough along, is shortened by
// ShortenTail and width returned. Otherwise the result's length is returned,
// at most width. A width below 2 gives "" or "." as ShortenTail does. The
// destination needs min(path length, width) + 1 bytes. Slashes are not
// separators.
unsigned ShortenPath(char* destination, const char* source, unsigned width);

// Like ShortenPath, but always exactly width characters, filled with blanks,
// and returns width. The head is the path up to and including its first
// backslash (no drive colon rule), and the tail must leave at least one
// blank: "D:\Program Files\Vendor\Tool\bin\tool.exe" in 20 gives
// "D:\..\bin\tool.exe  ". Where no such tail exists the result is
// ShortenTail's; a width below 2 gives "" or ".". The destination needs
// width + 1 bytes.
unsigned ShortenPathPadded(char* destination, const char* source, unsigned width);

}  // namespace varnox::testprog

#endif
