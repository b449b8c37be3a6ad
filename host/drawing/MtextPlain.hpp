// MTEXT values made plain, as a person reading the drawing sees them: inline formatting
// codes, grouping braces and special-character codes turned into the characters they show.
#ifndef WQHOST_MTEXT_PLAIN_HPP
#define WQHOST_MTEXT_PLAIN_HPP

#include <string>
#include <string_view>

namespace wqhost {

// Appends to `out` the text of the MTEXT-formatted value `raw` (the code 3 chunks and the
// code 1 value of an MTEXT joined in file order, a multileader's content, a dimension's or
// a table cell's text) as users read it. The output stays in the drawing's bytes (its code
// page, or UTF-8 from AutoCAD 2007 on); characters that have no fixed byte in every code
// page are written as `\U+XXXX` escapes for the caller's converter, like the escapes the
// drawing itself carries:
//
// - `\P` becomes a line break ("\n"); `\~` a no-break space, written `\U+00A0`;
// - `\\`, `\{`, `\}` the character itself; unescaped braces, which group formatting, go;
// - formatting codes go with their arguments: `\A \C \c \f \F \H \Q \T \W \p` up to and
//   including their `;`, and the argument-less `\L \l \O \o \K \k \N \X`. A code whose `;`
//   never comes ends the text there: the rest of the value is its argument;
// - a stack `\Sa^b;`, `\Sa/b;` or `\Sa#b;` becomes `a/b`; inside it `\;` is a `;`. A
//   stack without its closing `;` keeps what it holds, since that is text, not formatting;
// - `%%d`, `%%p`, `%%c` (any case) become `\U+00B0` (degree), `\U+00B1` (plus-minus) and
//   `\U+2300` (diameter); `%%%` a `%`; `%%o` and `%%u` (overline and underline toggles) go;
//   other `%%` sequences stay as written;
// - caret escapes: `^I` a tab, `^J` a line break, `^ ` a caret; the other control
//   characters written this way (`^@` to `^_`) go, since they show nothing; a caret before
//   any other character is a plain caret and stays;
// - `\U+XXXX` stays as written; `\M+nXXXX` (a code page digit, then four hexadecimal
//   digits) becomes the two bytes of the character, high byte first; a shorter escape
//   decodes the digits it has, and one without digits goes;
// - any other backslash sequence stays as written.
//
// A literal backslash (`\\`) that would be followed by `U+` in the output is written as
// `\U+005C`, so that the converter does not take it for the start of an escape.
void appendPlainMtext(std::string_view raw, std::string* out);

// The same, returned in a new string.
std::string plainMtext(std::string_view raw);

// Appends `raw` to `out` with only its `\M+nXXXX` escapes decoded into their two bytes,
// everything else as written: for single-line texts (ARCALIGNEDTEXT, RTEXT) that carry no
// MTEXT formatting, whose backslashes (a file path, say) are their own characters.
void appendMultibyteDecoded(std::string_view raw, std::string* out);

}  // namespace wqhost

#endif
