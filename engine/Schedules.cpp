#include "engine/Schedules.h"

Schedules::Schedules() = default;
Schedules::~Schedules() = default;
