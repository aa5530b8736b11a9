// Pack: decoder of the .z files of Unix `pack`, one static Huffman code over the bytes.
//
// Layout: magic 1F 1E; the original size (32 bits, big-endian); the number of levels of the
// code tree (its deepest code length, 1..25); per level the number of leaves at that depth, the
// deepest level's stored as two less; the leaves' byte values, level by level, the deepest
// level's last leaf left out: it is the end code. Then the codes, most significant bit first.
//
// Codes are canonical from the deepest level up: the deepest level's leaves take the values 0,
// 1, ... in their listed order (the end code last), and each shallower level continues from half
// the value that follows the level below it. The tree must be complete (every internal node has
// two children), and no byte may be listed twice.
//
// Exactly the stored number of bytes is decoded, and the code that follows must be the end code;
// the bits after it pad the last byte. Nothing after that is read.
//
// Corrupt: a wrong magic, a level count of 0 or above 25, more leaves than 256 bytes and the end
// code, an incomplete or over-full tree, a byte listed twice, the end code before the stored size
// or a byte where it belongs. Truncated: the input ends in the header or inside a code. Output
// leaves in pieces of 64 KiB (the last one shorter), never empty; after an error, every byte
// decoded before it has been handed over.
#pragma once

#include "archive/codecs/byte_stream.h"

namespace dvl::codecs {

DecodeStatus DecodePack(ByteSource& in, ByteSink& out);

} // namespace dvl::codecs
