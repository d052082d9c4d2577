// The installed-library user's C program compiled as C++98: mint.h must be
// valid C++ of every version, not only the C++20 of this tree.
#include "install/c_consumer/consumer.c"
