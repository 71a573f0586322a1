// The HTTP client of the host: one synchronous request through libcurl,
// shaped like a platform request object (open with a method and a url, set
// headers, send a body, then read the status, the header text and the body
// bytes). Behind `read` and `write` of an http or https url.
//
// The request carries exactly the headers it is given: libcurl's own Accept,
// Expect and Content-Type additions are switched off (Host, and
// Content-Length for a body, are part of the request line's framing and stay).
// Redirects are followed (up to 10, http and https only); the answer is that
// of the final response. Bodies are never decompressed; TLS peers and host
// names are verified. The module knows bytes only; io/http_request.h turns
// values into requests and responses into values.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vyr::http {

struct Request {
    std::string method;  // sent as it is: "GET", "HEAD", "POST", "PUT", ...
    std::string url;     // the wire form (percent-encoded)
    std::vector<std::pair<std::string, std::string>> headers;
    bool has_body = false;  // never sent for GET and HEAD
    std::vector<uint8_t> body;
};

struct Response {
    int32_t status = 0;
    // The final response's header lines (the status line left out), each
    // ending in CR LF, as the server sent them.
    std::string header_text;
    std::vector<uint8_t> body;
};

enum class Outcome : uint8_t {
    done,         // a response came (whatever its status)
    failed,       // no connection, a timeout, a TLS or protocol failure
    interrupted,  // the user asked for a halt while the request ran
    too_large,    // the body is larger than one series can hold
};

// Performs the request and fills the response. The time-outs are those of a
// platform request object: 60 s to connect, and 30 s without any byte
// received or sent; the environment variable VYR_HTTP_TIMEOUT (seconds)
// replaces both.
Outcome perform(const Request& request, Response& response);

// Whether a header name or value can be sent as it stands: no CR, LF or NUL
// (and for a name, no colon and not empty), so that no text given by a
// script can add a header line of its own.
bool header_name_ok(const std::string& name);
bool header_value_ok(const std::string& value);

}  // namespace vyr::http
