// The HTTP client of the host through libcurl (see http.h).
#include "io/http.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "runtime/interrupt.h"
#include "runtime/memory.h"
#include "runtime/shared_library.h"

namespace vyr::http {

namespace {

constexpr long default_connect_seconds = 60;
constexpr long default_idle_seconds = 30;  // the longest time without a byte moving
constexpr long max_redirects = 10;
constexpr const char* allowed_protocols = "http,https";
// What libcurl adds to a request on its own unless the request names the
// header itself; an empty "Name:" line tells it to leave the header out.
constexpr const char* curl_own_headers[] = {"Accept", "Expect", "Content-Type"};

// libcurl is loaded on the first request, not at start-up: it and the
// libraries it needs would cost every run of the program, most of which make
// no request. Its soname has been libcurl.so.4 since the 7.16 interface.
struct Curl {
    decltype(&curl_global_init) global_init = nullptr;
    decltype(&curl_easy_init) easy_init = nullptr;
    decltype(&curl_easy_setopt) easy_setopt = nullptr;
    decltype(&curl_easy_perform) easy_perform = nullptr;
    decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&curl_slist_append) slist_append = nullptr;
    decltype(&curl_slist_free_all) slist_free_all = nullptr;
    decltype(&curl_strequal) strequal = nullptr;

    bool load() {
        SharedLibrary lib("libcurl.so.4");
        lib.bind(global_init, "curl_global_init");
        lib.bind(easy_init, "curl_easy_init");
        lib.bind(easy_setopt, "curl_easy_setopt");
        lib.bind(easy_perform, "curl_easy_perform");
        lib.bind(easy_getinfo, "curl_easy_getinfo");
        lib.bind(easy_cleanup, "curl_easy_cleanup");
        lib.bind(slist_append, "curl_slist_append");
        lib.bind(slist_free_all, "curl_slist_free_all");
        lib.bind(strequal, "curl_strequal");
        return lib.complete();
    }
};
Curl curl;

bool global_ready() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl.load() && curl.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

// VYR_HTTP_TIMEOUT as a number of seconds, 0 when unset or not a positive number.
long timeout_from_environment() {
    const char* text = std::getenv("VYR_HTTP_TIMEOUT");
    if (!text || !*text) return 0;
    char* end = nullptr;
    long seconds = std::strtol(text, &end, 10);
    return (*end == '\0' && seconds > 0) ? seconds : 0;
}

bool same_name(const std::string& a, const char* b) { return curl.strequal(a.c_str(), b) != 0; }

struct Transfer {
    Response* response;
    bool too_large = false;
};

// One header line of a response. A status line starts a new response (an
// interim 100 Continue, or the next hop of a redirect), so the text and the
// body collected so far belong to an earlier response and are dropped. The
// blank line that ends the header is left out; every kept line ends in CR LF.
size_t on_header(char* data, size_t size, size_t count, void* user) {
    size_t n = size * count;
    auto* t = static_cast<Transfer*>(user);
    std::string line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.compare(0, 5, "HTTP/") == 0) {
        t->response->header_text.clear();
        t->response->body.clear();
    } else if (!line.empty()) {
        t->response->header_text += line;
        t->response->header_text += "\r\n";
    }
    return n;
}

size_t on_body(char* data, size_t size, size_t count, void* user) {
    size_t n = size * count;
    auto* t = static_cast<Transfer*>(user);
    std::vector<uint8_t>& body = t->response->body;
    if (body.size() + n > size_t(memory::max_series_bytes)) {
        t->too_large = true;
        return 0;  // ends the transfer
    }
    body.insert(body.end(), reinterpret_cast<uint8_t*>(data), reinterpret_cast<uint8_t*>(data) + n);
    return n;
}

// A halt asked for with Ctrl-C ends the transfer.
int on_progress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return interrupt::requested() ? 1 : 0; }

struct EasyDeleter {
    void operator()(CURL* c) const { curl.easy_cleanup(c); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl.slist_free_all(l); }
};
using List = std::unique_ptr<curl_slist, ListDeleter>;

bool append(List& list, const std::string& line) {
    curl_slist* grown = curl.slist_append(list.get(), line.c_str());
    if (!grown) return false;
    list.release();
    list.reset(grown);
    return true;
}

// The header lines of the request: the given ones in order ("Name;" is
// libcurl's way of sending a header with an empty value), then an empty
// "Name:" for each header libcurl would add by itself.
bool header_list(const Request& request, List& list) {
    for (const auto& [name, value] : request.headers)
        if (!append(list, value.empty() ? name + ";" : name + ": " + value)) return false;
    for (const char* own : curl_own_headers) {
        bool given = false;
        for (const auto& header : request.headers) given = given || same_name(header.first, own);
        if (!given && !append(list, std::string(own) + ":")) return false;
    }
    return true;
}

// The method and, except for GET and HEAD, the body.
void set_method(CURL* c, const Request& request) {
    const std::string& m = request.method;
    if (m == "GET") {
        curl.easy_setopt(c, CURLOPT_HTTPGET, 1L);
        return;
    }
    if (m == "HEAD") {
        curl.easy_setopt(c, CURLOPT_NOBODY, 1L);
        return;
    }
    if (m == "POST" || request.has_body) {
        static const char no_bytes[] = "";
        const char* bytes = request.has_body && !request.body.empty()
                                ? reinterpret_cast<const char*>(request.body.data())
                                : no_bytes;
        curl.easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.has_body ? request.body.size() : 0));
        curl.easy_setopt(c, CURLOPT_POSTFIELDS, bytes);
    }
    if (m != "POST") curl.easy_setopt(c, CURLOPT_CUSTOMREQUEST, m.c_str());
}

}  // namespace

bool header_name_ok(const std::string& name) {
    return !name.empty() && name.find_first_of(std::string("\r\n:\0", 4)) == std::string::npos;
}

bool header_value_ok(const std::string& value) {
    return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

Outcome perform(const Request& request, Response& response) {
    response = Response{};
    if (!global_ready()) return Outcome::failed;
    std::unique_ptr<CURL, EasyDeleter> easy(curl.easy_init());
    if (!easy) return Outcome::failed;
    CURL* c = easy.get();
    List headers;
    if (!header_list(request, headers)) return Outcome::failed;

    long timeout = timeout_from_environment();
    Transfer transfer{&response};
    curl.easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl.easy_setopt(c, CURLOPT_PROTOCOLS_STR, allowed_protocols);
    curl.easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, allowed_protocols);
    curl.easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl.easy_setopt(c, CURLOPT_MAXREDIRS, max_redirects);
    curl.easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl.easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl.easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl.easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout ? timeout : default_connect_seconds);
    curl.easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl.easy_setopt(c, CURLOPT_LOW_SPEED_TIME, timeout ? timeout : default_idle_seconds);
    curl.easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl.easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
    curl.easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
    curl.easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
    curl.easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl.easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl.easy_setopt(c, CURLOPT_XFERINFOFUNCTION, on_progress);
    set_method(c, request);

    CURLcode result = curl.easy_perform(c);
    if (result == CURLE_ABORTED_BY_CALLBACK) return Outcome::interrupted;
    if (transfer.too_large) return Outcome::too_large;
    if (result != CURLE_OK) return Outcome::failed;
    long status = 0;
    curl.easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    response.status = int32_t(status);
    return Outcome::done;
}

}  // namespace vyr::http
