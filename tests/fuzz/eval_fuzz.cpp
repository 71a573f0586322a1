// Fuzz target that evaluates generated Vyr code. The input bytes drive a
// small generator: each statement calls a native or an action (some with a
// refinement) on edge values: extreme numbers, empty and self-containing
// series, series owned by an object whose change handlers collect, allocate
// or throw. Every statement runs under `catch` and `try`, so an error is a
// normal outcome; a crash, a sanitizer report, a hang or a leak of the
// argument stack is a finding. The first byte switches stress collection on
// for the input when it is 255. Nothing is generated that reaches files, processes or the
// network, or that ends the process.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "datatypes/errors.h"
#include "datatypes/word.h"
#include "engine/source.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

#include "tests/fuzz/interpreter_worker.h"

using namespace vyr;

namespace {

// The callables, each with the number of arguments its generated call takes.
struct Callable {
    const char* name;
    int args;
};
constexpr Callable callables[] = {
    {"append", 2}, {"append/only", 2}, {"append/dup", 3}, {"insert", 2}, {"insert/part", 3},
    {"change", 2}, {"change/part", 3}, {"remove", 1}, {"remove/part", 2}, {"take", 1},
    {"take/part", 2}, {"take/last", 1}, {"take/deep", 1}, {"clear", 1}, {"poke", 3},
    {"pick", 2}, {"find", 2}, {"find/skip", 3}, {"find/last", 2}, {"select", 2},
    {"sort", 1}, {"sort/skip", 2}, {"sort/compare", 2}, {"sort/reverse", 1}, {"reverse", 1},
    {"copy", 1}, {"copy/part", 2}, {"copy/deep", 1}, {"unique", 1}, {"unique/skip", 2},
    {"union", 2}, {"union/skip", 3}, {"intersect", 2}, {"exclude", 2}, {"difference", 2},
    {"difference/skip", 3}, {"make", 2}, {"to", 2}, {"form", 1}, {"mold", 1},
    {"mold/all", 1}, {"length?", 1}, {"skip", 2}, {"at", 2}, {"head", 1},
    {"tail", 1}, {"next", 1}, {"back", 1}, {"max", 2}, {"min", 2},
    {"add", 2}, {"subtract", 2}, {"multiply", 2}, {"divide", 2}, {"remainder", 2},
    {"negate", 1}, {"absolute", 1}, {"and~", 2}, {"or~", 2}, {"xor~", 2},
    {"complement", 1}, {"reduce", 1}, {"compose", 1}, {"reduce/into", 2}, {"compose/into", 2},
    {"trim", 1}, {"uppercase", 1}, {"lowercase", 1}, {"replace", 3}, {"replace/all", 3},
    {"random", 1}, {"round", 1}, {"swap", 2}, {"move", 2}, {"put", 3},
    {"enbase", 1}, {"debase", 1}, {"transcode", 1}, {"compress", 2}, {"decompress", 2},
    {"checksum", 2}, {"same?", 2}, {"equal?", 2}, {"lesser?", 2}, {"zero?", 1},
    {"sign?", 1}, {"shift", 2}, {"to-hex", 1}, {"as-pair", 2}, {"as-money", 2},
    {"extend", 2}, {"reflect", 2}, {"index?", 1}, {"empty?", 1}, {"last", 1},
    {"rejoin", 1}, {"pad", 2}, {"split", 2}, {"alter", 2}, {"sum", 1},
    {"set", 2}, {"get", 1}, {"in", 2}, {"bind", 2}, {"parse", 2},
};

// Edge values; `o` owns the series `o/b`, `o/s`, `o/h` and `o/m`.
constexpr const char* values[] = {
    "0", "1", "-1", "2", "2147483647", "-2147483648", "2147483646", "1.5", "-0.0", "1e308",
    "(square-root -1)", "\"\"", "\"abc\"", "\"a^/é\"", "#{}", "#{00FF}", "[]", "[1 2 3]", "[a 1 b 2]",
    "o/b", "o/s", "o/h", "o/m", "o/n", "(make hash! [1 2 3 4])", "(make map! [a 1 b 2])", "none", "#\"a\"",
    "'w", "'a", "1x2", "0x0", "1.2.3", "$1", "-$2.5", "10:00", "1-Jan-2020", "(make bitset! 8)",
    "(make bitset! [#\"a\" - #\"z\"])", "(make vector! [1 2 3])", "integer!", "block!", "string!",
    "bitset!", "object!", "sb", "deep", "'zlib", "'crc32", "'md5", "(as-point2D 1 2)",
    "(as-point3D 1 2 3)", "true", "o", ":lesser?", "func [a b] [append sb 1 a < b]", "(tail [1 2])",
    "[skip]", "[some \"a\"]", "%file", "<tag>", "http://x",
};

// Bodies of the change handlers of `o`.
constexpr const char* handlers[] = {
    "[]", "[recycle]", "[loop 3 [x: copy [] loop 100 [append/only x copy [1]]]]", "[throw 1]",
    "[clear b]", "[append s \"x\"]", "[1 / 0]",
};

struct Reader {
    const uint8_t* p;
    size_t left;
    uint8_t next() {
        if (left == 0) return 0;
        --left;
        return *p++;
    }
    template <typename T, size_t N>
    const T& pick(const T (&table)[N]) {
        return table[next() % N];
    }
};

// Under stress collection every safe point moves the whole heap: the deep
// block is then kept shallow, or one input would take minutes.
std::string generate(Reader& in, bool stress) {
    std::string code = "Vyr []\n";
    code += "sb: [1] append/only sb sb\n";
    code += "deep: [] d: deep loop " + std::string(stress ? "10" : "300") + " [e: copy [] append/only d e d: e]\n";
    code += "o: make object! [b: [1 2 3] s: \"abc\" h: make hash! [1 2 3] m: make map! [a 1] n: 5\n";
    code += "  on-change*: func [w old new] " + std::string(in.pick(handlers)) + "\n";
    code += "  on-deep-change*: func [ow w t act new i p] " + std::string(in.pick(handlers)) + "]\n";
    int statements = 1 + in.next() % 12;
    for (int i = 0; i < statements && in.left > 0; ++i) {
        const Callable& c = in.pick(callables);
        std::string call = c.name;
        for (int a = 0; a < c.args; ++a) call += std::string(" ") + in.pick(values);
        if (in.next() % 8 == 0) call = "o/n: " + call;
        code += "catch [try [" + call + "]]\n";
    }
    return code;
}

void run_one(const uint8_t* data, size_t size) {
    if (size == 0) return;
    Reader in{data, size};
    bool stress = in.next() == 0xFF;  // stress collection is slow: kept for a few inputs
    std::string code = generate(in, stress);
    if (std::getenv("VYR_FUZZ_SHOW")) std::fprintf(stderr, "%s\n", code.c_str());
    uint32_t depth = stack::depth();
    collector::set_stress(stress);
    try {
        Status status;
        (void)source::run(code, status);
    } catch (const Unwind&) {
        // An error or throw that left the generated code: a normal outcome.
    }
    collector::set_stress(false);
    if (stack::depth() != depth) {
        std::fprintf(stderr, "argument stack %u -> %u after:\n%s\n", depth, stack::depth(), code.c_str());
        std::abort();
    }
    errors::clear_last_error();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::run_on_worker(run_one, data, size);
}
