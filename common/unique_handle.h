// Move-only owner for Win32 handles, told apart by their invalid value, and a
// scope guard. One template instead of a wrapper per handle kind.
#pragma once

#include <windows.h>

#include <utility>

namespace kelvo {

// Traits name the handle type, its invalid value and how to close it. Traits
// with state (a close that goes through an object) are held by the owner.
template <typename Traits>
class UniqueHandle : private Traits {
public:
    using pointer = typename Traits::pointer;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(pointer value, Traits traits = Traits()) noexcept
        : Traits(std::move(traits)), value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : Traits(static_cast<Traits&&>(other)), value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
            static_cast<Traits&>(*this) = static_cast<Traits&&>(other);
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    // Gives up ownership, for handles that pass to a caller.
    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

    void reset(pointer value = Traits::invalid()) noexcept {
        pointer old = std::exchange(value_, value);
        if (old != Traits::invalid()) {
            this->close(old);
        }
    }

private:
    pointer value_ = Traits::invalid();
};

struct KernelHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};

// CreateFile reports failure with INVALID_HANDLE_VALUE, not NULL.
struct FileHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};

// FindFirstFile's search handle.
struct FindHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::FindClose(h); }
};

struct RegKeyTraits {
    using pointer = HKEY;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::RegCloseKey(h); }
};

using unique_handle = UniqueHandle<KernelHandleTraits>;
using unique_hkey = UniqueHandle<RegKeyTraits>;
using unique_hfile = UniqueHandle<FileHandleTraits>;
using unique_hfind = UniqueHandle<FindHandleTraits>;

template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (armed_) {
            f_();
        }
    }
    void dismiss() noexcept { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

template <typename F>
ScopeExit<F> scope_exit(F f) noexcept {
    return ScopeExit<F>(std::move(f));
}

}  // namespace kelvo
