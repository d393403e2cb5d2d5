// The few pieces of the C++ runtime the launcher's file needs, without the
// runtime's exception machinery. The launcher is built without exceptions,
// so libstdc++'s throw helpers and its throwing operator new could only end
// the process anyway; linking libstdc++'s own would pull in its exception
// classes, the verbose terminate handler and the demangler (over 100 KB).
// Defined here, those archive members are never pulled in; a new helper the
// code starts to use brings libstdc++'s whole set back, which then clashes
// with these definitions at link time instead of growing the file unseen.
// Only the launcher's executable links this file: the tests, with
// exceptions, keep the standard runtime. MSVC's runtime needs none of it.
#if !defined(_MSC_VER)

#include <windows.h>

#include <cstddef>
#include <new>

namespace {

// Running out of memory (or a length no string can hold) ends the process
// at once, with the exit code abort() gives: no box, no clean-up.
[[noreturn]] void EndProcess()
{
    TerminateProcess(GetCurrentProcess(), 3);
    __builtin_unreachable();
}

}  // namespace

void* operator new(std::size_t size)
{
    // The heap every Win32 program already has; new of 0 bytes still gives a
    // unique pointer.
    void* block = HeapAlloc(GetProcessHeap(), 0, size == 0 ? 1 : size);
    if (block == nullptr) {
        EndProcess();
    }
    return block;
}

void operator delete(void* block) noexcept
{
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
    }
}

void operator delete(void* block, std::size_t /*size*/) noexcept
{
    operator delete(block);
}

// The throw helpers libstdc++'s containers call: their names and signatures
// are libstdc++'s own (bits/functexcept.h).
// NOLINTBEGIN(cert-dcl58-cpp,cert-dcl50-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
namespace std {

void __throw_bad_alloc()
{
    EndProcess();
}

void __throw_bad_array_new_length()
{
    EndProcess();
}

void __throw_length_error(const char* /*what*/)
{
    EndProcess();
}

void __throw_logic_error(const char* /*what*/)
{
    EndProcess();
}

void __throw_out_of_range_fmt(const char* /*format*/, ...)
{
    EndProcess();
}

}  // namespace std
// NOLINTEND(cert-dcl58-cpp,cert-dcl50-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

#endif
