// What the C++ library does when it cannot go on, for the launcher and the
// self-extracting runtime, which travel in every installer.
//
// Both report by return value and catch none of these, so an exception
// the library would throw (memory exhausted, a string beyond its largest
// size) can only end the run. Defining the library's throw helpers and its
// default terminate handler here ends it at once with a line on standard
// error, and keeps out of the programs that every installer carries what
// the library's own versions bring along: its exception classes with a second
// string implementation, and a whole C++ demangler for the terminate message.

#include <cstdio>
#include <cstdlib>

namespace {
[[noreturn]] void giveUp(const char* what) {
    std::fprintf(stderr, "fatal error: %s\n", what);
    std::fflush(stderr);
    std::abort();
}
} // namespace

namespace __gnu_cxx {
void __verbose_terminate_handler();
void __verbose_terminate_handler() { giveUp("internal error"); }
} // namespace __gnu_cxx

namespace std {
[[noreturn]] void __throw_bad_alloc() { giveUp("out of memory"); }
[[noreturn]] void __throw_bad_array_new_length() { giveUp("out of memory"); }
[[noreturn]] void __throw_bad_cast() { giveUp("bad cast"); }
[[noreturn]] void __throw_bad_typeid() { giveUp("bad typeid"); }
[[noreturn]] void __throw_bad_exception() { giveUp("bad exception"); }
[[noreturn]] void __throw_logic_error(const char* what) { giveUp(what); }
[[noreturn]] void __throw_domain_error(const char* what) { giveUp(what); }
[[noreturn]] void __throw_invalid_argument(const char* what) { giveUp(what); }
[[noreturn]] void __throw_length_error(const char* what) { giveUp(what); }
[[noreturn]] void __throw_out_of_range(const char* what) { giveUp(what); }
[[noreturn]] void __throw_out_of_range_fmt(const char* what, ...) { giveUp(what); }
[[noreturn]] void __throw_runtime_error(const char* what) { giveUp(what); }
[[noreturn]] void __throw_range_error(const char* what) { giveUp(what); }
[[noreturn]] void __throw_overflow_error(const char* what) { giveUp(what); }
[[noreturn]] void __throw_underflow_error(const char* what) { giveUp(what); }
} // namespace std
