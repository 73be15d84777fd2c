#pragma once
// The applications a control of the Windows component drives: PowerPoint and Word through their
// own automation servers where they are installed, the native engines where they are not.
#include <memory>

#include "office/object_model.hpp"

namespace quorvane::com {

// Per application: when its ProgID ("PowerPoint.Application", "Word.Application") is registered,
// each creation makes a new instance of its local server (CoCreateInstance) and drives it
// late-bound through IDispatch (office/late_bound.hpp); a server that is registered but cannot be
// created fails with 429 and its HRESULT's text, as the office's own hosts see it. When the ProgID
// is not registered, the native engines answer. The choice is made at each creation, so an office
// installed while a control lives is used from its next conversion on.
std::shared_ptr<office::ApplicationProvider> ApplicationsForControl();

}  // namespace quorvane::com
