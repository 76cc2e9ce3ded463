// File permissions that hold for the test as for a user (POSIX only).
#pragma once

#include <string>

// Makes reads that permissions deny fail while it lives. Root reads past
// permissions, so as root the effective user is nobody meanwhile.
class PermissionsEnforced {
public:
    PermissionsEnforced();
    ~PermissionsEnforced();
    PermissionsEnforced(const PermissionsEnforced&) = delete;
    PermissionsEnforced& operator=(const PermissionsEnforced&) = delete;
    // False when running as root without the right to change the effective user.
    bool Usable() const { return usable; }

private:
    bool dropped = false;
    bool usable = true;
};

// Whether opening the file for reading is refused for want of permission.
bool ReadingIsDenied(const std::string& path);
