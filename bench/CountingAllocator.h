// The benchmarks' count of global operator new calls, for the "heap per
// operation" figures. The replacement operators live in their own source
// file so that no caller inlines them. Under AddressSanitizer, which owns the
// allocator, nothing is replaced and the count stays 0.
#pragma once

#include <cstdint>

std::uint64_t heapAllocationCount() noexcept;
