#pragma once
// Implemented features:
// - COM on the calling thread for the guard's lifetime (a single-threaded apartment)
#include <objbase.h>

// Only a successful CoInitializeEx is balanced: a thread already in another
// apartment still has working COM, and must not lose it to our CoUninitialize.
class ComApartment {
public:
    ComApartment() : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (entered_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool entered_;
};
