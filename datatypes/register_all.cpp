// Start-up's registration of every datatype, in order.
//
// While the datatypes are being built, a module that does not exist yet has
// no `init`: its declaration here is weak, so the reference resolves to null
// and the type is skipped (it stays without actions). Once every module
// exists the weak declarations can go.
#include "datatypes/datatypes.h"

namespace vyr {
#define VYR_WEAK_INIT(ns, id)                 \
    namespace ns {                            \
    void init() __attribute__((weak));        \
    }
VYR_REGISTERED_TYPES(VYR_WEAK_INIT)
VYR_WEAK_INIT(image_t, 53)
#undef VYR_WEAK_INIT

namespace datatypes {

void register_datatypes() {
#define VYR_CALL_INIT(ns, id) \
    if (ns::init) ns::init();
    VYR_REGISTERED_TYPES(VYR_CALL_INIT)
#undef VYR_CALL_INIT
}

void register_image() {
    if (image_t::init) image_t::init();
}

}  // namespace datatypes
}  // namespace vyr
