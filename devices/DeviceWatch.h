// quorl-devices --watch: the devices of the family as they come and go.
#pragma once

// Prints the devices present as arrivals, then each removal and arrival as
// it happens, one line each and flushed, until the program is asked to stop
// (Ctrl+C, SIGTERM); 0 then. Surveys only when the platform's USB watch says
// something changed, and opens no device. A device that changes its product
// ID (a unit restarting into its bootloader), its node or its serial number
// shows as a removal and an arrival. With json, each line is a JSON object
// (ListingJson.h's DeviceEventJson).
int WatchDevices(bool json);
