// zstd frames as the chunk store holds its chunks: compression for the
// publisher, and decompression held to the size that a chunk's index lists,
// so that a frame which would unpack to more (a bomb, or a store that does
// not hold what it names) is refused without more than that size in memory.
#pragma once

#include "Errors.h"

#include <cstddef>
#include <string>
#include <string_view>

class EZstdError : public Exception {
public:
    using Exception::Exception;
};

// One zstd frame holding `data`, with its content size and checksum, at the
// compression level given (1 to 19).
std::string ZstdCompress(std::string_view data, int level);

// The content of `frame`, which must be one whole zstd frame and nothing
// else, unpacking to exactly `size` bytes. Raises EZstdError naming what is
// wrong: not one zstd frame, damaged, or unpacking to another size. Never
// writes beyond `size` bytes, whatever the frame claims.
std::string ZstdDecompressExact(std::string_view frame, std::size_t size);
