// An ASPI library that lacks its command entry, for the program's "entry point missing"
// path. Only GetASPI32SupportInfo is exported (StubAspi.def).
#include <cstdint>

extern "C" uint32_t GetASPI32SupportInfo() {
    return 0x0100;  // usable, no host adapters
}
