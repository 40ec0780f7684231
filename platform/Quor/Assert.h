// Fatal assertions of the entity runtime: Vesk/Assert.h under the runtime's
// spelling (QUOR_ASSERT, QUOR_ASSERT_MSG, QUOR_ASSERT_TEXT,
// QUOR_ASSERT_TEXT_MSG).
#pragma once

#include "Vesk/Assert.h"

#define QUOR_ASSERT(condition) VESK_ASSERT(condition)
#define QUOR_ASSERT_MSG(condition, message) VESK_ASSERT_MSG(condition, message)
#define QUOR_ASSERT_TEXT(condition, text) VESK_ASSERT_TEXT(condition, text)
#define QUOR_ASSERT_TEXT_MSG(condition, text, message) \
  VESK_ASSERT_TEXT_MSG(condition, text, message)
