#pragma once

// Changes some of a graph part's options (the preview's or the capture's)
// and hands them back: editOptions(cam.Capture(), [](auto& o) { ... }).

namespace kadtest {

template <class Part, class Edit> void editOptions(Part& part, Edit&& edit)
{
    auto options = part.Options();
    edit(options);
    part.SetOptions(options);
}

} // namespace kadtest
