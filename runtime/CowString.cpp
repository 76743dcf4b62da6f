// The library's exception classes (std::logic_error and its kin, thrown by the string
// and vector members on a length or range fault) hold the old copy-on-write string.
// Instantiated here, its members are not taken from the library's prebuilt copy, whose
// object file also brings std::random_device with its RDRAND and RDSEED (beyond either
// program's processor floor) and, in the i686 toolchain, CMOV in every member.
#define _GLIBCXX_USE_CXX11_ABI 0
#include <string>

template class std::basic_string<char>;
