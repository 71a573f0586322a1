// The clipboard (see clipboard.h). The desktop back ends run the clipboard
// tools as child processes: the tool that sets the clipboard stays behind,
// detached, to hand the data to whoever pastes it, as these tools do. A
// list of files travels as a text/uri-list of file: URIs; an emptied
// clipboard is one that offers only a private type that no reader takes.
#include "io/clipboard.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "io/clock.h"
#include "io/process.h"

namespace vyr::clipboard {

namespace {

constexpr const char* uri_list_type = "text/uri-list";
constexpr const char* cleared_type = "application/x-vyr-cleared";
// The types of text a reader takes, best first.
constexpr const char* text_types[] = {"UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT", "text/plain"};
// The image types a reader takes, in this order; written images are PNG.
constexpr const char* image_types[] = {"image/png", "image/jpeg", "image/gif"};
constexpr const char* written_image_type = "image/png";

// ---- Contents as bytes -------------------------------------------------------------------------

std::string fold_crlf(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
    return out;
}

bool unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '/';
}

// The file: URI of a local path, every byte outside the unreserved set
// written as %XX.
std::string file_uri(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        if (unreserved(c)) {
            uri += char(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The local path of a file: URI of this machine (no host or localhost);
// false for any other URI.
bool local_path_of(const std::string& uri, std::string& path) {
    const std::string scheme = "file://";
    if (uri.compare(0, scheme.size(), scheme) != 0) return false;
    size_t slash = uri.find('/', scheme.size());
    if (slash == std::string::npos) return false;
    std::string host = uri.substr(scheme.size(), slash - scheme.size());
    if (!host.empty() && host != "localhost") return false;
    path.clear();
    for (size_t i = slash; i < uri.size(); ++i) {
        int hi, lo;
        if (uri[i] == '%' && i + 2 < uri.size() && (hi = hex_digit(uri[i + 1])) >= 0 &&
            (lo = hex_digit(uri[i + 2])) >= 0) {
            path += char(hi * 16 + lo);
            i += 2;
        } else {
            path += uri[i];
        }
    }
    return true;
}

std::string uri_list_of(const std::vector<std::string>& files) {
    std::string list;
    for (const std::string& f : files) list += file_uri(f) + "\r\n";
    return list;
}

// The paths of a uri-list that names local files only (comment lines and
// blank lines skipped); false when it names anything else.
bool files_of(const std::string& list, std::vector<std::string>& files) {
    files.clear();
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find('\n', start);
        if (end == std::string::npos) end = list.size();
        std::string line = list.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::string path;
        if (!local_path_of(line, path)) return false;
        files.push_back(path);
    }
    return true;
}

// ---- The desktop tools ---------------------------------------------------------------------------

// How one desktop's clipboard tools are called: the command lines that list
// the offered types, fetch one type, and set the clipboard to one type, and
// the words of a failure to reach the display.
struct Tool {
    std::vector<std::string> list_types;
    std::vector<std::string> fetch;   // the type is appended
    std::vector<std::string> offer;   // the type is appended
    std::vector<std::string> clear;   // empty: offer the private cleared type
    const char* text_type;            // the type text is offered as
    const char* unreachable;          // found in the error text when the display cannot be reached
};

const Tool xclip{{"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"},
                 {"xclip", "-selection", "clipboard", "-o", "-t"},
                 {"xclip", "-selection", "clipboard", "-i", "-t"},
                 {},
                 "UTF8_STRING",
                 "Can't open display"};
const Tool wl_clipboard{{"wl-paste", "--list-types"},
                        {"wl-paste", "--no-newline", "--type"},
                        {"wl-copy", "--type"},
                        {"wl-copy", "--clear"},
                        "text/plain;charset=utf-8",
                        "Failed to connect"};

bool has_env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// The tool of the desktop this process runs on, or null for the local store.
const Tool* desktop_tool() {
    if (has_env("WAYLAND_DISPLAY") && process::on_path("wl-paste") && process::on_path("wl-copy"))
        return &wl_clipboard;
    if (has_env("DISPLAY") && process::on_path("xclip")) return &xclip;
    return nullptr;
}

std::string text_of(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Runs a tool's command with one more argument; the exit status, with the
// standard output and error captured.
int32_t run_tool(std::vector<std::string> argv, const std::string& extra, std::vector<uint8_t>& out,
                 std::string& error) {
    if (!extra.empty()) argv.push_back(extra);
    process::Redirect in, o, e;
    o.kind = e.kind = process::Redirect::data;
    int32_t status = process::run_program(argv, in, o, e);
    out = std::move(o.bytes);
    error = text_of(e.bytes);
    return status;
}

bool fetch(const Tool& tool, const std::string& type, std::vector<uint8_t>& bytes) {
    std::string error;
    return run_tool(tool.fetch, type, bytes, error) == 0;
}

// The types the clipboard offers; false when they cannot be listed
// (`error` then holds the tool's words).
bool offered_types(const Tool& tool, std::vector<std::string>& types, std::string& error) {
    std::vector<uint8_t> listed;
    if (run_tool(tool.list_types, "", listed, error) != 0) return false;
    std::string all = text_of(listed);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        std::string t = all.substr(start, end - start);
        if (!t.empty() && t.back() == '\r') t.pop_back();
        if (!t.empty()) types.push_back(t);
        start = end + 1;
    }
    return true;
}

bool tool_read(const Tool& tool, Content& out) {
    std::vector<std::string> types;
    std::string error;
    if (!offered_types(tool, types, error))
        return error.find(tool.unreachable) == std::string::npos;  // else nothing is offered: empty
    auto offered = [&](const char* type) {
        for (const std::string& t : types)
            if (t == type) return true;
        return false;
    };
    std::vector<uint8_t> bytes;
    // A file manager offers the names as text too: the list comes first.
    if (offered(uri_list_type)) {
        if (!fetch(tool, uri_list_type, bytes)) return false;
        if (files_of(text_of(bytes), out.files)) {
            out.kind = Content::Kind::files;
            return true;
        }
    }
    for (const char* type : text_types) {
        if (!offered(type)) continue;
        if (!fetch(tool, type, bytes)) return false;
        out.kind = Content::Kind::text;
        out.text = text_of(bytes);
        return true;
    }
    for (const char* type : image_types) {
        if (!offered(type)) continue;
        if (!fetch(tool, type, out.image)) return false;
        out.kind = Content::Kind::image;
        return true;
    }
    return true;
}

// Whether the clipboard offers `type` now.
bool offers(const Tool& tool, const std::string& type) {
    std::vector<std::string> types;
    std::string error;
    if (!offered_types(tool, types, error)) return false;
    for (const std::string& t : types)
        if (t == type) return true;
    return false;
}

// The process a tool leaves behind to serve the data may take the
// clipboard a moment after the command returns: a read in between would
// still see the former owner, or the new one half-way. Waits (up to about
// two seconds) until the written type is offered.
void await_offer(const Tool& tool, const std::string& type) {
    for (int tries = 0; tries < 200 && !offers(tool, type); ++tries) clock::sleep_seconds(0.01);
}

bool tool_write(const Tool& tool, const Content& in) {
    // The tool stays behind to serve the data: its output and error go to
    // the null device, as a pipe it held would never end.
    process::Redirect data, out, err;
    data.kind = process::Redirect::data;
    std::vector<std::string> argv = tool.offer;
    std::string type;  // the type offered, if any
    switch (in.kind) {
        case Content::Kind::empty:
            if (!tool.clear.empty()) {
                argv = tool.clear;
            } else {
                argv.push_back(cleared_type);
                type = cleared_type;
            }
            break;
        case Content::Kind::text:
            type = tool.text_type;
            data.bytes.assign(in.text.begin(), in.text.end());
            break;
        case Content::Kind::files: {
            type = uri_list_type;
            std::string list = uri_list_of(in.files);
            data.bytes.assign(list.begin(), list.end());
            break;
        }
        case Content::Kind::image:
            type = written_image_type;
            data.bytes = in.image;
            break;
    }
    if (in.kind != Content::Kind::empty) argv.push_back(type);
    if (process::run_program(argv, data, out, err) != 0) return false;
    if (!type.empty()) await_offer(tool, type);
    return true;
}

// ---- The local store -------------------------------------------------------------------------------

Content local_store;

}  // namespace

bool read(Content& out) {
    out = Content{};
    if (const Tool* tool = desktop_tool()) {
        if (!tool_read(*tool, out)) return false;
    } else {
        out = local_store;
    }
    if (out.kind == Content::Kind::text) out.text = fold_crlf(out.text);
    return true;
}

bool write(const Content& in) {
    if (const Tool* tool = desktop_tool()) return tool_write(*tool, in);
    local_store = in;
    return true;
}

}  // namespace vyr::clipboard
