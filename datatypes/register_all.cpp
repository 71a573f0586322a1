// Start-up's registration of every datatype, in order.
#include "datatypes/datatypes.h"

#include "datatypes/image.h"

namespace vyr::datatypes {

void register_datatypes() {
#define VYR_CALL_INIT(ns, id) ns::init();
    VYR_REGISTERED_TYPES(VYR_CALL_INIT)
#undef VYR_CALL_INIT
}

void register_image() { image_t::init(); }

}  // namespace vyr::datatypes
