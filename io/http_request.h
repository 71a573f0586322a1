// `read` and `write` of http urls as values: the request that a method
// word, a url, a header block and a body make, and the value that the
// response gives. Installed behind url! (datatypes/url.h) at start-up; the
// bytes go through io/http.h.
//
// Without a header block the request carries the default headers
// Content-Type "application/x-www-form-urlencoded", Accept-Charset "UTF-8"
// and a browser's User-Agent; with one, exactly its pairs. HTTP status codes
// are not examined: an error page is answered like any other body.
#pragma once

#include <string>

#include "runtime/cell.h"

namespace vyr::http_request {

// Installs the HTTP service behind url!'s read and write.
void install();

// The response headers as a map!: each name becomes a word key, each value
// a string!; a name given more than once (in any letter case) has a block
// of its values in order. Every line is "Name: value" and ends in CR LF;
// a last line without it ends at the end of the text, blanks around a
// value are left out, and a line without a colon is skipped. The map is
// left on the argument stack.
Cell* push_headers_map(const std::string& header_text);

}  // namespace vyr::http_request
