// url!: a resource locator (type id 9, parent string!), the parent of file!.
//
// What url! does differently from string!: its mold percent-encodes the
// UTF-8 bytes of the text, make and to build a url from a block of parts,
// path access joins a path element with one slash, and read, write and open
// hand the url to HTTP or to a port.
//
// This module also holds the percent-encoding operations that the `dehex`
// and `enhex` natives, the lexer and both molds use, over two tables of
// characters allowed unescaped:
//  - table A (mode 254, `enhex` of a string!): the 66 unreserved characters
//    "-", ".", "0"-"9", "A"-"Z", "_", "a"-"z", "~";
//  - table B (any other mode: file! quoting, url! mold, `enhex` of other
//    text): A-Z, a-z, 0-9 and ! # $ & ' ( ) * + , - . / : = ? _ ~ @.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace vyr::url_t {

inline constexpr int32_t mode_unreserved = 254;  // table A
inline constexpr int32_t mode_url = 255;         // table B

// Whether the byte (below 128) may stand unescaped under the mode's table.
bool allowed_q(uint8_t byte, int32_t mode);

// The value of a hex digit, or -1 ("0"-"9", "A"-"F", "a"-"f").
int32_t hex_digit(uint8_t byte);
// Whether `p` (with `available` bytes) holds "%" and two hex digits; the
// byte they give goes to `out`.
bool hex_digit_escape(const uint8_t* p, size_t available, uint8_t& out);

// The byte itself (length 1) when it is below 128 and allowed, else "%"
// and two upper-case hex digits (length 3).
struct Encoded {
    char text[4];
    uint32_t length;
};
Encoded percent_encode_byte(int32_t mode, uint8_t byte);

// Appends the text (from its index) decoded: each "%XX" escape gives a
// byte; escapes that together form a UTF-8 sequence give its code point; a
// "%" that starts no complete escape stays as it is.
void percent_decode(const Cell& text, Cell& output);
// Appends the text's UTF-8 bytes, each through percent_encode_byte.
void percent_encode(const Cell& text, Cell& output, int32_t mode);

// The url (from its index) as it goes on the wire: its UTF-8 bytes, each
// through percent_encode_byte with table B (the text that mold writes).
std::string wire_text(const Cell& url);

// ---- HTTP ------------------------------------------------------------------------

// The host's HTTP service, installed by the I/O layer: one request with the
// method word, the url, a header block (or null) and a body (or null), the
// answer shaped by the flags (the body as binary!, as a block of lines, or
// as text; with `info` the block [status headers body]) and stored in
// `result`. Answers false when no response came (the callers raise
// `no-connect`). Until it is installed, http urls raise internal `not-done`.
using HttpRequest = bool (*)(Cell& result, const Cell& method, const Cell& url, const Cell* headers,
                             const Cell* body, bool binary, bool lines, bool info);
void install_http(HttpRequest request);

// ---- Actions ---------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);

}  // namespace vyr::url_t
