// What the C++ library would throw, qvrc.exe reports and ends on: the heap is exhausted (the run
// ends on a whole result and says so), or a container was asked for more than it can hold (a
// fault of the program's own). With these (and cli_runtime_win.h), no part of the library's
// exception runtime is linked.
#include "cli_platform.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fputs("qvrc: ", stderr);
    std::fputs(what, stderr);
    std::fputs("\n", stderr);
    std::abort();
}

} // namespace

void* operator new(std::size_t size)
{
    if (void* memory = std::malloc(size != 0 ? size : 1))
        return memory;
    OnCliOutOfMemory();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

// The library's throwing helpers, as its documentation allows a program without exceptions to
// define them.
namespace std {

void __throw_bad_alloc()
{
    OnCliOutOfMemory();
}

void __throw_bad_array_new_length()
{
    OnCliOutOfMemory();
}

void __throw_length_error(const char* what)
{
    Fail(what);
}

void __throw_logic_error(const char* what)
{
    Fail(what);
}

void __throw_out_of_range_fmt(const char* what, ...)
{
    Fail(what);
}

} // namespace std
