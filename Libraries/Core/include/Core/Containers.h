#pragma once

// The engine's container templates in one include.
#include "Core/Array.h"
#include "Core/ArrayHeap.h"
#include "Core/ArrayStack.h"
#include "Core/DynArray.h"
#include "Core/MemoryFactory.h"
#include "Core/SCList.h"
