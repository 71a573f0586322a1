// The process entry: moves onto the interpreter thread and never comes back.
#include "boot/startup.h"

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
    Args args{argc, argv};
    vyr::run_on_interpreter_thread(run_entry, &args);
    return 0;
}
