// The process environment (see environment.h).
#include "io/environment.h"

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace vyr::environment {

namespace {
bool has_nul(const std::string& s) { return s.find('\0') != std::string::npos; }
}  // namespace

bool get(const std::string& name, std::string& out) {
    if (has_nul(name)) return false;
    const char* v = ::getenv(name.c_str());
    if (!v) return false;
    out = v;
    return true;
}

bool set(const std::string& name, const std::string* value) {
    if (has_nul(name)) return false;
    if (!value) return ::unsetenv(name.c_str()) == 0;
    if (has_nul(*value)) return false;
    return ::setenv(name.c_str(), value->c_str(), 1) == 0;
}

std::vector<std::pair<std::string, std::string>> list() {
    std::vector<std::pair<std::string, std::string>> out;
    for (char** e = environ; e && *e; ++e) {
        const char* entry = *e;
        const char* eq = std::strchr(entry + (entry[0] ? 1 : 0), '=');
        if (!eq) continue;
        out.emplace_back(std::string(entry, size_t(eq - entry)), std::string(eq + 1));
    }
    return out;
}

}  // namespace vyr::environment
