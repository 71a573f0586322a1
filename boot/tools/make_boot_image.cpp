// The stage-0 tool of the build: the runtime without a boot image lexes the
// boot sources (boot/boot_sources.h, in their order) and writes them as one
// compact VYRBIN image, one root record per source: its block, past the
// header. The payload is stored as it is, not LZ77-compressed: unpacking it
// would cost every start more than mapping the larger image does. The build
// embeds the image in `vyr` (boot/embed_image.cmake).
//
// Usage: make_boot_image OUTPUT
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "boot/boot.h"
#include "boot/startup.h"
#include "io/vyrbin.h"
#include "runtime/catch_codes.h"
#include "runtime/stack.h"

namespace {

// Ends the process from the interpreter thread, as `vyr` does: that thread
// never returns.
[[noreturn]] void finish(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

void make_image(void* p) {
    const char* output = static_cast<const char*>(p);
    try {
        vyr::runtime_init();
        std::vector<vyr::Cell> blocks;
        for (uint32_t i = 0; i < vyr::boot::source_count; ++i) {
            vyr::Cell block = vyr::boot::load_source(vyr::boot::sources[i]);
            blocks.push_back(*vyr::stack::push_copy(block));  // the argument stack keeps it
        }
        std::vector<uint8_t> image = vyr::vyrbin::encode_roots(blocks, true);
        FILE* f = std::fopen(output, "wb");
        if (!f || std::fwrite(image.data(), 1, image.size(), f) != image.size() || std::fclose(f) != 0) {
            std::fprintf(stderr, "make_boot_image: cannot write %s\n", output);
            finish(1);
        }
        finish(0);
    } catch (const vyr::Unwind&) {
        std::fprintf(stderr, "make_boot_image: a boot source could not be loaded\n");
        finish(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_boot_image OUTPUT\n");
        return 2;
    }
    vyr::run_on_interpreter_thread(make_image, argv[1]);
    return 1;
}
