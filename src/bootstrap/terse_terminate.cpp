// The C++ library's default handler for an uncaught exception prints the
// exception's demangled type, and with it links a whole C++ demangler into a
// program that every installer carries. The launcher lets no exception
// escape, so ending at once is enough; this definition takes the place of
// the library's verbose handler and keeps the demangler out.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler();
void __verbose_terminate_handler() { std::abort(); }
} // namespace __gnu_cxx
