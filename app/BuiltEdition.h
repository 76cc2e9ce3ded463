// The edition an executable is built as, decided here once from its compile
// definition: QUORL_EDITION_COMPACT makes the compact edition, anything else
// the standard one. Only the executables' main() files include this; the
// product library takes the edition as a value.
#pragma once

#include "app/Edition.h"

#if defined(QUORL_EDITION_COMPACT)
constexpr Edition kBuiltEdition = Edition::Compact;
#else
constexpr Edition kBuiltEdition = Edition::Standard;
#endif
