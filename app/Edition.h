// The two editions differ only in the form of the full radio reflash ("-s").
#pragma once

enum class Edition { Standard, Compact };

// The edition as its users name it: "standard" or "compact".
inline const char* EditionName(Edition edition) {
    return edition == Edition::Compact ? "compact" : "standard";
}
