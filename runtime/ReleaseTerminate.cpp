// The shipped program's reaction to an exception that nothing catches: end at once, as
// the C++ runtime's own handler does after it has printed the exception's type to
// standard error. A GUI program has no standard error on Windows, so that print is never
// seen, while its name demangler is a sixth of the exe. Defining the handler here keeps
// the runtime's copy, and the demangler with it, out of the link. The test trees keep the
// printing handler: under Wine its output reaches the test logs.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

}  // namespace __gnu_cxx
