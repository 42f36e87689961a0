#pragma once
// Implemented features:
// - a control's accessible properties (description, value, role) set through
//   the system's dynamic annotation (IAccPropServices), so that screen
//   readers read them on demand; no event is raised, so nothing is
//   announced while they change
#include <windows.h>

#include <oleacc.h>
#include <wrl/client.h>

#include <string>
#include <utility>
#include <vector>

// The annotations of one control. Window thread only, in a COM apartment
// that outlives the object.
class AccessibleAnnotation {
public:
    // Gives `control` the text `property` (PROPID_ACC_DESCRIPTION,
    // PROPID_ACC_VALUE...); the same text again costs nothing.
    void setText(HWND control, const MSAAPROPID& property, const std::wstring& text);
    // Gives `control` a role (ROLE_SYSTEM_...) in place of its class's own.
    void setRole(HWND control, long role);
    // Takes every annotation off `control`; call it before the control is destroyed.
    void clear(HWND control);

private:
    // False where the system has no annotation service.
    bool ready();

    // Created at the first annotation.
    Microsoft::WRL::ComPtr<IAccPropServices> services_;
    // What `control` holds now, by property.
    std::vector<std::pair<MSAAPROPID, std::wstring>> texts_;
    bool roleSet_ = false;
};
