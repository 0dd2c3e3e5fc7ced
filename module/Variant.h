// Variant.h: a VARIANT that is cleared when it goes.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace kalvora {

struct Variant : VARIANT {
    Variant() noexcept { VariantInit(this); }
    ~Variant() { VariantClear(this); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    void Clear() noexcept { VariantClear(this); }
};

}  // namespace kalvora
