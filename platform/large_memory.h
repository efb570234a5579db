// Memory for large working buffers (the sorts of an index build, the
// batches handed between its threads), taken straight from the operating
// system and given straight back when freed. A buffer freed through the
// C library may stay with the allocator arena of the thread that freed it,
// so that work spread over threads would keep each thread's high-water
// mark; these buffers leave the process when they are freed, whichever
// thread took or frees them, and their pages use memory only once written.
#pragma once

#include <cstddef>

namespace strata::platform {

// Bytes (more than zero) of zeroed memory, aligned to a page; raises
// std::bad_alloc when the system refuses them.
void* AllocateLarge(std::size_t bytes);
// Gives back what AllocateLarge returned for the same number of bytes.
void FreeLarge(void* memory, std::size_t bytes) noexcept;

}  // namespace strata::platform
