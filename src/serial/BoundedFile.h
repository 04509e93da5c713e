#pragma once

#include <cstdint>
#include <string>

namespace qx200 {

// Plain C++, so that the simulator reads its files without Qt.
struct FileRead {
    std::string bytes;
    // Why the file was not read, to follow its path and a colon ("cannot read: Permission
    // denied", "not a regular file"); empty when it was.
    std::string error;
};

// Reads a whole regular file of at most maxBytes. Opening never waits (a FIFO without a writer
// is refused at once, not waited on), and a device, a FIFO or a folder is refused before a byte
// is read, as is a file larger than the bound, however sparse.
FileRead readRegularFile(const std::string& path, std::int64_t maxBytes);

} // namespace qx200
