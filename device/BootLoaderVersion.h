#pragma once
// The boot loader's version as its status value carries it. Pure.

#include <cstdint>
#include <string>

namespace fwup {

// "v.v.v.v" from the low four bits of each byte of the boot loader's status value,
// the highest byte first (0x1A2B3C4D: "10.11.12.13"), as unit records keep it.
std::string BootLoaderVersion(int32_t nBootInfo);

} // namespace fwup
