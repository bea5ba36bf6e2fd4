// A file line of the manifest as a run reads it: its fields counted from the
// end (path, MD5 digest and the copy's size, then the SHA-256 and the
// content's size that newer publishers put in front), and the bounds they set
// on the bytes of its copy and of the content the copy unpacks to.
#pragma once

#include "Limits.h"

#include <cstdint>
#include <string>

// The fields of a file entry: path, digest and size, the SHA-256 digest in
// front of them (empty when there is none; only signed trees must have one),
// and in front of that the size of the content itself, which bounds what the
// copy may unpack to (-1: the line gives none).
struct FileEntry {
    std::string path, digest, size, sha256;
    std::int64_t contentSize = -1;
};

// An entry without path, digest and size cannot be processed at all: raises
// Exception. A content size is taken only from a plain decimal number in
// front of a SHA-256; anything else there is some other field in front of
// the ones read, as lines may carry, and bounds nothing.
FileEntry SplitFileEntry(const std::string& entry);

// The size field as a number; raises EConvertError when it is none, or
// negative.
std::int64_t SizeField(const FileEntry& entry);

// The bytes an entry's copy may take: its size field, or less when its
// content could not have grown to that in bzip2.
limits::TSizeLimit CopyLimit(const FileEntry& entry);

// The bytes an entry's copy may unpack to: its content size, or what bzip2
// can make of a copy of its size at most.
limits::TSizeLimit ContentLimit(const FileEntry& entry);
