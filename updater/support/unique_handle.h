// Owners of Windows handles and system-allocated memory: one template, parameterised by a traits
// type that says how a handle dies and which value counts as "none". Closing keeps the thread's
// last error, so an error code read after cleanup is still the one of the failing call.
#pragma once

#include <windows.h>

#include <memory>
#include <utility>

template <typename Traits>
class UniqueResource {
public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    Value get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::invalid(); }

    Value release() { return std::exchange(value_, Traits::invalid()); }
    void reset(Value value = Traits::invalid()) {
        if (value_ != Traits::invalid()) {
            const DWORD lastError = GetLastError();
            Traits::close(value_);
            SetLastError(lastError);
        }
        value_ = value;
    }

private:
    Value value_ = Traits::invalid();
};

struct KernelHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return nullptr; }
    static void close(Value h) { CloseHandle(h); }
};

struct FileHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Value h) { CloseHandle(h); }
};

struct FindHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Value h) { FindClose(h); }
};

// Processes, mutexes, events: null when empty.
using UniqueHandle = UniqueResource<KernelHandleTraits>;
// Files and process snapshots: INVALID_HANDLE_VALUE when empty.
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
// Directory listings of FindFirstFileW.
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

// Memory that the system allocated with LocalAlloc for the caller (FormatMessageW's buffer,
// CommandLineToArgvW's array, access lists and security descriptors): LocalFree.
struct LocalFreeDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T>
using UniqueLocalMemory = std::unique_ptr<T, LocalFreeDeleter>;

// A security identifier from AllocateAndInitializeSid: FreeSid.
struct FreeSidDeleter {
    void operator()(void* sid) const { FreeSid(sid); }
};
using UniqueSid = std::unique_ptr<void, FreeSidDeleter>;
