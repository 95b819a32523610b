// The same cases in C++: it must compile the public header too.
#include "plugin.c"
