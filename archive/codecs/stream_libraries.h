// Single-stream compressors decoded through the libraries made for them:
// bzip2 (libbz2), XZ and LZMA-alone (liblzma), Zstandard (libzstd). Each
// decodes every stream that follows the first one (as their own tools do for
// concatenated files) and checks what the format checks (bzip2's block and
// stream CRCs, XZ's check, Zstandard's checksum where present).
#pragma once

#include "archive/codecs/byte_stream.h"

namespace dvl::codecs {

DecodeStatus DecodeBzip2(ByteSource& in, ByteSink& out);
DecodeStatus DecodeXz(ByteSource& in, ByteSink& out); // XZ and LZMA-alone
DecodeStatus DecodeZstd(ByteSource& in, ByteSink& out);

} // namespace dvl::codecs
