// User interrupts (see interrupt.h).
#include "runtime/interrupt.h"

namespace vyr::interrupt {

volatile std::sig_atomic_t detail::flag = 0;

namespace {
Hook hook = nullptr;
}

void set_hook(Hook h) { hook = h; }

Status take() {
    clear();
    return hook ? hook() : Status::ok;
}

}  // namespace vyr::interrupt
