// The process entry: moves onto the interpreter thread and never comes back.
#include "boot/startup.h"

// The boot image the build makes (boot/tools/make_boot_image.cpp) and embeds.
namespace vyr::boot {
extern const uint8_t boot_image[];
extern const uint32_t boot_image_size;
}  // namespace vyr::boot

namespace {
struct Args {
    int argc;
    char** argv;
};
void run_entry(void* p) {
    auto* a = static_cast<Args*>(p);
    vyr::entry(a->argc, a->argv);
}
}  // namespace

int main(int argc, char** argv) {
    vyr::runtime.boot_data = vyr::boot::boot_image;
    vyr::runtime.boot_size = vyr::boot::boot_image_size;
    Args args{argc, argv};
    vyr::run_on_interpreter_thread(run_entry, &args);
    return 0;
}
