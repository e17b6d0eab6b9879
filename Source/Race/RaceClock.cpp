#include "Race/RaceClock.h"

#include <mmsystem.h>

RaceClock gRaceClock = timeGetTime;
