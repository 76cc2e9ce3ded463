// The listing as scripts read it: one JSON document.
#pragma once

#include <string>
#include <vector>

#include "devices/DeviceSurvey.h"

// {"devices":[{"kind", "state", "vendorId", "productId", "release", "serial",
// "product", "path", "access"}, ...]}: IDs as 4 lower-case hexadecimal
// digits, the release as major.minor, null for a string the device does not
// give, access "ok", "denied", "failed" or "unknown" (a serial port on
// Windows, never opened). Indented, ends without a newline.
std::string ListingJson(const std::vector<ListedDevice>& devices);

// One arrival or removal as a line of JSON: {"event", then the fields above
// but access}, event "arrived" or "removed". One line, no newline.
std::string DeviceEventJson(const std::string& event, const ListedDevice& device);
