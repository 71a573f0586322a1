// VYRBIN: the binary serialisation of Vyr values.
//
// An image is "VYRBIN", a version byte, a flags byte (bit 0 compact encoding,
// bit 1 payload LZ77-compressed, bit 2 symbol table present), then the
// payload: the root record count, the records length, the symbol table when
// flagged, and the records, each the encoding of one value. The standard
// encoding writes every field as a 32-bit little-endian word (data padded to
// whole words); the compact encoding uses bytes and LEB128 integers, with
// one-byte forms for small integers and logic values.
//
// Every series, context and function is written once; a later occurrence of
// the same buffer or context is written as an index path (a walk from the
// decoded root values through elements, fields, spec and body) to where it
// was first written, so shared structure and cycles survive a round trip.
//
// The decoder has two modes. Codec mode serves data from scripts and trusts
// nothing in it: every count, index, symbol, type and path is checked and a
// bad record raises the script error "VYRBIN - invalid record at index" with
// the position of the failing byte (1-based, from the first magic byte).
// Boot mode decodes the program's own boot image: a bad magic or damaged
// compressed data ends the process, set-word records set words and vanish
// from the result, and every series it makes carries the boot-origin flag.
//
// Decoding appends values to a block and never evaluates, so no collection
// runs while it works; the target block must be reachable by the caller.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "runtime/cell.h"

namespace vyr::vyrbin {

inline constexpr uint8_t flag_compact = 1;
inline constexpr uint8_t flag_compressed = 2;
inline constexpr uint8_t flag_symbols = 4;
inline constexpr uint8_t writer_version = 2;

enum class Mode : uint8_t { boot, codec };

// Set by the writers and by the codec's decode; cleared by boot decoding.
extern bool codec_q;

// Decodes one image and appends its root values to the target block (its
// buffer's tail). `argument` is the value the errors name for a bad magic,
// bad compressed data or a short input (the image as a binary! when null).
void decode(std::span<const uint8_t> image, const Cell& target, Mode mode, const Cell* argument = nullptr);

// The image of one value: compact or standard encoding, always with a symbol
// table when the value holds words. Raises the access error `no-codec` for
// values that cannot be written (routine!, triple!, handle!, port! and
// event!).
std::vector<uint8_t> encode(const Cell& value, bool compact);
// One image holding each value as a root record, in order (the boot image).
std::vector<uint8_t> encode_roots(std::span<const Cell> values, bool compact);

// Start-up's decoding of the boot image, in boot mode, into the block that
// `target` holds (a cell the collector sees: the block may move). After each
// root record, `each` runs with the record's number (from 0) and the value
// appended last; collection is off while records are decoded and as it was
// while `each` runs, so `each` may evaluate. A damaged image ends the process
// with a message and status 1.
using EachRoot = void (*)(uint32_t index, const Cell& value);
void decode_boot(std::span<const uint8_t> image, const Cell* target, EachRoot each);

}  // namespace vyr::vyrbin
