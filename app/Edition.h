// The two editions differ only in the form of the full radio reflash ("-s").
#pragma once

enum class Edition { Standard, Compact };
