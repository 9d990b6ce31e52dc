#pragma once
#include "measurement/messages/Upward.h"
#include <vector>
#include "Beside.h"
