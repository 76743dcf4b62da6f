// A WNASPI32 with only one of its two entry points, for the binding test.
#include <cstdint>

extern "C" __declspec(dllexport) uint32_t GetASPI32SupportInfo() { return 0x0100; }
