// The clipboard: text, lists of files and encoded images exchanged with the
// desktop's clipboard. Behind `read-clipboard` and `write-clipboard`.
//
// With a Wayland display (WAYLAND_DISPLAY) and wl-clipboard installed, the
// clipboard is the compositor's, reached through wl-copy and wl-paste; with
// an X display (DISPLAY) and xclip installed, it is the X CLIPBOARD
// selection, reached through xclip. Otherwise it is a store kept by this
// process, with the same contract, so scripts behave alike with or without
// a desktop. The back end is chosen at each call, from the environment as it
// is then.
//
// The module knows bytes and paths only; the routines turn values into
// contents and back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vyr::clipboard {

// What the clipboard holds. Read text has LF line ends; files are local
// paths; an image is the bytes of an image file (PNG, JPEG or GIF when read,
// PNG when written).
struct Content {
    enum class Kind : uint8_t { empty, text, files, image };
    Kind kind = Kind::empty;
    std::string text;                // kind text: UTF-8
    std::vector<std::string> files;  // kind files
    std::vector<uint8_t> image;      // kind image
};

// Reads the clipboard into `out`, preferring a list of files, then text,
// then an image; kind empty when it holds none of them. False when the
// clipboard cannot be reached or its data cannot be fetched.
bool read(Content& out);

// Replaces what the clipboard holds; an empty content empties it. False when
// the clipboard cannot be reached.
bool write(const Content& in);

}  // namespace vyr::clipboard
