#include "accessible_description.h"

void AccessibleDescription::set(HWND control, const std::wstring& text) {
    if (control == nullptr || text == text_) return;
    if (services_ == nullptr &&
        FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                reinterpret_cast<void**>(services_.GetAddressOf())))) {
        return;
    }
    if (SUCCEEDED(services_->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                            PROPID_ACC_DESCRIPTION, text.c_str()))) {
        text_ = text;
    }
}

void AccessibleDescription::clear(HWND control) {
    if (services_ == nullptr || text_.empty()) return;
    MSAAPROPID property = PROPID_ACC_DESCRIPTION;
    services_->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &property, 1);
    text_.clear();
}
