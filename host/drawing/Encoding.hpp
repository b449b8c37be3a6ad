// The code page a drawing's text is written in, as its header tells, and conversion of
// the text values the reader delivers to UTF-8 through glibc's iconv.
#ifndef WQHOST_ENCODING_HPP
#define WQHOST_ENCODING_HPP

#include <iconv.h>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace wqhost {

// What the HEADER section says about a drawing's text, and the code page chosen from it.
struct DrawingEncoding {
    // The iconv name the drawing's plain bytes are in: "CP1252", "CP932", "UTF-8", ...
    std::string codePage;
    std::string dwgCodePage;  // $DWGCODEPAGE as written in the header ("ANSI_932"), "" when absent
    std::string acadVersion;  // $ACADVER as written ("AC1015"), "" when absent
    // False: the header named no usable code page and the default was chosen.
    bool fromHeader = false;
    // True when the scan stopped before the end of the bytes it was given (at the header's
    // end, at another section, at a line that is no group code): a longer prefix of the
    // same drawing gives the same result.
    bool settled = false;
};

// Reads the HEADER section at the start of a drawing for $ACADVER and $DWGCODEPAGE and
// chooses the code page of its text: UTF-8 from AC1021 on, whatever $DWGCODEPAGE names
// before that, and CP1252 when neither tells (then fromHeader is false; an unknown
// $DWGCODEPAGE is still reported as written).
//
// `bytes` may be only a prefix of the file (a caller passes up to the first 256 KiB);
// nothing at or past `size` is read, and a last line without its line end is taken as
// cut off and ignored. Lines may end in LF, CR LF or a lone CR; group codes may have
// blanks around them; values are trimmed of blanks; section and variable names are
// compared without regard to case; a leading UTF-8 byte order mark is skipped. The scan
// stops at the HEADER's ENDSEC, at the first section that is not HEADER, at a line that
// is not a group code (a binary DXF, a DWG) or at the end of `bytes`. `bytes` may be
// null when `size` is 0. Never fails: a drawing without a header gets the default.
DrawingEncoding scanHeader(const char* bytes, size_t size);

// The iconv name for a $DWGCODEPAGE value, compared without regard to case and blanks
// around it: ANSI_874 and ANSI_1250 to ANSI_1258 give CP874 and CP1250 to CP1258;
// ANSI_932, ANSI_936, ANSI_949, ANSI_950 give CP932, CP936, CP949, CP950 and ANSI_1361
// gives JOHAB; the DOS pages (DOS437, DOS850, DOS852, DOS855, DOS857, DOS860, DOS861,
// DOS863, DOS864, DOS865, DOS866, DOS869) give CP437 and so on, DOS932 gives CP932;
// ISO8859-1 to ISO8859-10, ISO8859-13 and ISO8859-15 give ISO-8859-x; MACINTOSH, BIG5
// (CP950), GB2312 (CP936), KSC5601 (CP949), JOHAB; UTF-8 (or UTF8) gives UTF-8.
// The Chinese and Korean DOS names map to the Windows code pages that extend them, since
// that is what the programs that write these drawings use. ASCII gives CP1252: drawings
// that claim ASCII but carry 8-bit bytes were written on Windows, and CP1252 reads true
// ASCII the same. Returns "" for any other value (ANSI_1200, which would be UTF-16,
// included): the caller then chooses a default. Every name returned is one glibc's
// iconv_open accepts.
std::string iconvNameForCodePage(std::string_view dwgCodePage);

// Converts text values, as the reader delivers them, to UTF-8. A value holds bytes in
// the code page given to open() (the reader's decoded two-byte characters among them)
// and \U+XXXX escapes, which are decoded here. Owns an iconv descriptor for a multibyte
// code page (a single-byte one converts from a table): move-only, and not thread-safe
// (use one per document).
class TextConverter {
  public:
    // The output buffer iconv writes into; a longer value is converted in several rounds.
    static constexpr size_t kBufferBytes = 4096;

    // Converts nothing yet: open() first. Until then toUtf8 takes its bytes as UTF-8, and
    // so does a converter that has been moved from.
    TextConverter();
    ~TextConverter();
    TextConverter(TextConverter&& other) noexcept;
    TextConverter& operator=(TextConverter&& other) noexcept;
    TextConverter(const TextConverter&) = delete;
    TextConverter& operator=(const TextConverter&) = delete;

    // Prepares conversion from `from`, an iconv name ("CP932", "SHIFT_JIS", "UTF-8", ...;
    // case does not matter). "UTF-8" is validated without iconv. Returns false, with a
    // message in *error (when error is not null), when iconv does not know the name or
    // the code page is not ASCII-based (UTF-16, ISO-2022-JP: a DXF file cannot be in
    // one); the converter then stays as it was.
    bool open(const std::string& from, std::string* error);

    // Appends the UTF-8 form of `bytes` to *out (which must not be null). \U+XXXX, with
    // exactly four hex digits of either case, becomes its character; a high surrogate
    // escape followed at once by a low one becomes the character they encode; a lone
    // surrogate or \U+0000 becomes U+FFFD; anything else after \U+ stays as written.
    // Every byte the code page cannot convert becomes one U+FFFD (an invalid two-byte
    // pair is one U+FFFD for its lead byte, then its second byte is read again), and so
    // does a character cut short at the end of the value; nothing is dropped and
    // conversion goes on to the end. Escapes are looked for only where a character of
    // the code page starts, so the second byte of a two-byte character is never taken
    // for the backslash of an escape (Shift-JIS ソ is 0x83 0x5C). In UTF-8, ill-formed
    // sequences are replaced as appendValidUtf8 does. Never fails.
    void toUtf8(std::string_view bytes, std::string* out);

  private:
    static const TextConverter* learned(const std::string& from, std::string* error);
    bool learn(const std::string& from, std::string* error);
    bool openDescriptor(const std::string& from, std::string* error);
    void buildSingleByteTable();
    size_t convertRun(const unsigned char* p, size_t n, size_t i, std::string* out);
    void drain(std::string* out);
    void flushState(std::string* out);
    void swap(TextConverter& other) noexcept;

    iconv_t cd_;  // (iconv_t)-1 with singleBytes_, or while text is taken as UTF-8
    std::array<bool, 256> stop_{};  // bytes the ASCII fast path must not copy as they are
    bool backslashIsAscii_ = true;  // byte 0x5C converts to U+005C
    std::vector<char> buffer_;      // iconv output, kBufferBytes with a descriptor
    // UTF-8 of each byte of a single-byte code page, shared by the converters from it.
    std::shared_ptr<const std::vector<std::string>> singleBytes_;
    size_t buffered_ = 0;  // bytes of buffer_ not yet appended
};

}  // namespace wqhost

#endif
