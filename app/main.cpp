#include "app/Dispatcher.h"

#if defined(QUORL_EDITION_COMPACT)
constexpr Edition kEdition = Edition::Compact;
#else
constexpr Edition kEdition = Edition::Standard;
#endif

int main(int argc, char** argv) { return RunApp(argc, argv, kEdition); }
