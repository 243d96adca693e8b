// The camera settings a profile file holds, as a table of names with their getter and setter
// on the camera session: saving reads every row, loading applies the rows the file has, in
// table order (the frame shape first, so exposure limits and filters meet the final format).
#pragma once

#include <string>
#include <vector>

#include "CameraSession.h"
#include "SettingsProfile.h"

namespace lumora_viewer {

SettingsProfile CollectProfile(CameraSession& camera);

// Applies what the profile names and the camera accepts; each value that is malformed, out of
// range or refused is described in the result ("gain: ..."), and unknown names are reported.
std::vector<std::string> ApplyProfile(CameraSession& camera, const SettingsProfile& profile);

}  // namespace lumora_viewer
