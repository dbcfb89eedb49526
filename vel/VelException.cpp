#include "vel/VelException.h"

#include "support/WideText.h"

void VelException::makeWhat() { what_ = tev::ToStdUtf8(message_); }
