#pragma once
#include "measurement/base/Thing.h"
#include "measurement/features/Feature.h"
