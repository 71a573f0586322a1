// The clipboard's routines (see clipboard_routines.h).
#include "library/clipboard_routines.h"

#include <string>

#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string_buffer.h"
#include "datatypes/text_codec.h"
#include "engine/natives_io.h"
#include "io/clipboard.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace vyr::library {

namespace {

// Pushes a new text value of the UTF-8 bytes, of the given type (string! or
// file!); bytes that are not UTF-8 become U+FFFD.
Cell* push_text(const std::string& utf8, uint32_t type) {
    Cell* text = stack::push_copy(Cell{});
    string_t::make_at(*text, uint32_t(utf8.size()));
    text_codec::append_utf8_lenient(string_t::node_of(*text), reinterpret_cast<const uint8_t*>(utf8.data()),
                                    utf8.size(), false);
    set_type(*text, type);
    return text;
}

// A block of file! values. A local path is already in the language's file
// notation on this system (forward slashes, no drive), so it is taken as is.
Cell files_block(const std::vector<std::string>& paths) {
    stack::Mark mark;
    Cell* block = block_t::push_new(int32_t(paths.size()));
    for (const std::string& path : paths) {
        stack::Mark each;
        block_t::append_value(*block, *push_text(path, type_file));
        each.restore();
    }
    Cell result = *block;
    mark.restore();
    return result;
}

// The local paths named by the block's values from its index.
std::vector<std::string> paths_of(const Cell& block) {
    std::vector<std::string> paths;
    int32_t n = block_t::length_at(block);
    for (int32_t i = 0; i < n; ++i) {
        Cell item = *block_t::cell_at(block, block.w1 + uint32_t(i));
        if (type_of(item) != type_file && type_of(item) != type_string)
            raise_error(err_cat::script, err_id::script::invalid_arg, &item);
        paths.push_back(file_t::to_local_path(item));
    }
    return paths;
}

}  // namespace

Status read_clipboard(Cell* args, uint32_t) {
    clipboard::Content content;
    if (!clipboard::read(content)) {
        args[0] = logic_t::value_of(false);
        return Status::ok;
    }
    switch (content.kind) {
        case clipboard::Content::Kind::text: {
            stack::Mark mark;
            Cell text = *push_text(content.text, type_string);
            mark.restore();
            args[0] = text;
            break;
        }
        case clipboard::Content::Kind::files: args[0] = files_block(content.files); break;
        // Image data: none until an image! can be made from its bytes.
        case clipboard::Content::Kind::image:
        case clipboard::Content::Kind::empty: args[0] = none_t::value; break;
    }
    return Status::ok;
}

Status write_clipboard(Cell* args, uint32_t) {
    clipboard::Content content;
    switch (type_of(args[0])) {
        case type_none: break;
        case type_string: {
            natives_io::ByteView bytes = natives_io::text_bytes(args[0]);
            content.kind = clipboard::Content::Kind::text;
            content.text.assign(reinterpret_cast<const char*>(bytes.data), bytes.size);
            break;
        }
        case type_block:
            content.kind = clipboard::Content::Kind::files;
            content.files = paths_of(args[0]);
            break;
        default: raise_error(err_cat::script, err_id::script::invalid_arg, &args[0]);
    }
    args[0] = logic_t::value_of(clipboard::write(content));
    return Status::ok;
}

}  // namespace vyr::library
