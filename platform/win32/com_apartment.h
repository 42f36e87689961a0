#pragma once
// Implemented features:
// - COM on the calling thread for the guard's lifetime, in the apartment asked
//   for: single-threaded for a thread with windows and a message loop,
//   multithreaded for a worker that pumps no messages
#include <objbase.h>

// Only a successful CoInitializeEx is balanced: a thread already in another
// apartment still has working COM, and must not lose it to our CoUninitialize.
class ComApartment {
public:
    explicit ComApartment(COINIT model) : entered_(SUCCEEDED(CoInitializeEx(nullptr, model))) {}
    ~ComApartment() {
        if (entered_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool entered_;
};
