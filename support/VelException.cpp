#include "support/VelException.h"

#include "platform/WideText.h"

void VelException::makeWhat() { what_ = tev::ToStdUtf8(message_); }
