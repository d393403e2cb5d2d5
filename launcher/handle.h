// Owning wrappers for the handle kinds the launcher opens. Each closes its
// resource exactly once, on every path out of the scope that opened it.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <winhttp.h>

#include <utility>

// Traits give the invalid value and the close function of one handle kind.
template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type value) : value_(value) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(std::exchange(other.value_, Traits::Invalid())) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            value_ = std::exchange(other.value_, Traits::Invalid());
        }
        return *this;
    }

    [[nodiscard]] Type Get() const { return value_; }
    [[nodiscard]] bool Valid() const { return value_ != Traits::Invalid(); }
    // For out-parameters: releases what is held and hands out the slot.
    Type* Put()
    {
        Reset();
        return &value_;
    }
    // Gives up ownership: the caller closes what it gets.
    [[nodiscard]] Type Release() { return std::exchange(value_, Traits::Invalid()); }
    void Reset()
    {
        if (Valid()) {
            Traits::Close(value_);
        }
        value_ = Traits::Invalid();
    }

private:
    Type value_ = Traits::Invalid();
};

struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type value) { CloseHandle(value); }
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type value) { CloseHandle(value); }
};

// A mutex this thread owns: released, then closed.
struct OwnedMutexTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type value)
    {
        ReleaseMutex(value);
        CloseHandle(value);
    }
};

// A search begun by FindFirstFileExW.
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type value) { FindClose(value); }
};

struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() { return nullptr; }
    static void Close(Type value) { WinHttpCloseHandle(value); }
};

struct CoTaskStringTraits {
    using Type = PWSTR;
    static Type Invalid() { return nullptr; }
    static void Close(Type value) { CoTaskMemFree(value); }
};

template <typename Interface>
struct ComTraits {
    using Type = Interface*;
    static Type Invalid() { return nullptr; }
    static void Close(Type value) { value->Release(); }
};

using FileHandle = UniqueHandle<FileHandleTraits>;      // CreateFileW
using KernelHandle = UniqueHandle<KernelHandleTraits>;  // processes and threads
using OwnedMutex = UniqueHandle<OwnedMutexTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using InternetHandle = UniqueHandle<InternetHandleTraits>;
using CoTaskString = UniqueHandle<CoTaskStringTraits>;
template <typename Interface>
using ComPtr = UniqueHandle<ComTraits<Interface>>;
