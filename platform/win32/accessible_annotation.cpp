#include "accessible_annotation.h"

#include <algorithm>

bool AccessibleAnnotation::ready() {
    return services_ != nullptr ||
           SUCCEEDED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IAccPropServices,
                                      reinterpret_cast<void**>(services_.GetAddressOf())));
}

void AccessibleAnnotation::setText(HWND control, const MSAAPROPID& property, const std::wstring& text) {
    const auto held =
        std::find_if(texts_.begin(), texts_.end(), [&](const auto& t) { return t.first == property; });
    if (control == nullptr || (held != texts_.end() && held->second == text) || !ready()) return;
    if (FAILED(services_->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, property,
                                         text.c_str())))
        return;
    if (held != texts_.end())
        held->second = text;
    else
        texts_.emplace_back(property, text);
}

void AccessibleAnnotation::setRole(HWND control, long role) {
    VARIANT value{};
    value.vt = VT_I4;
    value.lVal = role;
    if (control != nullptr && ready() &&
        SUCCEEDED(services_->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                         PROPID_ACC_ROLE, value)))
        roleSet_ = true;
}

void AccessibleAnnotation::clear(HWND control) {
    std::vector<MSAAPROPID> properties;
    for (const auto& text : texts_) properties.push_back(text.first);
    if (roleSet_) properties.push_back(PROPID_ACC_ROLE);
    if (services_ != nullptr && !properties.empty())
        services_->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, properties.data(),
                                  static_cast<int>(properties.size()));
    texts_.clear();
    roleSet_ = false;
}
