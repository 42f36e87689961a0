#pragma once
// Implemented features:
// - a control's accessible description, set through the system's dynamic
//   annotation (IAccPropServices), so that screen readers read it on demand;
//   no event is raised, so nothing is announced while it changes
#include <windows.h>

#include <oleacc.h>
#include <wrl/client.h>

#include <string>

// Window thread only, in a COM apartment that outlives the object.
class AccessibleDescription {
public:
    // Describes `control` as `text`; the same text again costs nothing.
    void set(HWND control, const std::wstring& text);
    // Takes the description off `control`; call it before the control is destroyed.
    void clear(HWND control);

private:
    // Created at the first description; stays null where the system has none.
    Microsoft::WRL::ComPtr<IAccPropServices> services_;
    std::wstring text_;
};
