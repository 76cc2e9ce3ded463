#include "app/BuiltEdition.h"
#include "app/Dispatcher.h"

int main(int argc, char** argv) { return RunApp(argc, argv, kBuiltEdition); }
