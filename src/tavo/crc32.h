#pragma once

#include <cstddef>
#include <cstdint>

namespace tavo {

// CRC-32 of the IEEE 802.3 polynomial (reflected 0xEDB88320, initial value and final XOR
// 0xFFFFFFFF), the same checksum zlib and PNG use. crc32("123456789") == 0xCBF43926.
uint32_t crc32(const void *data, size_t size);

} // namespace tavo
