#pragma once

// The little of COM the WASAPI layer needs: an owning interface pointer,
// memory the callee allocated, and its UTF-16 text as UTF-8.

#include <windows.h>
#include <objbase.h>

#include <string>
#include <utility>

#include "kova/cli/windows.h"

namespace kova::live::wasapi::detail {

template <class T>
class Com_Ptr {
public:
    Com_Ptr() = default;
    Com_Ptr(const Com_Ptr& other) : p_(other.p_)
    {
        if (p_)
            p_->AddRef();
    }
    Com_Ptr(Com_Ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Com_Ptr& operator=(Com_Ptr other) noexcept
    {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Com_Ptr() { reset(); }

    void reset()
    {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    // Lets go of the pointer without releasing it (a stream abandoned).
    void leak() { p_ = nullptr; }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For a call that fills in a new pointer: releases the old one first.
    T** put()
    {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    T* p_ = nullptr;
};

// Memory the callee allocated with CoTaskMemAlloc (an ID, a format).
template <class T>
class Task_Memory {
public:
    Task_Memory() = default;
    Task_Memory(const Task_Memory&) = delete;
    Task_Memory& operator=(const Task_Memory&) = delete;
    ~Task_Memory() { CoTaskMemFree(p_); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** put()
    {
        CoTaskMemFree(std::exchange(p_, nullptr));
        return &p_;
    }

private:
    T* p_ = nullptr;
};

// A string the system hands over, as UTF-8; empty for none.
inline std::string to_utf8(const wchar_t* text)
{
    return text ? cli::windows::to_utf8(text) : std::string();
}

}  // namespace kova::live::wasapi::detail
