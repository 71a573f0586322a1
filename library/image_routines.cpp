// The image codecs' routines (see image_routines.h).
#include "library/image_routines.h"

#include "datatypes/image.h"

namespace vyr::library {

template <int32_t Format>
Status image_encode(Cell* args, uint32_t) {
    args[0] = image_t::encode(args[0], Format);
    return Status::ok;
}

template Status image_encode<image_t::format_bmp>(Cell*, uint32_t);
template Status image_encode<image_t::format_png>(Cell*, uint32_t);
template Status image_encode<image_t::format_gif>(Cell*, uint32_t);
template Status image_encode<image_t::format_jpeg>(Cell*, uint32_t);
template Status image_encode<image_t::format_tiff>(Cell*, uint32_t);

Status image_decode(Cell* args, uint32_t) {
    args[0] = image_t::decode(args[0]);
    return Status::ok;
}

}  // namespace vyr::library
