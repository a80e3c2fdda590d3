// A suite whose case folding follows the updater's process locale, set once before its tests.
#pragma once

#include "support/process_locale.h"

#include <gtest/gtest.h>

class ProcessLocaleSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { setProcessLocale(); }
};
