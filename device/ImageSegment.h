#pragma once
// An image in memory: a singly linked list of segments, at most one per device
// address, owning their bytes. The list head owns the whole chain.

#include <cstdint>
#include <memory>
#include <vector>

namespace fwup {

struct ImageSegment {
    uint32_t dwAddress = 0;              // device address of the first byte
    int32_t nLength = 0;                 // bytes actually read from the file
    std::vector<uint8_t> pData;          // the bytes
    std::unique_ptr<ImageSegment> pNext; // next segment of the same image
};

using ImageList = std::unique_ptr<ImageSegment>;

} // namespace fwup
